// CommandLine: the option table, the parser for '-'/'/' options, free arguments and '@' command files,
// and the usage text built from the same table.
//
// Classes: OptionEntry, NumberEntry, TextEntry, CommandLine.
#pragma once

#include "base/RecordList.h"
#include "base/TextString.h"
#include <cstdint>

enum OptionType : int {
    NumberOption = 0, // signed number: decimal, "0x" hexadecimal or leading-0 octal
    HexOption = 1,    // hexadecimal number
    SwitchOption = 2, // presence sets 1
    TextOption = 3,   // text value
    FreeArgument = 4, // a word that is no option; no name, no help
};

// One row of the option table. The table owns its rows and deletes them through ListEntry.
class OptionEntry : public ListEntry {
public:
    explicit OptionEntry(int entryType) : type(entryType) {}

    int type;
    TextString name; // without the prefix; empty for free arguments
    TextString help;
};

// Types 0, 1 and 2.
class NumberEntry : public OptionEntry {
public:
    explicit NumberEntry(int entryType) : OptionEntry(entryType) {}

    int64_t value = 0;
    // A number outside these bounds fails its line and leaves the value as it was.
    int64_t minimum = INT64_MIN;
    int64_t maximum = INT64_MAX;
};

// Checks a text option's value as it is read: 0 fails the line, like a number out of bounds, and the option
// keeps the text it had.
typedef int (*TextCheck)(const char *value);

// 1 when the system sends name to a device rather than a file (the device namespace, or a reserved DOS name
// such as NUL, CON or COM1 in any folder and with any extension).
int IsDeviceName(const char *name);

// Types 3 and 4.
class TextEntry : public OptionEntry {
public:
    explicit TextEntry(int entryType) : OptionEntry(entryType) {}

    TextString value;
    TextCheck check = nullptr;
};

class CommandLine {
public:
    // Command files may name further command files; nesting deeper than this fails the naming line, so a
    // file that names itself, directly or through others, ends instead of recursing without limit.
    static constexpr int MaxFileDepth = 16;
    // Files opened (or tried) by one ParseLine, nested ones included: several self-references on one line
    // would otherwise multiply at every level of nesting.
    static constexpr int MaxFilesPerParse = 1024;

    CommandLine() = default;
    ~CommandLine();
    CommandLine(const CommandLine &) = delete;
    CommandLine &operator=(const CommandLine &) = delete;

    // Bounds for a number that must fit in 32 bits, signed or unsigned.
    static constexpr int64_t Min32Bits = INT32_MIN;
    static constexpr int64_t Max32Bits = UINT32_MAX;

    // type 0, 1 or 2; 0 for another type, a missing name or lack of memory. A number option read outside
    // minimum..maximum (or beyond 64 bits) fails its line and keeps its value.
    int AddOption(const char *name, int type, int64_t defaultValue, const char *help,
                  int64_t minimum = INT64_MIN, int64_t maximum = INT64_MAX);
    // A text option (type 3) with its default text; check, when given, decides which values it takes.
    int AddTextOption(const char *name, const char *defaultText, const char *help, TextCheck check = nullptr);

    // 1 when the whole command line was understood; values read around a problem stay in effect.
    int Parse();
    // The same for a given full command line, program name first.
    int Parse(const char *commandLine);
    // One line of options, free arguments and '@' command files.
    int ParseLine(const char *line);

    // The first mistake of the last parse as one sentence for the user, naming the option or the file and,
    // for a line of a command file, that file and the line's number: Unknown option "-z" in cmd.txt, line 2.
    // Empty when the parse found none.
    const char *Problem() const { return problem_.Text(); }

    // Replaces out with the usage text, one LF-terminated line per option with its current value.
    int Usage(TextString &out) const;
    // The value of the first option of type 0, 1 or 2 named name (whole name, any case); 0 when none.
    int64_t Value(const char *name) const;
    // The value of the first text option named name, or none.
    const char *Text(const char *name) const;
    int ArgumentCount() const;
    // The free argument at index in the order read, or none.
    const char *Argument(int index) const;

private:
    int ParseText(const char *text, int depth);
    const char *OptionRule(const char *position, int &result);
    const char *CommandFileRule(const char *position, int depth, int &result);
    const char *FreeArgumentRule(const char *position, int &result);
    // The value after a matched option's name: where reading goes on. A text option with no value answers
    // null, so that a later option may take the word.
    const char *NumberValueRule(NumberEntry &option, const char *after, char prefix, int &result);
    const char *TextValueRule(TextEntry &option, const char *after, char prefix, int &result);
    // Keeps the first mistake only, with where it was read.
    void NoteProblem(const char *format, ...) __attribute__((format(ms_printf, 2, 3)));

    RecordList table_;
    OwnedEntries entries_{table_}; // every row of table_
    int filesOpened_ = 0;
    TextString problem_;
    // The command file whose line is being read (as its name was written) and that line's number; none on
    // the command line itself.
    const char *fileName_ = nullptr;
    uint32_t lineNumber_ = 0;
};
