// Starting programs, documents and URLs through the shell, and the language identifiers.
//
// Functions: RunProgram, OpenUrl, OpenDocument, LanguageId, UiLanguageFrom.
#pragma once

#include "base/Win.h"
#include <cstdint>

// ShellExecuteExA with no mask flags; verb "runas" when elevate is 1. A fault raised inside the shell
// (bad arguments, a broken shell extension) gives 0 instead of ending the process.
int RunProgram(const char *file, const char *parameters, const char *directory, int showCommand, int elevate,
               const char *verb);
int OpenUrl(const char *url);
int OpenDocument(const wchar_t *text);
uint16_t LanguageId(int user, int ui);
// The UI language as LanguageId reports it, looked up in the named library: 9 (English, neutral) when the
// library or its function is missing, as on systems older than Windows 2000.
uint16_t UiLanguageFrom(const char *libraryName, int user);
