// Starting programs, documents and URLs through the shell, and the language identifiers.
//
// Functions: RunProgram, CallWithFaultGuard, OpenUrl, OpenDocument, LanguageId, UiLanguageFrom.
#pragma once

#include "base/Win.h"
#include <cstdint>

// ShellExecuteExA with no mask flags; verb "runas" when elevate is 1. A fault raised inside the shell
// (bad arguments, a broken shell extension) gives 0 instead of ending the process.
int RunProgram(const char *file, const char *parameters, const char *directory, int showCommand, int elevate,
               const char *verb);
// function(argument)'s result, or 0 when a fault is raised inside it: the frames in between are unwound
// (their termination handlers run) and the thread carries on from here.
int CallWithFaultGuard(int (*function)(void *), void *argument);
int OpenUrl(const char *url);
int OpenDocument(const wchar_t *text);
uint16_t LanguageId(int user, int ui);
// The UI language as LanguageId reports it, looked up in the named library: 9 (English, neutral) when the
// library or its function is missing, as on systems older than Windows 2000.
uint16_t UiLanguageFrom(const char *libraryName, int user);
