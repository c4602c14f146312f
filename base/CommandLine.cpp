// CommandLine: prefix-matched options, quoted text values, free arguments and nested command files.
#include "base/CommandLine.h"
#include "base/TextChars.h"
#include "base/DiskFile.h"
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <memory>
#include <new>

namespace {
// Reads a text value at position: leading spaces skipped, ended by a space outside double quotes, where a
// pair of double quotes is literal text and never toggles the quoted state. A value that starts with a
// quote loses its first and last byte, and every run of quotes left collapses to one. Returns where the
// value ended, or none when only spaces follow; stored is 0 when memory ran out.
const char *ReadTextValue(const char *position, TextString &value, int &stored) {
    while (*position == ' ')
        ++position;
    if (!*position)
        return nullptr;
    const char *start = position;
    int quoted = 0;
    while (*position && (*position != ' ' || quoted)) {
        if (*position == '"' && position[1] == '"') {
            position += 2;
            continue;
        }
        if (*position == '"')
            quoted = !quoted;
        ++position;
    }
    stored = value.Assign(start, static_cast<uint32_t>(position - start));
    if (stored && value.CharAt(0) == '"') {
        StripQuotes(value.At(0));
        value.Recount();
    }
    if (stored)
        stored = value.Replace("\"\"", "\"", 0) != nullptr;
    return position;
}

// The word at position (leading spaces skipped) as the user typed it, for a message; a long one is cut.
void QuoteWord(const char *position, TextString &word) {
    const uint32_t kLongest = 60;
    while (*position == ' ')
        ++position;
    uint32_t length = 0;
    while (position[length] && position[length] != ' ')
        ++length;
    if (!word.Assign(position, length > kLongest ? kLongest : length))
        return;
    if (length > kLongest)
        word.Append("...");
}

const char *SkipToken(const char *position) {
    while (*position == ' ')
        ++position;
    while (*position && *position != ' ')
        ++position;
    return position;
}

// The C conversions %I64i (base 0: sign, "0x" hexadecimal, leading-0 octal) and %I64X; leading white
// space is skipped. When no digits follow, the value is left as it was and that is no failure; a number
// beyond 64 bits or outside the entry's bounds leaves it too, but fails: the user typed a number and would
// otherwise get a different one without a word.
int ReadNumber(const char *position, NumberEntry &entry) {
    char *end = nullptr;
    int64_t number;
    errno = 0;
    if (entry.type == HexOption)
        number = static_cast<int64_t>(strtoull(position, &end, 16));
    else
        number = strtoll(position, &end, 0);
    if (end == position)
        return 1;
    if (errno == ERANGE || number < entry.minimum || number > entry.maximum)
        return 0;
    entry.value = number;
    return 1;
}

int AsciiLower(int byte) {
    return byte >= 'A' && byte <= 'Z' ? byte + ('a' - 'A') : byte;
}

// 1 when text begins with prefix, ASCII letters in any case and '/' taken as '\'.
int StartsWithPath(const char *text, const char *prefix) {
    for (; *prefix; ++text, ++prefix) {
        int byte = *text == '/' ? '\\' : AsciiLower(static_cast<unsigned char>(*text));
        if (byte != *prefix)
            return 0;
    }
    return 1;
}

} // namespace

// Names that the system sends to a device instead of a file: the device namespace ("\\.\", and "\\?\" or
// "\??\" unless a drive or a UNC share follows) and the reserved DOS names, which count in any folder, with
// any extension and with trailing spaces or a colon ("C:\x\nul.txt", "COM1:"). Reading one of them can wait
// for ever (a serial port, the console, a pipe), so it is refused before it is opened.
int IsDeviceName(const char *name) {
    if (StartsWithPath(name, "\\\\.\\"))
        return 1;
    if (StartsWithPath(name, "\\\\?\\") || StartsWithPath(name, "\\??\\")) {
        const char *rest = name + 4;
        int drive = AsciiLower(static_cast<unsigned char>(rest[0])) >= 'a' &&
                    AsciiLower(static_cast<unsigned char>(rest[0])) <= 'z' && rest[1] == ':';
        return !drive && !StartsWithPath(rest, "unc\\");
    }
    // The last component; a drive-relative name ("C:NUL") has its component after the colon.
    const char *last = name;
    for (const char *walk = name; *walk; walk = CharNextA(walk)) {
        if (*walk == '\\' || *walk == '/' || (*walk == ':' && walk == name + 1))
            last = walk + 1;
    }
    if (lstrcmpiA(last, "CONIN$") == 0 || lstrcmpiA(last, "CONOUT$") == 0)
        return 1;
    size_t length = 0;
    while (last[length] && last[length] != '.' && last[length] != ':')
        ++length;
    while (length && last[length - 1] == ' ')
        --length;
    static const char *const kWords[] = {"con", "prn", "aux", "nul"};
    for (const char *word : kWords) {
        if (length == 3 && StartsWithPath(last, word))
            return 1;
    }
    if (length == 4 && (StartsWithPath(last, "com") || StartsWithPath(last, "lpt"))) {
        // Digits, and the superscripts one, two and three of the Western code page.
        unsigned char digit = static_cast<unsigned char>(last[3]);
        return (digit >= '0' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
    }
    return 0;
}

namespace {

// Opens a command file that is a regular file on disk. A device, a pipe or a folder is refused like a
// missing file: the type is asked of the open handle, which does not wait, before anything is read.
int OpenCommandFile(DiskFile &file, const char *name) {
    if (IsDeviceName(name))
        return 0;
    if (!file.Open(name, DiskFile::ReadExisting, 0, FILE_SHARE_READ | FILE_SHARE_WRITE))
        return 0;
    BY_HANDLE_FILE_INFORMATION information;
    if (GetFileType(file.Handle()) != FILE_TYPE_DISK ||
        !GetFileInformationByHandle(file.Handle(), &information) ||
        (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        file.Close();
        return 0;
    }
    return 1;
}

enum FileText { PlainBytes, Utf8Text, Utf16Little, Utf16Big };

// Editors mark Unicode files with a byte-order mark; without one the file is text in the system code page,
// read byte for byte as always. The file is left at the first byte after the mark.
FileText SkipByteOrderMark(DiskFile &file) {
    unsigned char head[3] = {};
    DWORD read = 0;
    if (!ReadFile(file.Handle(), head, sizeof head, &read, nullptr))
        read = 0;
    FileText text = PlainBytes;
    int64_t skip = 0;
    if (read >= 3 && head[0] == 0xEF && head[1] == 0xBB && head[2] == 0xBF) {
        text = Utf8Text;
        skip = 3;
    } else if (read >= 2 && head[0] == 0xFF && head[1] == 0xFE) {
        text = Utf16Little;
        skip = 2;
    } else if (read >= 2 && head[0] == 0xFE && head[1] == 0xFF) {
        text = Utf16Big;
        skip = 2;
    }
    file.Seek(FILE_BEGIN, skip);
    return text;
}
} // namespace

CommandLine::~CommandLine() = default;

int CommandLine::AddOption(const char *name, int type, int64_t defaultValue, const char *help,
                           int64_t minimum, int64_t maximum) {
    // An empty name would match every option word as its prefix.
    if (!name || !*name || type < NumberOption || type > SwitchOption)
        return 0;
    std::unique_ptr<NumberEntry> entry(new (std::nothrow) NumberEntry(type));
    if (!entry)
        return 0;
    entry->value = defaultValue;
    entry->minimum = minimum;
    entry->maximum = maximum;
    if (!entry->name.Assign(name) || !entry->help.Assign(help ? help : ""))
        return 0;
    entries_.Adopt(std::move(entry));
    return 1;
}

int CommandLine::AddTextOption(const char *name, const char *defaultText, const char *help, TextCheck check) {
    if (!name || !*name)
        return 0;
    std::unique_ptr<TextEntry> entry(new (std::nothrow) TextEntry(TextOption));
    if (!entry || !entry->name.Assign(name) || !entry->help.Assign(help ? help : "") ||
        !entry->value.Assign(defaultText ? defaultText : ""))
        return 0;
    entry->check = check;
    entries_.Adopt(std::move(entry));
    return 1;
}

int CommandLine::Parse() {
    return Parse(GetCommandLineA());
}

int CommandLine::Parse(const char *commandLine) {
    TextString rest;
    if (!rest.Assign(commandLine ? SkipFirstToken(commandLine) : ""))
        return 0;
    rest.TrimLeft();
    rest.TrimRight();
    return ParseLine(rest.Text());
}

int CommandLine::ParseLine(const char *line) {
    filesOpened_ = 0;
    problem_.Assign("");
    fileName_ = nullptr;
    lineNumber_ = 0;
    const int result = ParseText(line, 0);
    if (!result)
        NoteProblem("Out of memory"); // every other mistake has been named where it was found
    return result;
}

void CommandLine::NoteProblem(const char *format, ...) {
    if (problem_.Length() > 0)
        return;
    va_list args;
    va_start(args, format);
    const int formatted = problem_.FormatV(format, args);
    va_end(args);
    if (!formatted)
        return;
    TextString where;
    if (fileName_)
        where.Format(" in %s, line %u.", fileName_, lineNumber_);
    else
        where.Assign(".");
    problem_.Append(where);
}

int CommandLine::ParseText(const char *text, int depth) {
    TextString line;
    if (!line.Assign(text ? text : "")) {
        NoteProblem("Out of memory");
        return 0;
    }
    line.TrimLeft();
    line.TrimRight();
    int result = 1;
    const char *position = line.Text();
    while (position && *position) {
        switch (*position) {
        case ' ': // only the space separates; a tab is part of a word
            ++position;
            break;
        case '-':
        case '/':
            position = OptionRule(position + 1, result);
            break;
        case '@':
            position = CommandFileRule(position + 1, depth, result);
            break;
        default:
            position = FreeArgumentRule(position, result);
            break;
        }
    }
    return result;
}

const char *CommandLine::OptionRule(const char *position, int &result) {
    const char prefix = position[-1];
    // A text option named without a value, in case no later entry takes the word either.
    const OptionEntry *wantsValue = nullptr;
    for (ListEntry *walk = table_.First(); walk; walk = table_.Next(walk)) {
        OptionEntry *option = static_cast<OptionEntry *>(walk);
        if (option->type == FreeArgument)
            continue;
        // The name is a prefix of the word: "-U70" and "-usage" both match "u".
        const int length = option->name.Length();
        if (length <= 0 || option->name.CompareNoCase(position, length) != 0)
            continue;
        const char *after = position + length;
        switch (option->type) {
        case NumberOption:
        case HexOption:
            return NumberValueRule(*static_cast<NumberEntry *>(option), after, prefix, result);
        case SwitchOption:
            // Text glued to a switch ("-s5") is read next, as a free argument.
            static_cast<NumberEntry *>(option)->value = 1;
            return after;
        case TextOption:
            if (const char *end = TextValueRule(*static_cast<TextEntry *>(option), after, prefix, result))
                return end;
            // No value: perhaps a later option takes this word.
            if (!wantsValue)
                wantsValue = option;
            continue;
        default:
            break;
        }
    }
    // Unknown option: the word without its prefix is read next, as a free argument.
    if (wantsValue) {
        NoteProblem("Option \"%c%s\" needs a value", prefix, wantsValue->name.Text());
    } else {
        TextString word;
        QuoteWord(position, word);
        NoteProblem("Unknown option \"%c%s\"", prefix, word.Text());
    }
    result = 0;
    return position;
}

const char *CommandLine::NumberValueRule(NumberEntry &option, const char *after, char prefix, int &result) {
    if (!ReadNumber(after, option)) {
        TextString number;
        QuoteWord(after, number);
        NoteProblem("The number \"%s\" of option \"%c%s\" is out of range", number.Text(), prefix,
                    option.name.Text());
        result = 0;
    }
    return SkipToken(after);
}

const char *CommandLine::TextValueRule(TextEntry &option, const char *after, char prefix, int &result) {
    TextString value;
    int stored = 0;
    const char *end = ReadTextValue(after, value, stored);
    if (!end)
        return nullptr;
    if (!stored) {
        NoteProblem("Out of memory");
        result = 0;
    } else if (option.check && !option.check(value.Text())) {
        NoteProblem("\"%s\" is no value for option \"%c%s\"", value.Text(), prefix, option.name.Text());
        result = 0;
    } else if (!option.value.Assign(value.Text())) {
        NoteProblem("Out of memory");
        result = 0;
    }
    return end;
}

const char *CommandLine::FreeArgumentRule(const char *position, int &result) {
    std::unique_ptr<TextEntry> entry(new (std::nothrow) TextEntry(FreeArgument));
    if (!entry) {
        result = 0;
        return position + 1;
    }
    int stored = 0;
    const char *end = ReadTextValue(position, entry->value, stored);
    if (!end || !stored) {
        result = 0;
        return end ? end : position + 1;
    }
    entries_.Adopt(std::move(entry));
    return end;
}

const char *CommandLine::CommandFileRule(const char *position, int depth, int &result) {
    TextString fileName;
    int stored = 0;
    const char *end = ReadTextValue(position, fileName, stored);
    if (!end) {
        // '@' with no name: the rest of this line is not parsed.
        NoteProblem("\"@\" without a file name");
        result = 0;
        return nullptr;
    }
    if (!stored) {
        NoteProblem("Out of memory");
        result = 0;
        return end;
    }
    if (depth >= MaxFileDepth || filesOpened_ >= MaxFilesPerParse) {
        NoteProblem("Command files nested too deeply at \"%s\"", fileName.Text());
        result = 0;
        return end;
    }
    ++filesOpened_;
    DiskFile file;
    if (!OpenCommandFile(file, fileName.Text())) {
        NoteProblem("Cannot read the command file \"%s\"", fileName.Text());
        result = 0;
        return end;
    }
    const FileText text = SkipByteOrderMark(file);
    const int units = text == Utf16Little ? DiskFile::Utf16Units
                      : text == Utf16Big  ? DiskFile::Utf16BigEndianUnits
                                          : DiskFile::ByteUnits;
    TextString line, decoded;
    const char *outerFile = fileName_;
    const uint32_t outerLine = lineNumber_;
    fileName_ = fileName.Text();
    lineNumber_ = 0;
    while (file.ReadLine(line, units, 0)) {
        ++lineNumber_;
        // UTF-8 never has a line feed inside a character, so its lines are split as bytes and decoded whole.
        const char *parsed = text == Utf8Text && line.DecodeUtf8To(decoded) ? decoded.Text() : line.Text();
        if (!ParseText(parsed, depth + 1)) {
            result = 0; // the rest of this file is skipped; the naming line goes on
            break;
        }
    }
    fileName_ = outerFile;
    lineNumber_ = outerLine;
    file.Close();
    return end;
}

int CommandLine::Usage(TextString &out) const {
    int ok = out.Assign("   @<file> [command file]\n");
    TextString line, bracket;
    for (ListEntry *walk = table_.First(); walk; walk = table_.Next(walk)) {
        const OptionEntry *option = static_cast<const OptionEntry *>(walk);
        if (option->type == FreeArgument)
            continue;
        if (option->help.Length() > 0)
            ok &= bracket.Format("[%s]", option->help.Text());
        else
            ok &= bracket.Assign("");
        const char *name = option->name.Text();
        switch (option->type) {
        case NumberOption:
            ok &= line.Format("   -%s %I64i %s\n", name, static_cast<const NumberEntry *>(option)->value,
                              bracket.Text());
            break;
        case HexOption:
            ok &= line.Format("   -%s 0x%I64X %s\n", name, static_cast<const NumberEntry *>(option)->value,
                              bracket.Text());
            break;
        case TextOption: {
            const TextString &value = static_cast<const TextEntry *>(option)->value;
            if (value.Length() > 0)
                ok &= line.Format("   -%s %s %s\n", name, value.Text(), bracket.Text());
            else
                ok &= line.Format("   -%s %s\n", name, bracket.Text());
            break;
        }
        default:
            ok &= line.Format("   -%s %s\n", name, bracket.Text());
            break;
        }
        ok &= out.Append(line);
    }
    return ok;
}

int64_t CommandLine::Value(const char *name) const {
    if (!name)
        return 0;
    for (ListEntry *walk = table_.First(); walk; walk = table_.Next(walk)) {
        const OptionEntry *option = static_cast<const OptionEntry *>(walk);
        if (option->type <= SwitchOption && option->name.CompareNoCase(name) == 0)
            return static_cast<const NumberEntry *>(option)->value;
    }
    return 0;
}

const char *CommandLine::Text(const char *name) const {
    if (!name)
        return nullptr;
    for (ListEntry *walk = table_.First(); walk; walk = table_.Next(walk)) {
        const OptionEntry *option = static_cast<const OptionEntry *>(walk);
        if (option->type == TextOption && option->name.CompareNoCase(name) == 0)
            return static_cast<const TextEntry *>(option)->value.Text();
    }
    return nullptr;
}

int CommandLine::ArgumentCount() const {
    int count = 0;
    for (ListEntry *walk = table_.First(); walk; walk = table_.Next(walk))
        count += static_cast<const OptionEntry *>(walk)->type == FreeArgument;
    return count;
}

const char *CommandLine::Argument(int index) const {
    for (ListEntry *walk = table_.First(); walk; walk = table_.Next(walk)) {
        const OptionEntry *option = static_cast<const OptionEntry *>(walk);
        if (option->type == FreeArgument && index-- == 0)
            return static_cast<const TextEntry *>(option)->value.Text();
    }
    return nullptr;
}
