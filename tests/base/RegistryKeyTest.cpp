// RegistryKey and the one-shot functions against real keys below a private HKEY_CURRENT_USER test key.
#include "base/OsVersion.h"
#include "base/RegistryKey.h"
#include "base/Wow64.h"
#include "base/TextString.h"
#include "tests/common/TestRegistry.h"
#include <gtest/gtest.h>
#include <string>

namespace {
class RegistryKeyTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(test_.Valid()); }
    std::string Path(const char *subkey = nullptr) const { return test_.PathOf(subkey); }
    // Opens the test key for reading, as the program's readers do.
    void OpenTestKey(RegistryKey &key) { ASSERT_EQ(1, key.Open(HKEY_CURRENT_USER, test_.Path())); }
    int MakeVolatileSubkey(const char *subkey) {
        HKEY child = nullptr;
        if (RegCreateKeyExA(test_.Handle(), subkey, 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr,
                            &child, nullptr) != ERROR_SUCCESS)
            return 0;
        RegCloseKey(child);
        return 1;
    }

    ScopedTestKey test_{"RegistryKey"};
};
} // namespace

// --- Opening, creating, closing -------------------------------------------------------------------------

TEST_F(RegistryKeyTest, OpenOfMissingKeyFailsAndLeavesNoHandle) {
    RegistryKey key;
    EXPECT_EQ(0, key.Open(HKEY_CURRENT_USER, Path("Missing").c_str()));
    EXPECT_EQ(nullptr, key.Handle());
}

TEST_F(RegistryKeyTest, OpenReleasesThePreviousKeyEvenWhenItFails) {
    RegistryKey key;
    OpenTestKey(key);
    ASSERT_NE(nullptr, key.Handle());
    EXPECT_EQ(0, key.Open(HKEY_CURRENT_USER, Path("Missing").c_str()));
    EXPECT_EQ(nullptr, key.Handle());
}

TEST_F(RegistryKeyTest, OpenIsReadOnly) {
    RegistryKey key;
    OpenTestKey(key);
    EXPECT_EQ(0, key.WriteDword("Value", 1));
    EXPECT_EQ(0, test_.GetRaw(nullptr, "Value", nullptr, nullptr));
}

TEST_F(RegistryKeyTest, CreateMakesNestedKeysAndOpensExistingOnes) {
    RegistryKey key;
    ASSERT_EQ(1, key.Create(HKEY_CURRENT_USER, Path("A\\B\\C").c_str()));
    EXPECT_EQ(1, key.WriteDword("First", 1));
    EXPECT_TRUE(test_.SubkeyExists("A\\B\\C"));
    // Again on the now existing key: the value written before is still there.
    ASSERT_EQ(1, key.Create(HKEY_CURRENT_USER, Path("A\\B\\C").c_str()));
    uint32_t value = 0;
    EXPECT_EQ(1, key.ReadDword("First", &value));
    EXPECT_EQ(1u, value);
}

TEST_F(RegistryKeyTest, CreateWithViewFlagTakesTheExtendedPath) {
    RegistryKey key;
    ASSERT_EQ(1, key.Create(HKEY_CURRENT_USER, Path("Viewed").c_str(), KEY_WOW64_64KEY));
    EXPECT_EQ(1, key.WriteString("Name", "text"));
    EXPECT_TRUE(test_.GetRaw("Viewed", "Name", nullptr, nullptr));
}

TEST_F(RegistryKeyTest, CreateBelowAVolatileKeyFails) {
    // The registry keeps no lasting key below a volatile one, so this path cannot be created.
    ASSERT_EQ(1, MakeVolatileSubkey("Volatile"));
    RegistryKey key;
    EXPECT_EQ(0, key.Create(HKEY_CURRENT_USER, Path("Volatile\\Child").c_str()));
    EXPECT_EQ(nullptr, key.Handle());
    EXPECT_EQ(0, key.Create(HKEY_CURRENT_USER, Path("Volatile\\Child").c_str(), KEY_WOW64_64KEY));
    EXPECT_FALSE(test_.SubkeyExists("Volatile\\Child"));
}

TEST_F(RegistryKeyTest, CloseOfAClosedKeySucceeds) {
    RegistryKey key;
    EXPECT_EQ(1, key.Close());
    OpenTestKey(key);
    EXPECT_EQ(1, key.Close());
    EXPECT_EQ(nullptr, key.Handle());
    EXPECT_EQ(1, key.Close());
}

TEST_F(RegistryKeyTest, OperationsOnAClosedKeyFailQuietly) {
    RegistryKey key;
    uint32_t value = 7;
    EXPECT_EQ(0, key.ReadDword("Value", &value));
    EXPECT_EQ(7u, value);
    TextString text;
    text = "stale";
    EXPECT_EQ(0, key.ReadString("Value", text));
    EXPECT_STREQ("", text.Text());
    EXPECT_EQ(0, key.WriteDword("Value", 1));
    EXPECT_EQ(0, key.WriteString("Value", "x"));
}

// --- ReadDword: exactly four bytes, whatever the type ----------------------------------------------------

TEST_F(RegistryKeyTest, DwordRoundTrip) {
    RegistryKey key;
    ASSERT_EQ(1, key.Create(HKEY_CURRENT_USER, test_.Path()));
    ASSERT_EQ(1, key.WriteDword("Number", 0xFEDCBA98u));
    DWORD type = 0;
    std::string data;
    ASSERT_TRUE(test_.GetRaw(nullptr, "Number", &type, &data));
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
    EXPECT_EQ(4u, data.size());
    uint32_t value = 0;
    EXPECT_EQ(1, key.ReadDword("Number", &value));
    EXPECT_EQ(0xFEDCBA98u, value);
}

TEST_F(RegistryKeyTest, DwordReadsAnyFourByteValue) {
    const unsigned char bytes[4] = {0x01, 0x02, 0x03, 0x04};
    ASSERT_TRUE(test_.SetRaw(nullptr, "Binary", REG_BINARY, bytes, 4));
    ASSERT_TRUE(test_.SetString(nullptr, "Text", "abc")); // three characters and the terminator
    RegistryKey key;
    OpenTestKey(key);
    uint32_t value = 0;
    EXPECT_EQ(1, key.ReadDword("Binary", &value));
    EXPECT_EQ(0x04030201u, value);
    EXPECT_EQ(1, key.ReadDword("Text", &value));
    EXPECT_EQ(0x00636261u, value);
}

TEST_F(RegistryKeyTest, DwordRefusesLongerShorterAndMissingValues) {
    const unsigned char bytes[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    ASSERT_TRUE(test_.SetRaw(nullptr, "Quad", REG_QWORD, bytes, 8));
    ASSERT_TRUE(test_.SetRaw(nullptr, "Short", REG_BINARY, bytes, 2));
    ASSERT_TRUE(test_.SetRaw(nullptr, "Empty", REG_DWORD, bytes, 0));
    ASSERT_TRUE(test_.SetString(nullptr, "Text", "a longer text"));
    RegistryKey key;
    OpenTestKey(key);
    for (const char *name : {"Quad", "Short", "Empty", "Text", "Missing"}) {
        uint32_t value = 0xAAAAAAAAu;
        EXPECT_EQ(0, key.ReadDword(name, &value)) << name;
        EXPECT_EQ(0xAAAAAAAAu, value) << name;
    }
}

// --- ReadString: two attempts, terminator handling --------------------------------------------------------

TEST_F(RegistryKeyTest, StringRoundTripStoresTheTerminator) {
    RegistryKey key;
    ASSERT_EQ(1, key.Create(HKEY_CURRENT_USER, test_.Path()));
    ASSERT_EQ(1, key.WriteString("Name", "Hello world"));
    DWORD type = 0;
    std::string data;
    ASSERT_TRUE(test_.GetRaw(nullptr, "Name", &type, &data));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    EXPECT_EQ(std::string("Hello world", 12), data);
    TextString text;
    EXPECT_EQ(1, key.ReadString("Name", text));
    EXPECT_STREQ("Hello world", text.Text());
    EXPECT_EQ(11, text.Length());
}

TEST_F(RegistryKeyTest, EmptyAndZeroByteValuesReadAsEmptyText) {
    ASSERT_TRUE(test_.SetString(nullptr, "Empty", ""));
    ASSERT_TRUE(test_.SetRaw(nullptr, "ZeroBytes", REG_SZ, "", 0));
    ASSERT_TRUE(test_.SetRaw(nullptr, "ZeroBinary", REG_BINARY, "", 0));
    RegistryKey key;
    OpenTestKey(key);
    for (const char *name : {"Empty", "ZeroBytes", "ZeroBinary"}) {
        TextString text;
        text = "stale";
        EXPECT_EQ(1, key.ReadString(name, text)) << name;
        EXPECT_STREQ("", text.Text()) << name;
        EXPECT_EQ(0, text.Length()) << name;
    }
}

TEST_F(RegistryKeyTest, StringAtTheCapacityBoundary) {
    // A default string offers 259 bytes: 258 characters and the terminator fit, 259 need the second read.
    std::string fits(258, 'f'), oneMore(259, 'g');
    ASSERT_TRUE(test_.SetString(nullptr, "Fits", fits.c_str()));
    ASSERT_TRUE(test_.SetString(nullptr, "OneMore", oneMore.c_str()));
    RegistryKey key;
    OpenTestKey(key);
    TextString text;
    ASSERT_EQ(1, key.ReadString("Fits", text));
    EXPECT_EQ(fits, text.Text());
    EXPECT_EQ(260u, text.Capacity());
    TextString longer;
    ASSERT_EQ(1, key.ReadString("OneMore", longer));
    EXPECT_EQ(oneMore, longer.Text());
    EXPECT_EQ(259, longer.Length());
}

TEST_F(RegistryKeyTest, HundredThousandByteValueIsReadWhole) {
    std::string big(99999, ' ');
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>('a' + i % 26);
    ASSERT_TRUE(test_.SetString(nullptr, "Big", big.c_str())); // 100,000 bytes with the terminator
    RegistryKey key;
    OpenTestKey(key);
    TextString text;
    ASSERT_EQ(1, key.ReadString("Big", text));
    EXPECT_EQ(99999, text.Length());
    EXPECT_EQ(big, text.Text());
}

TEST_F(RegistryKeyTest, TinyStringGrowsToTheValue) {
    ASSERT_TRUE(test_.SetString(nullptr, "Name", "hello"));
    RegistryKey key;
    OpenTestKey(key);
    TextString text(1); // offers no byte at all in the first attempt
    ASSERT_EQ(1, key.ReadString("Name", text));
    EXPECT_STREQ("hello", text.Text());
}

TEST_F(RegistryKeyTest, UnterminatedValuesKeepTheirLastByte) {
    // Binary data and strings stored without terminator end in a real character, not in a NUL.
    ASSERT_TRUE(test_.SetRaw(nullptr, "Binary", REG_BINARY, "ABCD", 4));
    ASSERT_TRUE(test_.SetRaw(nullptr, "Bare", REG_SZ, "hello", 5));
    const DWORD letters = 0x44434241; // "ABCD" without terminator
    ASSERT_TRUE(test_.SetRaw(nullptr, "Number", REG_DWORD, &letters, 4));
    RegistryKey key;
    OpenTestKey(key);
    TextString text;
    ASSERT_EQ(1, key.ReadString("Binary", text));
    EXPECT_STREQ("ABCD", text.Text());
    ASSERT_EQ(1, key.ReadString("Bare", text));
    EXPECT_STREQ("hello", text.Text());
    ASSERT_EQ(1, key.ReadString("Number", text));
    EXPECT_STREQ("ABCD", text.Text());
}

TEST_F(RegistryKeyTest, UnterminatedValueFillingTheBufferStaysInside) {
    // 259 bytes without a NUL fill everything a default string offers; the terminator takes the last byte.
    std::string full(259, 'x');
    ASSERT_TRUE(test_.SetRaw(nullptr, "Full", REG_BINARY, full.data(), 259));
    std::string over(260, 'y');
    ASSERT_TRUE(test_.SetRaw(nullptr, "Over", REG_BINARY, over.data(), 260));
    RegistryKey key;
    OpenTestKey(key);
    TextString text;
    ASSERT_EQ(1, key.ReadString("Full", text));
    EXPECT_EQ(full, text.Text());
    EXPECT_LE(static_cast<uint32_t>(text.Length() + 1), text.Capacity());
    TextString second;
    ASSERT_EQ(1, key.ReadString("Over", second));
    EXPECT_EQ(over, second.Text());
    EXPECT_LE(static_cast<uint32_t>(second.Length() + 1), second.Capacity());
}

TEST_F(RegistryKeyTest, NumberAndListValuesReadAsTheirFirstText) {
    const DWORD small = 0x00434241; // "ABC" and a NUL
    ASSERT_TRUE(test_.SetRaw(nullptr, "Number", REG_DWORD, &small, 4));
    ASSERT_TRUE(test_.SetRaw(nullptr, "List", REG_MULTI_SZ, "one\0two\0", 9));
    RegistryKey key;
    OpenTestKey(key);
    TextString text;
    ASSERT_EQ(1, key.ReadString("Number", text));
    EXPECT_STREQ("ABC", text.Text());
    ASSERT_EQ(1, key.ReadString("List", text));
    EXPECT_STREQ("one", text.Text());
}

TEST_F(RegistryKeyTest, MissingStringEmptiesTheOutput) {
    RegistryKey key;
    OpenTestKey(key);
    TextString text;
    text = "stale content";
    EXPECT_EQ(0, key.ReadString("Missing", text));
    EXPECT_STREQ("", text.Text());
    EXPECT_EQ(0, text.Length());
}

// --- ReadBinary
// ---------------------------------------------------------------------------------------------

TEST_F(RegistryKeyTest, BinaryReadReportsSizeAndRefusesSmallBuffers) {
    const unsigned char bytes[6] = {0, 1, 0, 2, 0xFF, 3};
    ASSERT_TRUE(test_.SetRaw(nullptr, "Raw", REG_BINARY, bytes, 6));
    RegistryKey key;
    OpenTestKey(key);
    unsigned char buffer[16] = {};
    DWORD size = sizeof(buffer);
    ASSERT_EQ(1, key.ReadBinary("Raw", buffer, &size));
    EXPECT_EQ(6u, size);
    EXPECT_EQ(0, memcmp(bytes, buffer, 6));
    size = 4;
    EXPECT_EQ(0, key.ReadBinary("Raw", buffer, &size));
    EXPECT_EQ(6u, size); // the size it would need
}

// --- One-shot functions -----------------------------------------------------------------------------------

TEST_F(RegistryKeyTest, ReadDwordAtGivesTheDefaultForMissingKeyOrValue) {
    EXPECT_EQ(77u, ReadDwordAt(HKEY_CURRENT_USER, Path("Missing").c_str(), "Value", 77));
    EXPECT_EQ(78u, ReadDwordAt(HKEY_CURRENT_USER, test_.Path(), "Missing", 78));
    ASSERT_TRUE(test_.SetString(nullptr, "Long", "not a number"));
    EXPECT_EQ(79u, ReadDwordAt(HKEY_CURRENT_USER, test_.Path(), "Long", 79));
}

TEST_F(RegistryKeyTest, WriteDwordAtCreatesTheKeyAndReadsBack) {
    std::string path = Path("Deep\\Er");
    EXPECT_EQ(1, WriteDwordAt(HKEY_CURRENT_USER, path.c_str(), "Value", 0));
    EXPECT_EQ(0u, ReadDwordAt(HKEY_CURRENT_USER, path.c_str(), "Value", 5));
    EXPECT_EQ(1, WriteDwordAt(HKEY_CURRENT_USER, path.c_str(), "Value", 0xFFFFFFFFu));
    EXPECT_EQ(0xFFFFFFFFu, ReadDwordAt(HKEY_CURRENT_USER, path.c_str(), "Value", 5));
}

TEST_F(RegistryKeyTest, WritesToAKeyThatCannotBeCreatedChangeNothing) {
    ASSERT_EQ(1, MakeVolatileSubkey("Volatile"));
    std::string path = Path("Volatile\\Child");
    EXPECT_EQ(0, WriteDwordAt(HKEY_CURRENT_USER, path.c_str(), "Value", 1));
    EXPECT_EQ(0, WriteStringAt(HKEY_CURRENT_USER, path.c_str(), "Value", "x"));
    EXPECT_FALSE(test_.SubkeyExists("Volatile\\Child"));
    EXPECT_FALSE(test_.GetRaw("Volatile", "Value", nullptr, nullptr));
}

TEST_F(RegistryKeyTest, ReadStringAtAssignsTheDefaultOnFailure) {
    TextString text;
    EXPECT_EQ(0, ReadStringAt(HKEY_CURRENT_USER, Path("Missing").c_str(), "Value", text, "fallback"));
    EXPECT_STREQ("fallback", text.Text());
    text = "stale";
    EXPECT_EQ(0, ReadStringAt(HKEY_CURRENT_USER, test_.Path(), "Missing", text));
    EXPECT_STREQ("", text.Text());
}

TEST_F(RegistryKeyTest, ReadStringAtMayUseTheOutputAsItsOwnDefault) {
    TextString text;
    text = "keep me";
    EXPECT_EQ(0, ReadStringAt(HKEY_CURRENT_USER, test_.Path(), "Missing", text, text.Text()));
    EXPECT_STREQ("keep me", text.Text());
}

TEST_F(RegistryKeyTest, WriteStringAtThenReadStringAtWithALongValue) {
    std::string value(1500, 'q');
    value[0] = 'Q';
    std::string path = Path("Strings");
    ASSERT_EQ(1, WriteStringAt(HKEY_CURRENT_USER, path.c_str(), "Long", value.c_str()));
    TextString text;
    EXPECT_EQ(1, ReadStringAt(HKEY_CURRENT_USER, path.c_str(), "Long", text, "fallback"));
    EXPECT_EQ(value, text.Text());
}

TEST_F(RegistryKeyTest, OneShotFunctionsLeaveNoKeyOpen) {
    // The test key can only be deleted when nothing holds it open below it.
    std::string path = Path("Closed");
    ASSERT_EQ(1, WriteStringAt(HKEY_CURRENT_USER, path.c_str(), "Name", "x"));
    TextString text;
    ASSERT_EQ(1, ReadStringAt(HKEY_CURRENT_USER, path.c_str(), "Name", text));
    ASSERT_EQ(1, WriteDwordAt(HKEY_CURRENT_USER, path.c_str(), "Number", 3));
    ASSERT_EQ(3u, ReadDwordAt(HKEY_CURRENT_USER, path.c_str(), "Number", 0));
    EXPECT_EQ(1, DeleteKeyTree(HKEY_CURRENT_USER, path.c_str()));
    EXPECT_FALSE(test_.SubkeyExists("Closed"));
}

// --- View flags ------------------------------------------------------------------------------------------

TEST(RegistryViewFlags, DroppedWithoutWow64KeptWithIt) {
    EXPECT_EQ(0u, FilterViewFlagsFor(KEY_WOW64_64KEY, 0));
    EXPECT_EQ(0u, FilterViewFlagsFor(KEY_WOW64_32KEY, 0));
    EXPECT_EQ(static_cast<uint32_t>(KEY_READ), FilterViewFlagsFor(KEY_READ | KEY_WOW64_64KEY, 0));
    EXPECT_EQ(static_cast<uint32_t>(KEY_WOW64_64KEY), FilterViewFlagsFor(KEY_WOW64_64KEY, 1));
    EXPECT_EQ(static_cast<uint32_t>(KEY_READ | KEY_WOW64_32KEY),
              FilterViewFlagsFor(KEY_READ | KEY_WOW64_32KEY, 1));
    EXPECT_EQ(0u, FilterViewFlagsFor(0, 1));
}

TEST(RegistryViewFlags, RunningProcessFollowsItsWow64Answer) {
    int wow64 = IsWow64();
    EXPECT_EQ(wow64 ? static_cast<uint32_t>(KEY_WOW64_64KEY) : 0u, FilterViewFlags(KEY_WOW64_64KEY));
    EXPECT_EQ(0x20019u, FilterViewFlags(0x20019u));
}

TEST(RegistryViewFlags, SixtyFourBitViewOpensAMachineKey) {
    // The machine identifier opens this key with the 64-bit view; it must open on either kind of system.
    RegistryKey key;
    EXPECT_EQ(
        1, key.Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", KEY_WOW64_64KEY));
}
