// CommandLine parsing rules, quoting, command files on disk, nesting bounds and the usage text.
#include "base/CommandLine.h"
#include "tests/common/TempFolder.h"
#include <gtest/gtest.h>
#include <cstring>
#include <algorithm>
#include <string>
#include <vector>

namespace {
const char kAppUsage[] = "   @<file> [command file]\n"
                         "   -s [auto start the cpu grabbing]\n"
                         "   -u 50 [set cpu grabbing percentage]\n";

std::vector<std::string> Arguments(const CommandLine &parser) {
    std::vector<std::string> arguments;
    for (int i = 0; i < parser.ArgumentCount(); ++i)
        arguments.push_back(parser.Argument(i));
    return arguments;
}

std::string UsageOf(const CommandLine &parser) {
    TextString out;
    EXPECT_EQ(1, parser.Usage(out));
    return out.Text();
}

// The table the application registers.
class AppCommandLine : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(1, parser_.AddOption("s", SwitchOption, 0, "auto start the cpu grabbing"));
        ASSERT_EQ(1, parser_.AddOption("u", NumberOption, 50, "set cpu grabbing percentage"));
    }
    int Line(const char *line) { return parser_.ParseLine(line); }
    int64_t U() const { return parser_.Value("u"); }
    int64_t S() const { return parser_.Value("s"); }

    CommandLine parser_;
};

// The same table with a temporary folder for command files.
class AppCommandFiles : public AppCommandLine {
protected:
    void SetUp() override {
        AppCommandLine::SetUp();
        ASSERT_TRUE(folder_.Valid());
    }
    std::string File(const char *name, const std::string &content) {
        EXPECT_EQ(1, folder_.WriteFile(name, content));
        return folder_.File(name);
    }
    // '@' and the quoted path, so that spaces in the temporary folder cannot split it.
    std::string At(const std::string &path) { return "@\"" + path + "\""; }

    TempFolder folder_{"CommandLine"};
};
} // namespace

// --- the whole command line ------------------------------------------------------------------------

TEST_F(AppCommandLine, ProgramNameAloneKeepsTheDefaults) {
    EXPECT_EQ(1, parser_.Parse("Tarvex.exe"));
    EXPECT_EQ(1, parser_.Parse("Tarvex.exe    "));
    EXPECT_EQ(1, parser_.Parse("\"C:\\Program Files\\Tarvex\\Tarvex.exe\" "));
    EXPECT_EQ(1, parser_.Parse(""));
    EXPECT_EQ(50, U());
    EXPECT_EQ(0, S());
    EXPECT_EQ(0, parser_.ArgumentCount());
    EXPECT_EQ(kAppUsage, UsageOf(parser_));
}

TEST_F(AppCommandLine, QuotedProgramNameWithSpacesIsSkippedWhole) {
    EXPECT_EQ(1, parser_.Parse("\"C:\\Program Files\\Tarvex.exe\" -u 70 -s"));
    EXPECT_EQ(70, U());
    EXPECT_EQ(1, S());
    EXPECT_EQ(0, parser_.ArgumentCount());
}

// --- options ---------------------------------------------------------------------------------------

TEST_F(AppCommandLine, NumberSpellingsAndPrefixes) {
    const struct {
        const char *line;
        int64_t value;
    } cases[] = {{"-u 70", 70},  {"-u70", 70},  {"/u 70", 70},   {"-U 70", 70},  {"-u 0x20", 32},
                 {"-u 010", 8},  {"-u -5", -5}, {"-u +7", 7},    {"-u\t12", 12}, {"-u 0X1f", 31},
                 {"-u    9", 9}, {"-u 08", 0},  {"-u 70abc", 70}};
    for (const auto &c : cases) {
        CommandLine parser;
        ASSERT_EQ(1, parser.AddOption("u", NumberOption, 50, "set cpu grabbing percentage"));
        EXPECT_EQ(1, parser.ParseLine(c.line)) << c.line;
        EXPECT_EQ(c.value, parser.Value("u")) << c.line;
        EXPECT_EQ(0, parser.ArgumentCount()) << c.line;
    }
}

TEST_F(AppCommandLine, NumbersOutsideTheirBoundsFailAndKeepTheValue) {
    // u bounded to 32 bits (signed or unsigned) as the application has it; n with the full 64 bits.
    const struct {
        const char *line;
        int result;
        int64_t u, n;
    } cases[] = {
        {"-u 4294967295", 1, 4294967295, 7},
        {"-u 037777777777", 1, 4294967295, 7},
        {"-u -2147483648", 1, INT32_MIN, 7},
        {"-u 0x100000000", 0, 50, 7},
        {"-u -2147483649", 0, 50, 7},
        {"-u 99999999999999999999999", 0, 50, 7},
        {"-n -9223372036854775808", 1, 50, INT64_MIN},
        {"-n 9223372036854775808", 0, 50, 7},
    };
    for (const auto &c : cases) {
        CommandLine parser;
        ASSERT_EQ(
            1, parser.AddOption("u", NumberOption, 50, "", CommandLine::Min32Bits, CommandLine::Max32Bits));
        ASSERT_EQ(1, parser.AddOption("n", NumberOption, 7, ""));
        // The number is swallowed either way and the line goes on.
        EXPECT_EQ(c.result, parser.ParseLine((std::string(c.line) + " x").c_str())) << c.line;
        EXPECT_EQ(c.u, parser.Value("u")) << c.line;
        EXPECT_EQ(c.n, parser.Value("n")) << c.line;
        EXPECT_EQ((std::vector<std::string>{"x"}), Arguments(parser)) << c.line;
    }
}

TEST_F(AppCommandLine, NumberOptionWithoutNumberKeepsItsValueAndSwallowsTheWord) {
    EXPECT_EQ(1, Line("-u"));
    EXPECT_EQ(50, U());
    EXPECT_EQ(1, Line("-u abc"));
    EXPECT_EQ(50, U());
    EXPECT_EQ(1, Line("-usage"));
    EXPECT_EQ(50, U());
    EXPECT_EQ(0, parser_.ArgumentCount());
    // The word after the option is its value even when it looks like an option.
    EXPECT_EQ(1, Line("-u -s"));
    EXPECT_EQ(0, S());
}

TEST_F(AppCommandLine, UnknownOptionFailsAndBecomesAFreeArgument) {
    EXPECT_EQ(0, Line("-x"));
    EXPECT_EQ((std::vector<std::string>{"x"}), Arguments(parser_));
    EXPECT_EQ(kAppUsage, UsageOf(parser_));
}

TEST_F(AppCommandLine, ValuesReadAroundAProblemStay) {
    EXPECT_EQ(0, Line("-u 70 -x -s"));
    EXPECT_EQ(70, U());
    EXPECT_EQ(1, S());
    EXPECT_EQ("   @<file> [command file]\n"
              "   -s [auto start the cpu grabbing]\n"
              "   -u 70 [set cpu grabbing percentage]\n",
              UsageOf(parser_));
}

TEST_F(AppCommandLine, SwitchesAndGluedText) {
    EXPECT_EQ(1, Line("-S"));
    EXPECT_EQ(1, S());
    CommandLine glued;
    ASSERT_EQ(1, glued.AddOption("s", SwitchOption, 0, ""));
    EXPECT_EQ(1, glued.ParseLine("-s5"));
    EXPECT_EQ(1, glued.Value("s"));
    EXPECT_EQ((std::vector<std::string>{"5"}), Arguments(glued));
}

TEST_F(AppCommandLine, PrefixesWithoutAName) {
    // "-" alone names nothing; "--s" is an unknown "-s..." word whose remainder is the switch.
    EXPECT_EQ(0, Line("-"));
    EXPECT_EQ(0, parser_.ArgumentCount());
    EXPECT_EQ(0, Line("--s"));
    EXPECT_EQ(1, S());
    EXPECT_EQ(0, parser_.ArgumentCount());
    EXPECT_EQ(0, Line("/"));
}

TEST_F(AppCommandLine, OnlyTheSpaceSeparates) {
    EXPECT_EQ(1, Line("\t a\tb \t"));
    EXPECT_EQ((std::vector<std::string>{"a\tb"}), Arguments(parser_));
    EXPECT_EQ(1, Line("x\t-q"));
    EXPECT_EQ((std::vector<std::string>{"a\tb", "x\t-q"}), Arguments(parser_));
}

TEST_F(AppCommandLine, HexOptions) {
    ASSERT_EQ(1, parser_.AddOption("m", HexOption, 0x10, "mask"));
    EXPECT_EQ("   @<file> [command file]\n"
              "   -s [auto start the cpu grabbing]\n"
              "   -u 50 [set cpu grabbing percentage]\n"
              "   -m 0x10 [mask]\n",
              UsageOf(parser_));
    EXPECT_EQ(1, Line("-m ff"));
    EXPECT_EQ(255, parser_.Value("m"));
    EXPECT_EQ(1, Line("-M0x1F"));
    EXPECT_EQ(31, parser_.Value("m"));
    EXPECT_EQ(1, Line("-m -1"));
    EXPECT_EQ(-1, parser_.Value("m"));
    EXPECT_NE(std::string::npos, UsageOf(parser_).find("   -m 0xFFFFFFFFFFFFFFFF [mask]\n"));
}

TEST_F(AppCommandLine, TextOptions) {
    ASSERT_EQ(1, parser_.AddTextOption("name", "", "who"));
    EXPECT_NE(std::string::npos, UsageOf(parser_).find("   -name [who]\n"));
    EXPECT_EQ(1, Line("-name \"Ada Lovelace\""));
    EXPECT_STREQ("Ada Lovelace", parser_.Text("NAME"));
    EXPECT_NE(std::string::npos, UsageOf(parser_).find("   -name Ada Lovelace [who]\n"));
    EXPECT_EQ(1, Line("-namebob"));
    EXPECT_STREQ("bob", parser_.Text("name"));
    // Without a value the entry is passed over; nothing else matches "name".
    EXPECT_EQ(0, Line("-name   "));
    EXPECT_EQ((std::vector<std::string>{"name"}), Arguments(parser_));
    EXPECT_STREQ("bob", parser_.Text("name"));
}

TEST_F(AppCommandLine, TextOptionWithoutValueGivesWayToALaterEntry) {
    CommandLine parser;
    ASSERT_EQ(1, parser.AddTextOption("n", "", "text"));
    ASSERT_EQ(1, parser.AddOption("n", SwitchOption, 0, "switch"));
    EXPECT_EQ(1, parser.ParseLine("-n"));
    EXPECT_EQ(1, parser.Value("n"));
    EXPECT_EQ(1, parser.ParseLine("-n word"));
    EXPECT_STREQ("word", parser.Text("n"));
}

// --- registration and look-up ----------------------------------------------------------------------

TEST_F(AppCommandLine, ValueLooksUpWholeNamesInAnyCase) {
    EXPECT_EQ(50, parser_.Value("U"));
    EXPECT_EQ(0, parser_.Value("unknown"));
    EXPECT_EQ(0, parser_.Value(""));
    EXPECT_EQ(0, parser_.Value(nullptr));
    EXPECT_EQ(nullptr, parser_.Text("u"));
    EXPECT_EQ(nullptr, parser_.Argument(0));
    EXPECT_EQ(nullptr, parser_.Argument(-1));
}

TEST_F(AppCommandLine, RegistrationRejectsWhatTheTableCannotHold) {
    EXPECT_EQ(0, parser_.AddOption("t", TextOption, 0, "text through the number form"));
    EXPECT_EQ(0, parser_.AddOption("f", FreeArgument, 0, ""));
    EXPECT_EQ(0, parser_.AddOption("z", 5, 0, ""));
    EXPECT_EQ(0, parser_.AddOption("z", -1, 0, ""));
    EXPECT_EQ(0, parser_.AddOption("", SwitchOption, 0, "would match every word"));
    EXPECT_EQ(0, parser_.AddOption(nullptr, SwitchOption, 0, ""));
    EXPECT_EQ(0, parser_.AddTextOption("", "", ""));
    EXPECT_EQ(kAppUsage, UsageOf(parser_));
}

TEST_F(AppCommandLine, DuplicateNamesAreAllowedAndTheFirstWins) {
    ASSERT_EQ(1, parser_.AddOption("u", NumberOption, 7, "again"));
    EXPECT_EQ(50, U());
    EXPECT_EQ(1, Line("-u 3"));
    EXPECT_EQ(3, U());
    EXPECT_NE(std::string::npos, UsageOf(parser_).find("   -u 7 [again]\n"));
}

TEST_F(AppCommandLine, ParsingTwiceAddsTheFreeArgumentsTwice) {
    EXPECT_EQ(1, Line("-u 70 a"));
    EXPECT_EQ(1, Line("a"));
    EXPECT_EQ(70, U());
    EXPECT_EQ((std::vector<std::string>{"a", "a"}), Arguments(parser_));
}

// --- quoting ---------------------------------------------------------------------------------------

TEST_F(AppCommandLine, QuotedFreeArguments) {
    const struct {
        const char *line;
        std::vector<std::string> arguments;
    } cases[] = {
        {"\"a b\"", {"a b"}},
        {"\"a\"\"\"\"b\"", {"a\"b"}},
        {"\"a\"\"b c\"", {"a\"b c"}},
        {"\"", {""}},
        {"\"\"", {""}},
        {"\"\" x", {"", "x"}},
        {"a\"b c\"d e", {"a\"b c\"d", "e"}},
        {"\"x\" y", {"x", "y"}},
        {"\"-u 5 @missing\"", {"-u 5 @missing"}},
        {"100%s%n", {"100%s%n"}},
    };
    for (const auto &c : cases) {
        CommandLine parser;
        ASSERT_EQ(1, parser.AddOption("u", NumberOption, 50, ""));
        EXPECT_EQ(1, parser.ParseLine(c.line)) << c.line;
        EXPECT_EQ(c.arguments, Arguments(parser)) << c.line;
        EXPECT_EQ(50, parser.Value("u")) << c.line;
    }
}

TEST_F(AppCommandLine, UnclosedQuoteTakesTheRestOfTheLine) {
    EXPECT_EQ(1, Line("a \"b -x @missing c"));
    EXPECT_EQ(2, parser_.ArgumentCount());
    EXPECT_STREQ("a", parser_.Argument(0));
}

TEST_F(AppCommandLine, VeryLongWordsStayWhole) {
    std::string word(5000, 'w');
    word[0] = 'A';
    word[4999] = 'Z';
    EXPECT_EQ(1, Line(("-s " + word + " -u 1").c_str()));
    EXPECT_EQ((std::vector<std::string>{word}), Arguments(parser_));
    EXPECT_EQ(1, U());
    std::string option = "-q" + std::string(4000, 'q');
    EXPECT_EQ(0, Line(option.c_str()));
    EXPECT_EQ(option.substr(1), parser_.Argument(1));
}

// --- command files ---------------------------------------------------------------------------------

TEST_F(AppCommandFiles, CommandFileWithCrLfLines) {
    std::string name = File("options.txt", "-u 30\r\n");
    EXPECT_EQ(1, Line(At(name).c_str()));
    EXPECT_EQ(30, U());
}

TEST_F(AppCommandFiles, UnquotedNameAndWordsAroundIt) {
    std::string name = File("words.txt", "x\r\n\r\n-s\r\ny z\r\n");
    if (name.find(' ') != std::string::npos)
        GTEST_SKIP() << "temporary folder has a space in its path";
    EXPECT_EQ(1, Line(("a @" + name + " b").c_str()));
    EXPECT_EQ(1, S());
    EXPECT_EQ((std::vector<std::string>{"a", "x", "y", "z", "b"}), Arguments(parser_));
}

TEST_F(AppCommandFiles, FileNameWithSpaces) {
    std::string name = File("with space.txt", "-u 12");
    EXPECT_EQ(1, Line(At(name).c_str()));
    EXPECT_EQ(12, U());
}

TEST_F(AppCommandFiles, MissingEmptyAndUnopenableFiles) {
    EXPECT_EQ(0, Line((At(folder_.File("missing.txt")) + " -u 20").c_str()));
    EXPECT_EQ(20, U()); // parsing goes on after the name
    EXPECT_EQ(1, Line(At(File("empty.txt", "")).c_str()));
    EXPECT_EQ(0, Line(At(folder_.Path()).c_str())); // a folder is no command file
    EXPECT_EQ(0, parser_.ArgumentCount());
}

TEST_F(AppCommandFiles, AtSignWithoutNameEndsTheLine) {
    EXPECT_EQ(0, Line("-s @"));
    EXPECT_EQ(1, S());
    EXPECT_EQ(0, Line("@   "));
    EXPECT_EQ(0, parser_.ArgumentCount());
}

TEST_F(AppCommandFiles, FailingLineSkipsTheRestOfItsFileOnly) {
    std::string name = File("bad.txt", "-u 30\n-q\n-u 40\nnever\n");
    EXPECT_EQ(0, Line((At(name) + " -s after").c_str()));
    EXPECT_EQ(30, U());
    EXPECT_EQ(1, S());
    EXPECT_EQ((std::vector<std::string>{"q", "after"}), Arguments(parser_));
}

TEST_F(AppCommandFiles, NestedFilesShareTheTable) {
    std::string inner = File("inner.txt", "-u 61\ninner");
    std::string outer = File("outer.txt", "outer1\n" + At(inner) + "\nouter2\n");
    EXPECT_EQ(1, Line(At(outer).c_str()));
    EXPECT_EQ(61, U());
    EXPECT_EQ((std::vector<std::string>{"outer1", "inner", "outer2"}), Arguments(parser_));
}

TEST_F(AppCommandFiles, FileThatNamesItselfEndsAtTheDepthLimit) {
    std::string self = folder_.File("self.txt");
    File("self.txt", "w\n" + At(self) + "\n-u 77\n");
    EXPECT_EQ(0, Line(At(self).c_str()));
    // One "w" per nesting level; the line after the failing one is never read.
    EXPECT_EQ(CommandLine::MaxFileDepth, parser_.ArgumentCount());
    EXPECT_EQ(50, U());
}

TEST_F(AppCommandFiles, CycleThroughTwoFilesEndsAtTheDepthLimit) {
    std::string a = folder_.File("a.txt"), b = folder_.File("b.txt");
    File("a.txt", "a\n" + At(b) + "\n");
    File("b.txt", "b\n" + At(a) + "\n");
    EXPECT_EQ(0, Line((At(a) + " -s").c_str()));
    EXPECT_EQ(CommandLine::MaxFileDepth, parser_.ArgumentCount());
    EXPECT_STREQ("a", parser_.Argument(0));
    EXPECT_STREQ("b", parser_.Argument(1));
    EXPECT_EQ(1, S());
}

TEST_F(AppCommandFiles, SelfReferencesThatBranchAreBoundedToo) {
    // Three references per line would mean 3^16 openings; the per-parse budget stops that.
    std::string self = folder_.File("branch.txt");
    File("branch.txt", "w\n" + At(self) + " " + At(self) + " " + At(self) + "\n");
    EXPECT_EQ(0, Line(At(self).c_str()));
    EXPECT_GT(parser_.ArgumentCount(), CommandLine::MaxFileDepth);
    EXPECT_LE(parser_.ArgumentCount(), CommandLine::MaxFilesPerParse);
    // The budget belongs to one parse: the next line may open files again.
    EXPECT_EQ(1, Line(At(File("again.txt", "-u 5")).c_str()));
    EXPECT_EQ(5, U());
}

TEST_F(AppCommandFiles, DeepButFiniteNestingWithinTheLimitSucceeds) {
    std::string next = File("level0.txt", "-u 88");
    for (int level = 1; level < CommandLine::MaxFileDepth; ++level)
        next = File(("level" + std::to_string(level) + ".txt").c_str(), At(next));
    EXPECT_EQ(1, Line(At(next).c_str()));
    EXPECT_EQ(88, U());
    EXPECT_EQ(0, Line(At(File("toodeep.txt", At(next))).c_str()));
}

TEST_F(AppCommandFiles, BytesOfTheCodePageSurviveTheFile) {
    std::string name = File("ansi.txt", "caf\xE9 \x80uro\r\n");
    EXPECT_EQ(1, Line(At(name).c_str()));
    EXPECT_EQ((std::vector<std::string>{"caf\xE9", "\x80uro"}), Arguments(parser_));
}

namespace {
struct ParseJob {
    CommandLine *parser;
    std::string line;
    int result;
};

DWORD WINAPI RunParseJob(void *context) {
    auto *job = static_cast<ParseJob *>(context);
    job->result = job->parser->ParseLine(job->line.c_str());
    return 0;
}

// The parse runs on a thread of its own, so that a file read that waits for ever fails the test instead of
// hanging it; -1 when it has not ended in time (the thread is then ended by force).
int ParseWithin(CommandLine &parser, const std::string &line) {
    ParseJob job = {&parser, line, -1};
    HANDLE thread = CreateThread(nullptr, 0, &RunParseJob, &job, 0, nullptr);
    if (WaitForSingleObject(thread, 10000) != WAIT_OBJECT_0)
        TerminateThread(thread, 1);
    WaitForSingleObject(thread, 5000);
    CloseHandle(thread);
    return job.result;
}
} // namespace

TEST_F(AppCommandFiles, DevicesPipesAndFoldersFailLikeMissingFilesWithoutWaiting) {
    // A pipe whose server never writes; Z:\dev\zero is a device that only its file type gives away.
    const std::string pipe = "\\\\.\\pipe\\TarvexCommandLine" + std::to_string(GetCurrentProcessId());
    HANDLE server = CreateNamedPipeA(pipe.c_str(), PIPE_ACCESS_DUPLEX, 0, 1, 4096, 4096, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, server);
    const std::string folder = folder_.Path();
    for (const std::string &name :
         {std::string("NUL"), std::string("C:\\Windows\\nul.txt"), std::string("C:NUL  .cfg"),
          std::string("COM1:"), std::string("CONIN$"), std::string("//./NUL"),
          std::string("\\\\?\\GLOBALROOT\\Device\\Null"), pipe, folder.substr(0, folder.size() - 1),
          std::string("Z:\\dev\\zero")}) {
        CommandLine parser;
        ASSERT_EQ(1, parser.AddOption("u", NumberOption, 50, ""));
        EXPECT_EQ(0, ParseWithin(parser, At(name) + " -u 20")) << name;
        EXPECT_EQ(20, parser.Value("u")) << name;
    }
    CloseHandle(server);
    // The long-path and forward-slash spellings of a real file are still files.
    std::string real = File("real.txt", "-u 33"), slashes = real;
    std::replace(slashes.begin(), slashes.end(), '\\', '/');
    EXPECT_EQ(1, ParseWithin(parser_, At("\\\\?\\" + real) + " " + At(slashes)));
    EXPECT_EQ(33, U());
}

namespace {
// UTF-16 with its byte-order mark, as an editor saves it.
std::string Utf16File(const std::wstring &text, int bigEndian) {
    std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (wchar_t unit : text)
        bytes +=
            bigEndian ? std::string{char(unit >> 8), char(unit)} : std::string{char(unit), char(unit >> 8)};
    return bytes;
}
} // namespace

TEST_F(AppCommandFiles, ByteOrderMarksAreSkippedAndUnicodeFilesConverted) {
    char cafe[16] = {}; // the same word in the system code page
    WideCharToMultiByte(CP_ACP, 0, L"caf\u00E9", -1, cafe, sizeof cafe, nullptr, nullptr);
    const std::string utf8 = "\xEF\xBB\xBF";
    const struct {
        std::string content;
        int64_t u;
        std::vector<std::string> arguments;
    } cases[] = {
        {utf8 + "-u 30\r\ncaf\xC3\xA9", 30, {cafe}},
        {utf8, 50, {}},
        {Utf16File(L"-u 32\r\ncaf\u00E9\r\n", 0), 32, {cafe}},
        {Utf16File(L"-u 33\nword", 1), 33, {"word"}},
        // No mark: the bytes as they are, even where they look like one.
        {"\xFFx -u 34\r\n" + utf8 + "y", 34, {"\xFFx", utf8 + "y"}},
    };
    for (const auto &c : cases) {
        CommandLine parser;
        ASSERT_EQ(1, parser.AddOption("u", NumberOption, 50, ""));
        EXPECT_EQ(1, parser.ParseLine(At(File("marked.txt", c.content)).c_str())) << c.content;
        EXPECT_EQ(c.u, parser.Value("u")) << c.content;
        EXPECT_EQ(c.arguments, Arguments(parser)) << c.content;
    }
}

// --- usage text ------------------------------------------------------------------------------------

TEST_F(AppCommandLine, UsageTakesNamesAndHelpLiterally) {
    CommandLine parser;
    ASSERT_EQ(1, parser.AddOption("p%s", SwitchOption, 0, "100% sure %n %s"));
    ASSERT_EQ(1, parser.AddOption("quiet", SwitchOption, 0, ""));
    ASSERT_EQ(1, parser.AddOption("n", NumberOption, -5, nullptr));
    EXPECT_EQ("   @<file> [command file]\n"
              "   -p%s [100% sure %n %s]\n"
              "   -quiet \n"
              "   -n -5 \n",
              UsageOf(parser));
}

// --- the mistake named for the user ----------------------------------------------------------------

namespace {
int EvenLength(const char *value) {
    return strlen(value) % 2 == 0;
}
} // namespace

TEST_F(AppCommandFiles, TheFirstMistakeIsNamedWithItsFileAndLine) {
    ASSERT_EQ(1, parser_.AddTextOption("e", "", "even", EvenLength));
    // Names without spaces, so that the sentences can be written out here; relative to the test's folder.
    ASSERT_EQ(1, folder_.WriteFile("inner.txt", "-s\r\n\r\n-e abc\r\n"));
    ASSERT_EQ(1, folder_.WriteFile("outer.txt", "-u 1\n@inner.txt\n-z\n"));
    ASSERT_EQ(1, folder_.WriteFile("self.txt", "@self.txt\n"));
    char previous[MAX_PATH] = {};
    GetCurrentDirectoryA(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryA(folder_.Path()));

    const struct {
        const char *line, *problem;
    } cases[] = {
        {"-u 10 -s", ""},
        {"-z", "Unknown option \"-z\"."},
        {"/zap -q", "Unknown option \"/zap\"."},
        {"-u 99999999999999999999 -z",
         "The number \"99999999999999999999\" of option \"-u\" is out of range."},
        {"-e abc", "\"abc\" is no value for option \"-e\"."},
        {"-e", "Option \"-e\" needs a value."},
        {"-s @", "\"@\" without a file name."},
        {"@missing.txt", "Cannot read the command file \"missing.txt\"."},
        {"@inner.txt -z", "\"abc\" is no value for option \"-e\" in inner.txt, line 3."},
        {"@outer.txt", "\"abc\" is no value for option \"-e\" in inner.txt, line 3."},
        {"@self.txt", "Command files nested too deeply at \"self.txt\" in self.txt, line 1."},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(*c.problem ? 0 : 1, Line(c.line)) << c.line;
        EXPECT_STREQ(c.problem, parser_.Problem()) << c.line;
    }
    // A refused value leaves the one before it.
    EXPECT_EQ(1, Line("-e ab"));
    EXPECT_EQ(0, Line("-e abc"));
    EXPECT_STREQ("ab", parser_.Text("e"));
    // A long word is cut in the sentence.
    EXPECT_EQ(0, Line(("-" + std::string(200, 'x')).c_str()));
    EXPECT_EQ("Unknown option \"-" + std::string(60, 'x') + "...\".", std::string(parser_.Problem()));
    SetCurrentDirectoryA(previous);
}
