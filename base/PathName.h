// PathName: the parts of a file path or URL in a plain NUL-terminated array: the file name, the extension,
// the parent folder. Separators are '\\' and '/'; double-byte characters are never split.
//
// Functions: FileNamePart, ExtensionOf, StripExtension, CutToParent, PercentDecoded.
#pragma once

class TextString;

// The file name after the last separator (a trailing separator does not count); text itself when it has none.
const char *FileNamePart(const char *text);
// The extension of the last path part, with its dot, up to a '?' (so a URL's query is not taken); empty when
// there is none.
void ExtensionOf(const char *text, TextString &out);
// Cuts the extension off the file name when it is at most maxExtension characters long.
void StripExtension(char *text, int maxExtension);
// Cuts text to its parent folder ("C:\\" stays whole); 1 when something was cut.
int CutToParent(char *text);
// A name taken from a URL: "%XX" as the byte it stands for, the bytes read as UTF-8, in the system code page.
// 0 for a name longer than a path or not UTF-8, or an empty one.
int PercentDecoded(const char *text, TextString &out);
