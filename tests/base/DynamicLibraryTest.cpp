// DynamicLibrary tests: missing libraries and symbols fail quietly, Load releases what was held.
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
