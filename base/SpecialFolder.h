// SpecialFolder: the paths of the profile, temporary, system and shell folders, written into a 260-byte
// buffer; EnsureBackslash for such buffers.
//
// Functions: SpecialFolder, EnsureBackslash.
#pragma once

#include "base/Win.h"
#include <cstdint>

enum SpecialFolderKind : uint32_t {
    ProfilesFolder = 0x10000,
    UserProfileFolder = 0x10001,
    DefaultUserProfileFolder = 0x10002,
    MachineTempFolder = 0x10003,
    WindowsFolder = 0x10004,
    TempPathFolder = 0x10005,
    SystemFolder = 0x10006,
    CurrentFolder = 0x10007,
};

// kind is one of the values above or a shell folder number (CSIDL). buffer holds MAX_PATH (260) bytes; it
// is always terminated, and empty when no path was produced (result 0).
int SpecialFolder(uint32_t kind, char *buffer);

// Appends '\' unless the text already ends in one (an empty text becomes "\"). 0, with the text unchanged,
// when the appended character would not fit a buffer of capacity bytes.
int EnsureBackslash(char *text, uint32_t capacity = MAX_PATH);
