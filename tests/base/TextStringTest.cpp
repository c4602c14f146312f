// TextString and the free text functions: growth rules, editing clamps, replacement, comparisons, search,
// conversions, line reading, formatting and tokenizing; double-byte cases when the system code page has them.
#include "base/TextString.h"
#include "base/PathName.h"
#include "base/TextChars.h"
#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

int IsDoubleByteCodePage() {
    CPINFO info = {};
    return GetCPInfo(CP_ACP, &info) && info.MaxCharSize == 2;
}

// Whether the surrounding run asked for the double-byte cases: then their absence is a failure, not a skip.
int DoubleByteRunRequested() {
    char value[8] = {};
    return GetEnvironmentVariableA("TARVEX_TEXT_DBCS", value, sizeof value) > 0 && value[0] == '1';
}

} // namespace

// ---- Growth rules -------------------------------------------------------------------------------------

TEST(TextStringGrowth, DefaultStringHas260BytesAndNoText) {
    TextString s;
    EXPECT_EQ(259, s.MaxLength());
    EXPECT_EQ(0, s.Length());
    EXPECT_STREQ("", s.Text());
}

TEST(TextStringGrowth, ExplicitCapacityZeroStillHoldsTheTerminator) {
    TextString s(0);
    EXPECT_EQ(1u, s.Capacity());
    EXPECT_EQ(0, s.Length());
    EXPECT_EQ(1, s.Append('x'));
    EXPECT_STREQ("x", s.Text());
    EXPECT_EQ(22u, s.Capacity()); // size 2 plus the slack
}

TEST(TextStringGrowth, AssignGrowsToExactlyTheTextOnlyWhenItDoesNotFit) {
    TextString s(4);
    EXPECT_EQ(1, s.Assign("abc"));
    EXPECT_EQ(4u, s.Capacity());
    EXPECT_EQ(1, s.Assign("abcdefghij"));
    EXPECT_EQ(11u, s.Capacity());
    EXPECT_STREQ("abcdefghij", s.Text());
    EXPECT_EQ(1, s.Assign("xy"));
    EXPECT_EQ(11u, s.Capacity()); // never shrinks on assignment
    EXPECT_EQ(2, s.Length());
}

TEST(TextStringGrowth, AppendToAFullBufferKeepsTwentyBytesOfSlack) {
    TextString s;
    std::string full(259, 'a');
    ASSERT_EQ(1, s.Assign(full.c_str()));
    EXPECT_EQ(260u, s.Capacity());
    EXPECT_EQ(1, s.Append('b'));
    EXPECT_EQ(281u, s.Capacity());
    EXPECT_EQ(260, s.Length());
    // The slack absorbs the next appends without another reallocation.
    for (int i = 0; i < 20; ++i)
        ASSERT_EQ(1, s.Append('c'));
    EXPECT_EQ(281u, s.Capacity());
    EXPECT_EQ(1, s.Append("d"));
    EXPECT_EQ(302u, s.Capacity());
    EXPECT_EQ(281, s.Length());
}

TEST(TextStringGrowth, AppendOfNullChangesNothingAndSucceeds) {
    TextString s;
    s.Assign("abc");
    EXPECT_EQ(1, s.Append(static_cast<const char *>(nullptr)));
    EXPECT_EQ(1, s.Append(static_cast<const wchar_t *>(nullptr)));
    EXPECT_STREQ("abc", s.Text());
    EXPECT_EQ(3, s.Length());
}

TEST(TextStringGrowth, AppendOfItselfSurvivesTheReallocation) {
    TextString s(4);
    s.Assign("abc");
    ASSERT_EQ(1, s.Append(s));
    EXPECT_STREQ("abcabc", s.Text());
    ASSERT_EQ(1, s.Append(s.Text() + 4));
    EXPECT_STREQ("abcabcbc", s.Text());
    EXPECT_EQ(8, s.Length());
}

TEST(TextStringGrowth, InsertGrowsToExactlyTheNewSize) {
    TextString s(4);
    s.Assign("abc");
    EXPECT_STREQ("abXYZc", s.Insert(2, "XYZ"));
    EXPECT_EQ(7u, s.Capacity());
    EXPECT_EQ(6, s.Length());
}

TEST(TextStringGrowth, ResetReallocatesToExactlyTheCapacityAndEmpties) {
    TextString s;
    s.Assign("something");
    ASSERT_EQ(1, s.Reset(1000));
    EXPECT_EQ(1000u, s.Capacity());
    EXPECT_EQ(0, s.Length());
    ASSERT_EQ(1, s.Reset(16));
    EXPECT_EQ(16u, s.Capacity());
    EXPECT_STREQ("", s.Text());
}

TEST(TextStringGrowth, AssignOfANullStringResetsTo260) {
    TextString s(5000);
    s.Assign("abc");
    EXPECT_EQ(1, s.Assign(static_cast<const TextString *>(nullptr)));
    EXPECT_EQ(260u, s.Capacity());
    EXPECT_EQ(0, s.Length());
}

TEST(TextStringGrowth, SetSizeRejectsZeroAndSizesBeyondTheBuffer) {
    TextString s(10);
    s.Assign("abc");
    EXPECT_EQ(0, s.SetSize(0));
    EXPECT_EQ(0, s.SetSize(10));
    EXPECT_STREQ("abc", s.Text());
    EXPECT_EQ(3, s.Length());
    // Text written straight into the buffer is taken up to the given size.
    char *buffer = s.Buffer();
    memcpy(buffer, "123456789", 9);
    EXPECT_EQ(1, s.SetSize(9));
    EXPECT_EQ(8, s.Length());
    EXPECT_STREQ("12345678", s.Text());
}

TEST(TextStringGrowth, RecountStopsAtAnEmbeddedTerminatorAndNeverRunsOffTheBlock) {
    TextString s(8);
    char *buffer = s.Buffer();
    memcpy(buffer, "ab\0cd", 6);
    s.Recount();
    EXPECT_EQ(2, s.Length());
    memset(buffer, 'z', 8); // no terminator left anywhere
    s.Recount();
    EXPECT_EQ(7, s.Length());
    EXPECT_STREQ("zzzzzzz", s.Text());
}

TEST(TextStringGrowth, BufferHintLargerThanTheBlockGrowsIt) {
    TextString s(8);
    s.Assign("abc");
    char *buffer = s.Buffer(100);
    ASSERT_NE(nullptr, buffer);
    EXPECT_EQ(100u, s.Capacity());
    EXPECT_STREQ("abc", buffer);
    EXPECT_EQ(s.Buffer(10), buffer); // a smaller hint changes nothing
    EXPECT_EQ(100u, s.Capacity());
}

// ---- Editing clamps ------------------------------------------------------------------------------------

TEST(TextStringEditing, AssignWithCountRecountsAtAnEmbeddedTerminator) {
    TextString s;
    EXPECT_EQ(1, s.Assign("ab\0de", 5));
    EXPECT_EQ(2, s.Length());
    EXPECT_EQ(1, s.Assign("abcdef", 3));
    EXPECT_STREQ("abc", s.Text());
    EXPECT_EQ(1, s.Assign(static_cast<const char *>(nullptr)));
    EXPECT_EQ(0, s.Length());
}

TEST(TextStringEditing, AssignFromInsideItself) {
    TextString s;
    s.Assign("hello world");
    ASSERT_EQ(1, s.Assign(s.Text() + 6));
    EXPECT_STREQ("world", s.Text());
    TextString small(4);
    small.Assign("abc");
    ASSERT_EQ(1, small.Assign(small.Text(), 3));
    EXPECT_STREQ("abc", small.Text());
    TextString other;
    other = "copy me";
    ASSERT_EQ(1, s.Assign(&other));
    EXPECT_STREQ("copy me", s.Text());
    ASSERT_EQ(1, s.Assign(&s));
    EXPECT_STREQ("copy me", s.Text());
}

TEST(TextStringEditing, InsertPositionsBeyondTheTextAppend) {
    TextString s;
    s.Assign("abc");
    EXPECT_STREQ("abcX", s.Insert(-1, "X"));
    EXPECT_STREQ("abcXY", s.Insert(1000, "Y"));
    EXPECT_STREQ("0abcXY", s.Insert(0, "0"));
    EXPECT_EQ(6, s.Length());
    EXPECT_STREQ("0abcXY", s.Insert(2, nullptr));
}

TEST(TextStringEditing, InsertOfItsOwnText) {
    TextString s(7);
    s.Assign("abcdef");
    EXPECT_STREQ("abcabcdefdef", s.Insert(3, s.Text()));
    EXPECT_EQ(12, s.Length());
}

TEST(TextStringEditing, DeleteClampsPositionAndCount) {
    TextString s;
    s.Assign("abcdef");
    EXPECT_STREQ("abcdef", s.Delete(6, 1));
    EXPECT_STREQ("abcdef", s.Delete(-1, 2)); // negative is a huge unsigned position
    EXPECT_STREQ("abef", s.Delete(2, 2));
    EXPECT_STREQ("a", s.Delete(1, 100));
    EXPECT_EQ(1, s.Length());
    s.Assign("abcdef");
    EXPECT_STREQ("ab", s.Delete(2, -1)); // a negative count is a huge unsigned one: to the end
}

TEST(TextStringEditing, LeftMidFromClamp) {
    TextString s;
    s.Assign("abcdef");
    EXPECT_STREQ("", s.Left(-3));
    EXPECT_EQ(0, s.Length());
    s.Assign("abcdef");
    EXPECT_STREQ("abcdef", s.Left(100));
    EXPECT_STREQ("abc", s.Left(3));
    s.Assign("abcdef");
    EXPECT_STREQ("cdef", s.Mid(2, 100));
    EXPECT_EQ(4, s.Length());
    s.Assign("abcdef");
    EXPECT_STREQ("ab", s.Mid(-5, 2));
    s.Assign("abcdef");
    EXPECT_STREQ("", s.Mid(10, 2));
    s.Assign("abcdef");
    EXPECT_STREQ("", s.Mid(1, -2));
    s.Assign("abcdef");
    EXPECT_STREQ("cdef", s.From(2));
    s.Assign("abcdef");
    EXPECT_STREQ("abcdef", s.From(INT32_MIN));
    EXPECT_STREQ("", s.From(7));
}

TEST(TextStringEditing, TrimRemovesEveryKindOfWhiteSpace) {
    TextString s;
    s.Assign(" \t\r\n a b \v\f\r\n ");
    EXPECT_STREQ("a b \v\f\r\n ", s.TrimLeft());
    EXPECT_STREQ("a b", s.TrimRight());
    EXPECT_EQ(3, s.Length());
    s.Assign("   ");
    EXPECT_STREQ("", s.TrimRight());
    s.Assign("   ");
    EXPECT_STREQ("", s.TrimLeft());
    EXPECT_EQ(0, s.Length());
}

TEST(TextStringEditing, EnsureTrailingAddsTheByteOnlyWhenMissing) {
    TextString s;
    EXPECT_STREQ("\\", s.EnsureTrailing('\\'));
    s.Assign("C:\\dir");
    EXPECT_STREQ("C:\\dir\\", s.EnsureTrailing('\\'));
    EXPECT_STREQ("C:\\dir\\", s.EnsureTrailing('\\'));
    EXPECT_EQ(7, s.Length());
}

// ---- Replacement ---------------------------------------------------------------------------------------

TEST(TextStringReplace, DoubledQuotesCollapseToOne) {
    TextString s;
    s.Assign("\"\"\"\"");
    EXPECT_STREQ("\"", s.Replace("\"\"", "\"", 0));
    EXPECT_EQ(1, s.Length());
    s.Assign("a\"\"b\"\"\"\"\"c\"d");
    EXPECT_STREQ("a\"b\"c\"d", s.Replace("\"\"", "\"", 0));
    s.Assign("x\"\"\"\"\"\"y");
    EXPECT_STREQ("x\"y", s.Replace("\"\"", "\"", 1));
}

TEST(TextStringReplace, ShrinkingRescansAcrossTheReplacedPart) {
    // Removing the inner "ab" forms a new "ab" that begins before it.
    TextString s;
    s.Assign("aabbc");
    EXPECT_STREQ("c", s.Replace("ab", nullptr, 0));
    s.Assign("aaabbb-ab");
    EXPECT_STREQ("-", s.Replace("ab", "", 1));
}

TEST(TextStringReplace, ReplacementHoldingTheSearchedTextEnds) {
    TextString s;
    s.Assign("a.b.c");
    EXPECT_STREQ("a..b..c", s.Replace(".", "..", 0));
    s.Assign("xx");
    EXPECT_STREQ("[x][x]", s.Replace("x", "[x]", 1));
    s.Assign("ab");
    EXPECT_STREQ("ab", s.Replace("ab", "ab", 1));
    s.Assign("%A%b%");
    EXPECT_STREQ("%%A%%b%%", s.ReplaceNoCase("%", "%%"));
    s.Assign("aAa");
    EXPECT_STREQ("xaxxaxxax", s.ReplaceNoCase("a", "xax"));
}

TEST(TextStringReplace, ReallocatingAdjustsTheCapacityByTheDifference) {
    TextString s(20);
    s.Assign("a-b-c");
    EXPECT_STREQ("a+++b+++c", s.Replace("-", "+++", 1)); // in place cannot grow: reallocates instead
    EXPECT_EQ(24u, s.Capacity());
    EXPECT_STREQ("a+b+c", s.Replace("++", nullptr, 0));
    EXPECT_EQ(20u, s.Capacity());
    EXPECT_STREQ("a-b-c", s.Replace("+", "-", 1));
    EXPECT_EQ(20u, s.Capacity()); // in place keeps the block
    EXPECT_STREQ("a-b-c", s.Text());
}

TEST(TextStringReplace, NoCaseMatchesAnyCase) {
    TextString s;
    s.Assign("Path=%TEMP%\\x;%temp%");
    EXPECT_STREQ("Path=C:\\t\\x;C:\\t", s.ReplaceNoCase("%Temp%", "C:\\t"));
    EXPECT_EQ(16, s.Length());
}

TEST(TextStringReplace, EmptySearchOrSearchInsideTheStringIsSafe) {
    TextString s;
    s.Assign("abc");
    EXPECT_STREQ("abc", s.Replace("", "x", 0));
    EXPECT_STREQ("abc", s.Replace(nullptr, "x", 0));
    s.Assign("abcabc");
    EXPECT_STREQ("cc", s.Replace(s.Text() + 3, "c", 0)); // find is "abc", our own tail
    s.Assign("ab");
    EXPECT_STREQ("aab", s.Replace("b", s.Text(), 0));
}

// ---- Comparisons ---------------------------------------------------------------------------------------

TEST(TextStringCompare, NullComparesEqualOnlyToEmpty) {
    TextString s;
    EXPECT_EQ(0, s.Compare(nullptr));
    EXPECT_EQ(0, s.CompareNoCase(nullptr));
    EXPECT_EQ(0, s.CompareNoCase(nullptr, 3));
    s.Assign("a");
    EXPECT_EQ(-1, s.Compare(nullptr));
    EXPECT_EQ(-1, s.CompareNoCase(nullptr));
    EXPECT_EQ(-1, s.CompareNoCase(nullptr, 1));
}

TEST(TextStringCompare, CaseSensitiveOrdersByCharacter) {
    TextString s;
    s.Assign("abc");
    EXPECT_EQ(0, s.Compare("abc"));
    EXPECT_LT(s.Compare("abd"), 0);
    EXPECT_GT(s.Compare("ab"), 0);
    EXPECT_LT(s.Compare("abcd"), 0);
    EXPECT_NE(0, s.Compare("ABC"));
    s.Assign("\xe9");
    EXPECT_GT(s.Compare("z"), 0); // bytes of the upper half rank above ASCII
}

TEST(TextStringCompare, NoCaseWholeTextAndPrefix) {
    TextString s;
    s.Assign("Software\\Qelmarch");
    EXPECT_EQ(0, s.CompareNoCase("SOFTWARE\\qelmarch"));
    EXPECT_NE(0, s.CompareNoCase("SOFTWARE"));
    EXPECT_EQ(0, s.CompareNoCase("SOFTWARE", 8));
    EXPECT_EQ(0, s.CompareNoCase("softwarX", 7));
    EXPECT_NE(0, s.CompareNoCase("softwarX", 8));
    EXPECT_NE(0, s.CompareNoCase("Software\\Qelmarch\\Tarvex", 24));
    EXPECT_LT(s.CompareNoCase("T"), 0);
    EXPECT_GT(s.CompareNoCase("r"), 0);
}

TEST(TextStringCompare, NoCaseFoldsLettersOfTheCodePage) {
    if (GetACP() != 1252)
        GTEST_SKIP() << "needs code page 1252";
    TextString s;
    s.Assign("\xc9t\xc9");                      // ÉTÉ
    EXPECT_EQ(0, s.CompareNoCase("\xe9t\xe9")); // été
    EXPECT_NE(0, s.Compare("\xe9t\xe9"));
    EXPECT_EQ(0, s.CompareNoCase("\xe9T", 2));
}

// ---- Search --------------------------------------------------------------------------------------------

TEST(TextStringSearch, FindByteForwardAndBackward) {
    TextString s;
    s.Assign("C:\\dir\\file.txt");
    EXPECT_EQ(s.Text() + 2, s.Find('\\'));
    EXPECT_EQ(2, s.FindIndex('\\'));
    EXPECT_EQ(6, s.ReverseFindIndex('\\'));
    EXPECT_EQ(nullptr, s.Find('/'));
    EXPECT_EQ(-1, s.FindIndex('/'));
    EXPECT_EQ(-1, s.ReverseFindIndex('/'));
    EXPECT_EQ(0, s.FindIndex('C'));
    EXPECT_EQ(14, s.ReverseFindIndex('t'));
}

TEST(TextStringSearch, FindTextIsCaseSensitive) {
    TextString s;
    s.Assign("one Two two");
    EXPECT_EQ(s.Text() + 8, s.FindText("two"));
    EXPECT_EQ(s.Text() + 4, s.FindText("Two"));
    EXPECT_EQ(nullptr, s.FindText("TWO"));
    EXPECT_EQ(nullptr, s.FindText("two two two"));
}

TEST(TextStringSearch, FindNoCaseFromAStart) {
    TextString s;
    s.Assign("abcABCabc");
    EXPECT_EQ(0, s.FindNoCase("ABC"));
    EXPECT_EQ(3, s.FindNoCase("ABC", 1));
    EXPECT_EQ(6, s.FindNoCase("abc", 4));
    EXPECT_EQ(-1, s.FindNoCase("abc", 7));
    EXPECT_EQ(-1, s.FindNoCase("x"));
    EXPECT_EQ(-1, s.FindNoCase(nullptr));
    EXPECT_EQ(-1, s.FindNoCase("a", 10)); // start == size
    EXPECT_EQ(-1, s.FindNoCase("a", -1)); // negative is huge unsigned
    EXPECT_EQ(-1, s.FindNoCase("abcd", 6));
}

TEST(TextStringSearch, CharAtIsZeroOutsideTheText) {
    TextString s;
    s.Assign("abc");
    EXPECT_EQ('a', s.CharAt(0));
    EXPECT_EQ('c', s.CharAt(2));
    EXPECT_EQ(0, s.CharAt(3));
    EXPECT_EQ(0, s.CharAt(4));
    EXPECT_EQ(0, s.CharAt(-1));
    EXPECT_EQ(s.Text() + 1, s.At(1));
}

TEST(TextStringSearch, TextCopiesWithTheTerminator) {
    TextString s;
    s.Assign("copy");
    char destination[8];
    memset(destination, 'x', sizeof destination);
    EXPECT_EQ(s.Text(), s.Text(destination));
    EXPECT_STREQ("copy", destination);
    EXPECT_EQ('x', destination[5]);
}

// ---- Conversions ---------------------------------------------------------------------------------------

TEST(TextStringConversion, AssignWideConvertsThroughTheSystemCodePage) {
    TextString s(4);
    EXPECT_EQ(1, s.Assign(L"hello"));
    EXPECT_STREQ("hello", s.Text());
    EXPECT_EQ(6u, s.Capacity());
    s = L"abc";
    EXPECT_STREQ("abc", s.Text());
    EXPECT_EQ(1, s.Assign(static_cast<const wchar_t *>(nullptr)));
    EXPECT_EQ(0, s.Length());
}

TEST(TextStringConversion, AssignOfAnEmptyWideTextIsAnEmptySuccess) {
    TextString s;
    s.Assign("old");
    EXPECT_EQ(1, s.Assign(L""));
    EXPECT_EQ(0, s.Length());
    EXPECT_STREQ("", s.Text());
}

TEST(TextStringConversion, CharactersOutsideTheCodePageBecomeTheDefaultCharacter) {
    if (IsDoubleByteCodePage())
        GTEST_SKIP() << "single-byte code page case";
    TextString s;
    EXPECT_EQ(1, s.Assign(L"a\x4e2d"
                          L"b"));
    EXPECT_EQ(3, s.Length());
    EXPECT_EQ('a', s.CharAt(0));
    EXPECT_EQ('b', s.CharAt(2));
}

TEST(TextStringConversion, AppendWideKeepsSlackAndAppendsConverted) {
    TextString s(4);
    s.Assign("ab");
    EXPECT_EQ(1, s.Append(L"cdef"));
    EXPECT_STREQ("abcdef", s.Text());
    EXPECT_EQ(27u, s.Capacity());
    EXPECT_EQ(1, s.Append(L""));
    EXPECT_STREQ("abcdef", s.Text());
    EXPECT_EQ(1, s.AppendWideChar(L'g'));
    EXPECT_STREQ("abcdefg", s.Text());
    EXPECT_EQ(7, s.Length());
}

TEST(TextStringConversion, AppendWideCharTakesAnEightBitUnitAsItsOwnCode) {
    if (GetACP() != 1252)
        GTEST_SKIP() << "needs code page 1252";
    TextString s;
    EXPECT_EQ(1, s.AppendWideChar(0xe9));
    EXPECT_EQ(1, s.AppendWideChar(0x20ac)); // euro sign: 0x80 in 1252
    EXPECT_STREQ("\xe9\x80", s.Text());
}

TEST(TextStringConversion, WideWithAndWithoutBuffer) {
    TextString s;
    s.Assign("wide text");
    const wchar_t *copy = s.Wide();
    ASSERT_NE(nullptr, copy);
    EXPECT_STREQ(L"wide text", copy);
    wchar_t buffer[32];
    EXPECT_EQ(buffer, s.Wide(buffer));
    EXPECT_STREQ(L"wide text", buffer);
    s.Assign("next");
    const wchar_t *second = s.Wide();
    ASSERT_NE(nullptr, second);
    EXPECT_STREQ(L"next", second);
    TextString empty;
    ASSERT_NE(nullptr, empty.Wide());
    EXPECT_STREQ(L"", empty.Wide());
}

TEST(TextStringConversion, DecodeUtf8ToGivesTheSystemCodePage) {
    TextString utf8, target;
    utf8.Assign("plain");
    EXPECT_EQ(1, utf8.DecodeUtf8To(target));
    EXPECT_STREQ("plain", target.Text());
    if (GetACP() == 1252) {
        utf8.Assign("caf\xc3\xa9 \xe2\x82\xac"); // "café €" in UTF-8
        EXPECT_EQ(1, utf8.DecodeUtf8To(target));
        EXPECT_STREQ("caf\xe9 \x80", target.Text());
    }
    // Decoding into itself works from the temporary copy.
    utf8.Assign("self");
    EXPECT_EQ(1, utf8.DecodeUtf8To(utf8));
    EXPECT_STREQ("self", utf8.Text());
}

TEST(TextStringConversion, ToBstrHoldsTheWideText) {
    TextString s;
    s.Assign("bstr text");
    BstrHolder bstr = s.ToBstr();
    ASSERT_NE(nullptr, bstr.Get());
    EXPECT_EQ(9u, SysStringLen(bstr.Get()));
    EXPECT_STREQ(L"bstr text", bstr.Get());
    TextString empty;
    BstrHolder none = empty.ToBstr();
    ASSERT_NE(nullptr, none.Get());
    EXPECT_EQ(0u, SysStringLen(none.Get()));
    BSTR detached = bstr.Detach();
    EXPECT_EQ(nullptr, bstr.Get());
    SysFreeString(detached);
    BstrHolder moved(std::move(none));
    EXPECT_EQ(nullptr, none.Get());
    EXPECT_NE(nullptr, moved.Get());
}

// ---- Line reading --------------------------------------------------------------------------------------

TEST(TextStringLines, CrLfSeparatedLines) {
    TextString s, line;
    s.Assign("abc\r\ndef");
    ASSERT_EQ(1, s.FirstLine(line));
    EXPECT_STREQ("abc", line.Text());
    ASSERT_EQ(1, s.NextLine(line));
    EXPECT_STREQ("def", line.Text());
    EXPECT_EQ(0, s.NextLine(line));
    EXPECT_EQ(0, s.NextLine(line)); // stays at the end
}

TEST(TextStringLines, EmptyLinesAndEmptyText) {
    TextString s, line;
    s.Assign("\r\n");
    ASSERT_EQ(1, s.FirstLine(line));
    EXPECT_STREQ("", line.Text());
    EXPECT_EQ(0, s.NextLine(line));
    s.Assign("");
    EXPECT_EQ(0, s.FirstLine(line));
    s.Assign("a\n\nb\n");
    ASSERT_EQ(1, s.FirstLine(line));
    EXPECT_STREQ("a", line.Text());
    ASSERT_EQ(1, s.NextLine(line));
    EXPECT_STREQ("", line.Text());
    ASSERT_EQ(1, s.NextLine(line));
    EXPECT_STREQ("b", line.Text());
    EXPECT_EQ(0, s.NextLine(line));
}

TEST(TextStringLines, CarriageReturnsInsideALineAreDropped) {
    TextString s, line;
    s.Assign("ab\rcd\r\r\nx\ry\rz\r");
    ASSERT_EQ(1, s.FirstLine(line));
    EXPECT_STREQ("abcd", line.Text());
    EXPECT_EQ(4, line.Length());
    ASSERT_EQ(1, s.NextLine(line));
    EXPECT_STREQ("xyz", line.Text());
    EXPECT_EQ(0, s.NextLine(line));
    s.Assign("\r\r\rq");
    ASSERT_EQ(1, s.FirstLine(line));
    EXPECT_STREQ("q", line.Text());
    s.Assign("\r\r");
    EXPECT_EQ(0, s.FirstLine(line));
}

TEST(TextStringLines, NextLineWithoutFirstLineOrAfterAChangeReadsNothing) {
    TextString s, line;
    s.Assign("one\ntwo");
    EXPECT_EQ(0, s.NextLine(line));
    ASSERT_EQ(1, s.FirstLine(line));
    s.Assign("x"); // the text under the cursor changed
    EXPECT_EQ(0, s.NextLine(line));
    s.Assign("one\ntwo");
    ASSERT_EQ(1, s.FirstLine(s)); // into itself: the first line, then the walk is over
    EXPECT_STREQ("one", s.Text());
    EXPECT_EQ(0, s.NextLine(line));
}

// ---- Formatting ----------------------------------------------------------------------------------------

TEST(TextStringFormat, OutputOfCapacityMinusOneFitsWithoutGrowth) {
    TextString s;
    std::string text(259, 'f');
    ASSERT_EQ(1, s.Format("%s", text.c_str()));
    EXPECT_EQ(260u, s.Capacity());
    EXPECT_EQ(259, s.Length());
    EXPECT_EQ(text, s.Text());
    TextString tight(10);
    ASSERT_EQ(1, tight.Format("%09d", 7));
    EXPECT_EQ(10u, tight.Capacity());
    EXPECT_STREQ("000000007", tight.Text());
    ASSERT_EQ(1, tight.Format("%010d", 7));
    EXPECT_EQ(270u, tight.Capacity());
    EXPECT_STREQ("0000000007", tight.Text());
}

TEST(TextStringFormat, LongerOutputGrowsOnceTo520AndZeroFillsTheNewBlock) {
    TextString s;
    std::string text(300, 'g');
    ASSERT_EQ(1, s.Format("%s", text.c_str()));
    EXPECT_EQ(520u, s.Capacity());
    EXPECT_EQ(300, s.Length());
    EXPECT_EQ(text, s.Text());
    for (int i = 301; i < 520; ++i)
        ASSERT_EQ(0, *s.At(i)) << i;
    // A reused string keeps its capacity for the next output.
    ASSERT_EQ(1, s.Format("%d", 5));
    EXPECT_EQ(520u, s.Capacity());
    EXPECT_STREQ("5", s.Text());
}

TEST(TextStringFormat, GrowthStepsWidenWithTheCapacity) {
    TextString s;
    std::string text(11000, 'h');
    ASSERT_EQ(1, s.Format("%s", text.c_str()));
    // 260-byte steps up to 10400, then one step of 10240.
    EXPECT_EQ(20640u, s.Capacity());
    EXPECT_EQ(11000, s.Length());
    TextString large(409601);
    std::string huge(409601, 'i');
    ASSERT_EQ(1, large.Format("%s", huge.c_str()));
    EXPECT_EQ(819201u, large.Capacity());
    TextString middle(102401);
    std::string mid(102401, 'j');
    ASSERT_EQ(1, middle.Format("%s", mid.c_str()));
    EXPECT_EQ(204801u, middle.Capacity());
}

TEST(TextStringFormat, OutputBeyondThreeMegabytesGivesUp) {
    TextString s;
    s.Assign("old");
    // Large enough not to fit the last step below the limit either (3,276,960 bytes).
    std::string text(3500000, 'k');
    EXPECT_EQ(0, s.Format("%s", text.c_str()));
    EXPECT_EQ(260u, s.Capacity());
    EXPECT_EQ(0, s.Length());
    // The string is usable again afterwards.
    ASSERT_EQ(1, s.Format("%s-%d", "ok", 1));
    EXPECT_STREQ("ok-1", s.Text());
}

TEST(TextStringFormat, DialectWithI64AndTheUsualConversions) {
    TextString s;
    ASSERT_EQ(1, s.Format("%I64u", 9223372036854775808ULL));
    EXPECT_STREQ("9223372036854775808", s.Text());
    ASSERT_EQ(1, s.Format("%I64i|%I64X|%I64x", -5LL, 0x1234ABCD5678EF01LL, 255LL));
    EXPECT_STREQ("-5|1234ABCD5678EF01|ff", s.Text());
    ASSERT_EQ(1, s.Format("%u %d %s %% %c %5.2f %08X", 4000000000u, -7, "str", 'c', 3.14159, 0xBEEFu));
    EXPECT_STREQ("4000000000 -7 str % c  3.14 0000BEEF", s.Text());
    ASSERT_EQ(1, s.Format("%I64u.%u", 18446744073709551615ULL, 3u));
    EXPECT_STREQ("18446744073709551615.3", s.Text());
}

TEST(TextStringFormat, EmptyOutputAndTinyCapacity) {
    TextString s(1);
    ASSERT_EQ(1, s.Format("%s", ""));
    EXPECT_EQ(1u, s.Capacity());
    EXPECT_EQ(0, s.Length());
    ASSERT_EQ(1, s.Format("x"));
    EXPECT_EQ(261u, s.Capacity());
    EXPECT_STREQ("x", s.Text());
}

// ---- Tokenizing ----------------------------------------------------------------------------------------

TEST(TextStringTokenize, SplitsAndSkipsEmptyTokens) {
    TextString s;
    s.Assign("\\update\\\\files\\file");
    char *token = s.Tokenize(1, "\\");
    ASSERT_NE(nullptr, token);
    EXPECT_STREQ("update", token);
    EXPECT_EQ(7, s.Length()); // the leading delimiter stays, the one after the token is cut
    token = s.Tokenize(0, "\\");
    ASSERT_NE(nullptr, token);
    EXPECT_STREQ("files", token);
    token = s.Tokenize(0, "\\");
    ASSERT_NE(nullptr, token);
    EXPECT_STREQ("file", token);
    EXPECT_EQ(nullptr, s.Tokenize(0, "\\"));
}

namespace {
struct TokenThread {
    char first[16];
    char second[16];
};
DWORD WINAPI TokenizeOnAnotherThread(void *param) {
    auto *result = static_cast<TokenThread *>(param);
    TextString s;
    s.Assign("x;y;z");
    strcpy(result->first, s.Tokenize(1, ";"));
    strcpy(result->second, s.Tokenize(0, ";"));
    return 0;
}
} // namespace

TEST(TextStringTokenize, EachThreadHasItsOwnContinuation) {
    TextString s;
    s.Assign("a,b,c");
    ASSERT_STREQ("a", s.Tokenize(1, ","));
    TokenThread other = {};
    HANDLE thread = CreateThread(nullptr, 0, TokenizeOnAnotherThread, &other, 0, nullptr);
    ASSERT_NE(nullptr, thread);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 10000));
    CloseHandle(thread);
    EXPECT_STREQ("x", other.first);
    EXPECT_STREQ("y", other.second);
    char *token = s.Tokenize(0, ",");
    ASSERT_NE(nullptr, token);
    EXPECT_STREQ("b", token);
}

// ---- Free functions ------------------------------------------------------------------------------------

TEST(TextFunctions, IsSpaceFollowsTheCharacterClass) {
    for (char c : {' ', '\t', '\n', '\r', '\v', '\f'})
        EXPECT_EQ(1, IsSpace(c)) << static_cast<int>(c);
    for (char c : {'a', '0', '_', '\0', '"'})
        EXPECT_EQ(0, IsSpace(c)) << static_cast<int>(c);
}

TEST(TextFunctions, TrimTrailingBlanksOnlyTakesSpaces) {
    char text[] = "name \t  ";
    EXPECT_EQ(6, TrimTrailingBlanks(text));
    EXPECT_STREQ("name \t", text);
    char blanks[] = "   ";
    EXPECT_EQ(0, TrimTrailingBlanks(blanks));
    EXPECT_STREQ("", blanks);
}

TEST(TextFunctions, LineBreaksToBlanks) {
    char text[] = "a\r\nb\nc\r";
    LineBreaksToBlanks(text);
    EXPECT_STREQ("a  b c ", text);
}

TEST(TextFunctions, StripQuotesRemovesFirstAndLastByte) {
    char quoted[] = "\"C:\\Program Files\\x\"";
    StripQuotes(quoted);
    EXPECT_STREQ("C:\\Program Files\\x", quoted);
    char unbalanced[] = "\"abc";
    StripQuotes(unbalanced);
    EXPECT_STREQ("ab", unbalanced); // the last byte goes whatever it is
    char plain[] = "abc\"";
    StripQuotes(plain);
    EXPECT_STREQ("abc\"", plain);
    char lone[] = "\"";
    StripQuotes(lone);
    EXPECT_STREQ("", lone);
    char pair[] = "\"\"";
    StripQuotes(pair);
    EXPECT_STREQ("", pair);
}

TEST(TextFunctions, StripExtensionCutsOnlyShortExtensions) {
    char ini[] = "name.ini";
    StripExtension(ini, 3);
    EXPECT_STREQ("name", ini);
    char backup[] = "archive.backup";
    StripExtension(backup, 3);
    EXPECT_STREQ("archive.backup", backup);
    char twoDots[] = "a.b.cd";
    StripExtension(twoDots, 3);
    EXPECT_STREQ("a.b", twoDots);
    char bareDot[] = "name.";
    StripExtension(bareDot, 3);
    EXPECT_STREQ("name", bareDot);
    char none[] = "Tarvex";
    StripExtension(none, 3);
    EXPECT_STREQ("Tarvex", none);
    char folder[] = "C:\\a.b\\c"; // a dot in a folder name is no extension
    StripExtension(folder, 3);
    EXPECT_STREQ("C:\\a.b\\c", folder);
}

TEST(TextFunctions, SkipFirstTokenHonoursQuotes) {
    const char *line = "\"C:\\Program Files\\t.exe\" -u 30";
    EXPECT_STREQ("-u 30", SkipFirstToken(line));
    EXPECT_STREQ("-s", SkipFirstToken("t.exe -s"));
    EXPECT_STREQ("", SkipFirstToken("t.exe"));
    EXPECT_STREQ("", SkipFirstToken("\"unterminated quote -s"));
    EXPECT_STREQ(" x", SkipFirstToken("a  x"));
}

TEST(TextFunctions, FileNamePartSkipsATrailingSeparator) {
    EXPECT_STREQ("dir\\", FileNamePart("C:\\dir\\"));
    EXPECT_STREQ("Tarvex.exe", FileNamePart("C:\\Program Files/Tarvex.exe"));
    EXPECT_STREQ("name", FileNamePart("name"));
    EXPECT_STREQ("\\", FileNamePart("\\"));
    EXPECT_STREQ("", FileNamePart(""));
}

TEST(TextFunctions, ExtensionOfStopsAtTheQueryAndForgetsAtSeparators) {
    TextString out;
    out.Assign("stale");
    ExtensionOf("file.php?x=a.b", out);
    EXPECT_STREQ(".php", out.Text());
    ExtensionOf("dir.d/file", out);
    EXPECT_STREQ("", out.Text());
    ExtensionOf("C:\\x.y\\setup.tar.zip", out);
    EXPECT_STREQ(".zip", out.Text());
    ExtensionOf("name.ext with space", out);
    EXPECT_STREQ("", out.Text());
    ExtensionOf("noext", out);
    EXPECT_EQ(0, out.Length());
}

TEST(TextFunctions, CutToParentKeepsDriveRoots) {
    char one[] = "dir";
    EXPECT_EQ(1, CutToParent(one));
    EXPECT_STREQ("", one);
    char root[] = "C:\\";
    EXPECT_EQ(0, CutToParent(root));
    EXPECT_STREQ("C:\\", root);
    char file[] = "C:\\dir\\file";
    EXPECT_EQ(1, CutToParent(file));
    EXPECT_STREQ("C:\\dir", file);
    EXPECT_EQ(1, CutToParent(file));
    EXPECT_STREQ("C:\\", file);
    EXPECT_EQ(0, CutToParent(file));
    char unc[] = "\\\\server\\share\\x";
    EXPECT_EQ(1, CutToParent(unc));
    EXPECT_STREQ("\\\\server\\share", unc);
    char empty[] = "";
    EXPECT_EQ(0, CutToParent(empty));
    char separators[] = "\\\\";
    EXPECT_EQ(0, CutToParent(separators));
    char stream[] = "file:name";
    EXPECT_EQ(0, CutToParent(stream));
    EXPECT_STREQ("file:name", stream);
}

// ---- Double-byte code page -----------------------------------------------------------------------------
// Run with a Japanese locale (LC_ALL=ja_JP.UTF-8 and TARVEX_TEXT_DBCS=1) to exercise code page 932.

class TextStringDoubleByte : public ::testing::Test {
protected:
    void SetUp() override {
        if (GetACP() == 932)
            return;
        if (DoubleByteRunRequested())
            FAIL() << "code page 932 was requested but the system code page is " << GetACP();
        GTEST_SKIP() << "needs system code page 932";
    }
};

// 0x95 0x5C is one character whose trail byte is the backslash; 0x83 0x41 and 0x83 0x61 are two different
// katakana whose trail bytes are 'A' and 'a'.
TEST_F(TextStringDoubleByte, TrailBytesAreNeverSeparatorsOrLetters) {
    TextString s;
    s.Assign("C:\\\x95\x5C");
    EXPECT_EQ(2, s.ReverseFindIndex('\\'));
    EXPECT_EQ(2, s.FindIndex('\\'));
    EXPECT_STREQ("\x95\x5C", FileNamePart(s.Text()));
    s.Assign("\x83\x41");
    EXPECT_NE(0, s.CompareNoCase("\x83\x61"));
    EXPECT_EQ(0, s.CompareNoCase("\x83\x41"));
    s.Assign("x\x83\x61X");
    EXPECT_EQ(-1, s.FindNoCase("a"));
    EXPECT_EQ(3, s.FindNoCase("x", 1));
}

TEST_F(TextStringDoubleByte, EditingKeepsCharactersWhole) {
    TextString s;
    s.Assign("\x95\x5C\\b\x95\x5C");
    EXPECT_STREQ("\x95\x5C/b\x95\x5C", s.Replace("\\", "/", 1));
    char path[] = "dir\\\x95\x5C";
    EXPECT_EQ(1, CutToParent(path));
    EXPECT_STREQ("dir", path);
    s.Assign("\x95\x5C\\\x95\x5C");
    char *token = s.Tokenize(1, "\\");
    ASSERT_NE(nullptr, token);
    EXPECT_STREQ("\x95\x5C", token);
    token = s.Tokenize(0, "\\");
    ASSERT_NE(nullptr, token);
    EXPECT_STREQ("\x95\x5C", token);
}

TEST_F(TextStringDoubleByte, WideTextNeedingTwoBytesPerUnitFits) {
    TextString s;
    std::wstring wide(200, L'\x3042'); // hiragana a: two bytes each
    ASSERT_EQ(1, s.Assign(wide.c_str()));
    EXPECT_EQ(400, s.Length());
    TextString appended;
    appended.Assign("x");
    ASSERT_EQ(1, appended.Append(wide.c_str()));
    EXPECT_EQ(401, appended.Length());
    const wchar_t *back = s.Wide();
    ASSERT_NE(nullptr, back);
    EXPECT_EQ(wide, back);
}
