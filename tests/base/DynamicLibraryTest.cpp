// DynamicLibrary tests: missing libraries and symbols fail quietly, Load releases what was held, a table
// of functions is bound all or none.
#include "base/DynamicLibrary.h"

#include <gtest/gtest.h>

TEST(DynamicLibraryLoad, MissingLibraryFailsQuietly) {
    DynamicLibrary library;
    EXPECT_EQ(0, library.Load("tarvex-no-such-library.dll"));
    EXPECT_EQ(nullptr, library.Symbol("Anything"));
    ASSERT_EQ(1, library.Load("kernel32.dll"));
    EXPECT_NE(nullptr, library.Symbol("GetTickCount"));
    EXPECT_EQ(nullptr, library.Symbol("TarvexNoSuchExport"));
    // Load releases what was held before.
    EXPECT_EQ(0, library.Load("tarvex-no-such-library.dll"));
    EXPECT_EQ(nullptr, library.Handle());
}

TEST(DynamicLibraryBind, EverySlotOrNone) {
    typedef DWORD(WINAPI * NoArguments)();
    NoArguments first = nullptr, second = nullptr, third = nullptr;
    DynamicLibrary library;
    ASSERT_EQ(1, library.Load("kernel32.dll"));
    const FunctionSlot all[] = {FunctionSlot::For("GetTickCount", first),
                                FunctionSlot::For("GetCurrentProcessId", second)};
    ASSERT_EQ(1, library.BindAll(all, 2));
    EXPECT_EQ(GetCurrentProcessId(), second());
    EXPECT_NE(nullptr, first);
    // A name missing after a found one: every slot is empty afterwards, the one found before it too.
    const FunctionSlot gap[] = {FunctionSlot::For("GetTickCount", first),
                                FunctionSlot::For("TarvexNoSuchExport", second),
                                FunctionSlot::For("GetCurrentThreadId", third)};
    EXPECT_EQ(0, library.BindAll(gap, 3));
    EXPECT_EQ(nullptr, first);
    EXPECT_EQ(nullptr, second);
    EXPECT_EQ(nullptr, third);
}
