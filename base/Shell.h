// Starting programs, documents and URLs through the shell, and the language identifiers.
//
// Functions: RunProgram, OpenUrl, OpenDocument, LanguageId.
#pragma once

#include "base/Win.h"
#include <cstdint>

int RunProgram(const char *file, const char *parameters, const char *directory, int showCommand, int elevate,
               const char *verb);
int OpenUrl(const char *url);
int OpenDocument(const wchar_t *text);
uint16_t LanguageId(int user, int ui);
