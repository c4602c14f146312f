// WindowTest: the fixture the window tests share: the user's "AutoUpdate" saved and put back afterwards, the
// program started with its dialog awaited, and its clean end checked.
//
// Classes: WindowTest.
#pragma once

#include "tests/app/driver/TarvexDriver.h"
#include <gtest/gtest.h>

class WindowTest : public ::testing::Test {
public:
    static constexpr const char *kSettingsKey = kTarvexSettingsKey;
    static constexpr DWORD kStartMs = 30000;
    static constexpr DWORD kExitMs = 20000;

protected:
    WindowTest() : autoUpdate_(HKEY_CURRENT_USER, kSettingsKey, "AutoUpdate") {}

    void StartAndWait(TarvexDriver &driver, const char *arguments) {
        ASSERT_EQ(1, driver.Start(arguments)) << TarvexDriver::ProgramPath();
        ASSERT_EQ(1, driver.WaitForDialog(kStartMs))
            << "no dialog captioned " << TarvexDriver::ExpectedCaption() << " for " << arguments;
    }
    // The program ends by itself in time, with exit code 0.
    void ExpectClosedCleanly(TarvexDriver &driver) {
        DWORD code = 12345;
        ASSERT_EQ(1, driver.WaitForExit(kExitMs, &code));
        EXPECT_EQ(0u, code);
    }

    // The close path wrote the update box as expected (1 ticked, 0 not).
    void ExpectAutoUpdateStored(DWORD expected) {
        DWORD value = 77;
        ASSERT_EQ(1, ReadUserDword(kSettingsKey, "AutoUpdate", &value));
        EXPECT_EQ(expected, value);
    }

    SavedRegistryValue autoUpdate_;
};
