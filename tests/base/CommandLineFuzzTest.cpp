// Randomized command lines built from known pieces: each piece says what it must do to the result, the
// values and the free arguments, so the expectation is built alongside the line, never by parsing it.
#include "base/CommandLine.h"
#include "tests/common/TempFolder.h"
#include <gtest/gtest.h>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace {
const unsigned kSeed = 20240917u;
const int kLines = 3000;

struct Expectation {
    int result = 1;
    int64_t u = 50;
    int64_t s = 0;
    std::vector<std::string> arguments;
    bool argumentsKnown = true;
};

// What naming a command file does to the expectation.
struct CommandFile {
    std::string path;
    int fails = 0;
    int64_t setsU = -1; // -1: leaves u alone
    int setsS = 0;
    std::vector<std::string> arguments;
    bool argumentsKnown = true;
};

std::string Printable(const std::string &text) {
    std::string out;
    for (unsigned char c : text) {
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char hex[8];
            snprintf(hex, sizeof(hex), "\\x%02X", c);
            out += hex;
        }
    }
    return out.size() > 300 ? out.substr(0, 300) + "..." : out;
}

class LineGenerator {
public:
    LineGenerator(const std::vector<CommandFile> &files) : files_(files) {}

    std::string Next(Expectation &expect) {
        std::string line = Whitespace(Below(3));
        int count = 1 + Below(10);
        for (int i = 0; i < count; ++i) {
            if (i > 0)
                line += std::string(1 + Below(3), ' ');
            line += Token(expect, i == count - 1);
        }
        return line + Whitespace(Below(3));
    }

private:
    unsigned Below(unsigned n) { return static_cast<unsigned>(random_() % n); }
    bool Chance(unsigned percent) { return Below(100) < percent; }
    char Prefix() { return Chance(50) ? '-' : '/'; }
    std::string Whitespace(unsigned n) {
        std::string text;
        for (unsigned i = 0; i < n; ++i)
            text += Chance(50) ? ' ' : '\t';
        return text;
    }
    std::string Letters(const char *alphabet, unsigned minimum, unsigned maximum) {
        std::string text;
        unsigned length = minimum + Below(maximum - minimum + 1);
        size_t size = strlen(alphabet);
        for (unsigned i = 0; i < length; ++i)
            text += alphabet[Below(static_cast<unsigned>(size))];
        return text;
    }
    unsigned Length() { return Chance(3) ? 3000 + Below(3000) : 1 + Below(16); }

    // A word the free-argument rule takes whole: no space, no double quote, no prefix byte in front and
    // no white space at either end (the line is trimmed).
    std::string FreeWord() {
        static const char first[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.,:;=+_!#$"
                                    "%&'()*?[]{}~^|<>\\\xE9\xC4";
        static const char middle[] = "abcXYZ019-/@.%\\\t\xE9";
        unsigned length = Length();
        std::string word(1, first[Below(sizeof(first) - 1)]);
        for (unsigned i = 1; i < length; ++i)
            word += middle[Below(sizeof(middle) - 1)];
        if (word.back() == '\t')
            word.back() = 'e';
        return word;
    }

    // An option word that no registered name ("s", "u") starts.
    std::string UnknownName() {
        std::string name = Letters("abcdefghijklmnopqrtvwxyzABCDEFGHIJKLMNOPQRTVWXYZ0123456789", 1, 1);
        unsigned length = Length();
        for (unsigned i = 1; i < length; ++i)
            name += Letters("abcuUsS9-/@.", 1, 1);
        return name;
    }

    // A number in one of the spellings of the signed conversion, and its value.
    std::string Number(int64_t &value) {
        int64_t magnitude = static_cast<int64_t>(random_() % (Chance(20) ? 1099511627776ull : 1000ull));
        int negative = Chance(25);
        int plus = !negative && Chance(10);
        value = negative ? -magnitude : magnitude;
        char digits[40];
        switch (Below(3)) {
        case 0:
            snprintf(digits, sizeof(digits), "%llu", static_cast<unsigned long long>(magnitude));
            break;
        case 1:
            snprintf(digits, sizeof(digits), Chance(50) ? "0x%llx" : "0X%llX",
                     static_cast<unsigned long long>(magnitude));
            break;
        default:
            snprintf(digits, sizeof(digits), "0%llo", static_cast<unsigned long long>(magnitude));
            break;
        }
        return std::string(negative ? "-" : plus ? "+" : "") + digits;
    }

    std::string Quoted(Expectation &expect) {
        static const char inside[] = "ab Z9 -x/y@z\t%\xE9";
        unsigned length = Chance(3) ? 3000 : Below(12);
        std::string raw, value;
        for (unsigned i = 0; i < length; ++i) {
            char c = inside[Below(sizeof(inside) - 1)];
            raw += c;
            value += c;
            // A pair of double quotes is literal text; a run of pairs reads as one quote.
            if (Chance(15)) {
                unsigned pairs = 1 + Below(3);
                for (unsigned p = 0; p < pairs; ++p)
                    raw += "\"\"";
                value += '"';
            }
        }
        expect.arguments.push_back(value);
        return "\"" + raw + "\"";
    }

    std::string FileReference(Expectation &expect) {
        const CommandFile &file = files_[Below(static_cast<unsigned>(files_.size()))];
        if (file.fails)
            expect.result = 0;
        if (file.setsU >= 0)
            expect.u = file.setsU;
        if (file.setsS)
            expect.s = 1;
        expect.arguments.insert(expect.arguments.end(), file.arguments.begin(), file.arguments.end());
        if (!file.argumentsKnown)
            expect.argumentsKnown = false;
        if (file.path.find(' ') == std::string::npos && Chance(50))
            return "@" + file.path;
        return "@" + std::string(Below(2), ' ') + "\"" + file.path + "\"";
    }

    std::string Token(Expectation &expect, bool last) {
        unsigned kind = Below(last ? 15 : 13);
        switch (kind) {
        case 0: { // switch, perhaps with text glued to it
            expect.s = 1;
            std::string token = std::string(1, Prefix()) + (Chance(50) ? "s" : "S");
            if (Chance(30)) {
                std::string glued = Letters("abcdefghijklmnopqrstuvwxyz0123456789", 1, 6);
                expect.arguments.push_back(glued);
                token += glued;
            }
            return token;
        }
        case 1:
        case 2: { // number option
            int64_t value = 0;
            std::string number = Number(value);
            expect.u = value;
            return std::string(1, Prefix()) + (Chance(50) ? "u" : "U") + std::string(Below(3), ' ') + number;
        }
        case 3: // number option whose value is no number: the word is swallowed, u stays
            return std::string(1, Prefix()) + "u" + (Chance(50) ? " " : "") +
                   Letters("ghijklmnopqrstvwyz", 1, 8);
        case 4: // unknown option
            expect.result = 0;
            {
                std::string name = UnknownName();
                expect.arguments.push_back(name);
                return std::string(1, Prefix()) + name;
            }
        case 5: // a prefix with no name at all, or a doubled one in front of the switch
            expect.result = 0;
            if (Chance(50))
                return std::string(1, Prefix());
            expect.s = 1;
            return "--s";
        case 6:
        case 7:
        case 8: { // free word
            std::string word = FreeWord();
            expect.arguments.push_back(word);
            return word;
        }
        case 9:
        case 10: // quoted free argument
            return Quoted(expect);
        case 11:
        case 12: // command file
            return FileReference(expect);
        case 13: { // an unclosed quote takes the rest of the line: its first and last bytes are dropped
            std::string rest = Letters("ab -x @missing/u9", 0, 20);
            while (!rest.empty() && rest.back() == ' ')
                rest.pop_back();
            expect.arguments.push_back(rest.empty() ? "" : rest.substr(0, rest.size() - 1));
            return "\"" + rest;
        }
        default: // '@' with no name ends the line
            expect.result = 0;
            return "@";
        }
    }

    std::mt19937 random_{kSeed};
    const std::vector<CommandFile> &files_;
};

// Bytes that never start an option, a quote or a command file, and never separate words.
std::string SafeBinary(std::mt19937 &random, size_t length) {
    std::string bytes;
    while (bytes.size() < length) {
        unsigned char c = static_cast<unsigned char>(random() & 0xFF);
        if (c == ' ' || c == '-' || c == '/' || c == '@' || c == '"' || c == 0xA0 || c == 0x85)
            continue;
        bytes += static_cast<char>(c);
    }
    return bytes;
}

class CommandLineFuzz : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder_.Valid());
        auto add = [this](const char *name, const std::string &content) -> CommandFile {
            EXPECT_EQ(1, folder_.WriteFile(name, content));
            CommandFile file;
            file.path = folder_.File(name);
            return file;
        };
        auto quote = [this](const char *name) { return "@\"" + folder_.File(name) + "\""; };

        CommandFile good = add("good.txt", "-u 30\r\n\r\n-s\r\nfileword\r\n");
        good.setsU = 30;
        good.setsS = 1;
        good.arguments = {"fileword"};
        files_.push_back(good);

        CommandFile nested = add("nested.txt", quote("good.txt") + "\n");
        nested.setsU = 30;
        nested.setsS = 1;
        nested.arguments = {"fileword"};
        files_.push_back(nested);

        files_.push_back(add("empty.txt", ""));

        CommandFile bad = add("bad.txt", "-q\r\n-u 99\r\nnever\r\n");
        bad.fails = 1;
        bad.arguments = {"q"};
        files_.push_back(bad);

        CommandFile self = add("self.txt", quote("self.txt") + "\r\n-u 77\r\n");
        self.fails = 1;
        files_.push_back(self);

        CommandFile cycle = add("cycle-a.txt", quote("cycle-b.txt") + "\n");
        add("cycle-b.txt", quote("cycle-a.txt") + "\n-s\n");
        cycle.fails = 1;
        files_.push_back(cycle);

        std::mt19937 bytes(kSeed + 1);
        std::string binary = SafeBinary(bytes, 9000) + "\n" + SafeBinary(bytes, 300) + "\r\n" +
                             std::string("\0\0\n\r\r\n", 6) + SafeBinary(bytes, 5000);
        CommandFile binaryOk = add("binary-ok.bin", binary);
        binaryOk.argumentsKnown = false;
        files_.push_back(binaryOk);

        CommandFile binaryBad = add("binary-bad.bin", SafeBinary(bytes, 5000) + "\n-zq\n" + binary);
        binaryBad.fails = 1;
        binaryBad.argumentsKnown = false;
        files_.push_back(binaryBad);

        std::string longWord(6000, 'L');
        longWord[5999] = 'E';
        CommandFile longLine = add("long.txt", longWord);
        longLine.arguments = {longWord};
        files_.push_back(longLine);

        CommandFile missing;
        missing.path = folder_.File("missing.txt");
        missing.fails = 1;
        files_.push_back(missing);

        CommandFile directory;
        directory.path = folder_.File("");
        directory.path.pop_back(); // the folder itself, without its trailing '\'
        directory.fails = 1;
        files_.push_back(directory);
    }

    TempFolder folder_{"CommandLineFuzz"};
    std::vector<CommandFile> files_;
};
} // namespace

TEST_F(CommandLineFuzz, ResultValuesAndArgumentsFollowFromThePieces) {
    LineGenerator generator(files_);
    int failures = 0, failedLines = 0, withFiles = 0;
    for (int i = 0; i < kLines && failures < 10; ++i) {
        Expectation expect;
        std::string line = generator.Next(expect);
        CommandLine parser;
        ASSERT_EQ(1, parser.AddOption("s", SwitchOption, 0, "auto start the cpu grabbing"));
        ASSERT_EQ(1, parser.AddOption("u", NumberOption, 50, "set cpu grabbing percentage"));
        // Every third line goes through the whole-command-line entry with a program name in front.
        int result = i % 3 == 0 ? parser.Parse(("\"C:\\Program Files\\Tarvex.exe\" " + line).c_str())
                                : parser.ParseLine(line.c_str());
        failedLines += result == 0;
        withFiles += line.find('@') != std::string::npos;

        std::vector<std::string> arguments;
        for (int a = 0; a < parser.ArgumentCount(); ++a)
            arguments.push_back(parser.Argument(a));
        bool same = result == expect.result && parser.Value("u") == expect.u &&
                    parser.Value("s") == expect.s &&
                    (!expect.argumentsKnown || arguments == expect.arguments);
        if (!same) {
            ++failures;
            ADD_FAILURE() << "line " << i << ": " << Printable(line) << "\n  result " << result
                          << " expected " << expect.result << ", u " << parser.Value("u") << " expected "
                          << expect.u << ", s " << parser.Value("s") << " expected " << expect.s << ", "
                          << arguments.size() << " arguments, expected " << expect.arguments.size();
        }
        TextString usage;
        EXPECT_EQ(1, parser.Usage(usage));
    }
    // The mix must really contain both outcomes and command files, or the check above proves little.
    EXPECT_GT(failedLines, kLines / 10);
    EXPECT_LT(failedLines, kLines * 9 / 10);
    EXPECT_GT(withFiles, kLines / 10);
}

// Random bytes straight on the line: nothing can be predicted but that it ends and stays consistent.
TEST_F(CommandLineFuzz, ArbitraryBytesNeverBreakTheParser) {
    std::mt19937 random(kSeed + 2);
    for (int i = 0; i < 1000; ++i) {
        std::string line;
        unsigned length = random() % (i % 50 == 0 ? 6000 : 80);
        for (unsigned b = 0; b < length; ++b) {
            unsigned char c = static_cast<unsigned char>(random() % 255 + 1);
            // Some names of real files and folders, so that '@' sometimes reaches the disk.
            if (c == '@' && random() % 4 == 0) {
                line += "@\"" + files_[random() % files_.size()].path + "\"";
                continue;
            }
            line += static_cast<char>(c);
        }
        CommandLine parser;
        ASSERT_EQ(1, parser.AddOption("s", SwitchOption, 0, ""));
        ASSERT_EQ(1, parser.AddOption("u", NumberOption, 50, ""));
        int result = parser.ParseLine(line.c_str());
        EXPECT_TRUE(result == 0 || result == 1);
        // No valid line can yield more free arguments than it has bytes.
        EXPECT_LE(parser.ArgumentCount(), static_cast<int>(line.size()) + 1) << Printable(line);
        for (int a = 0; a < parser.ArgumentCount(); ++a)
            EXPECT_NE(nullptr, parser.Argument(a));
    }
}
