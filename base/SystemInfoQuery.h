// SystemInfoQuery: the run-time binding to ntdll's NtQuerySystemInformation, which not every system has.
//
// Classes: SystemInfoQuery.
#pragma once

#include "base/DynamicLibrary.h"
#include "base/Win.h"
#include <cstdint>

class SystemInfoQuery {
public:
    typedef LONG(WINAPI *QueryFunction)(ULONG infoClass, void *buffer, ULONG length, ULONG *returned);
    // NtQuerySystemInformationEx (Windows 7 and later): the same classes asked about one processor group.
    typedef LONG(WINAPI *QueryExFunction)(ULONG infoClass, void *input, ULONG inputLength, void *buffer,
                                          ULONG length, ULONG *returned);

    // What Query answers when the function is not there.
    enum : uint32_t { kUnavailable = 0xC00000FFu };

    // Loads "ntdll.dll"; the function is resolved on first use.
    SystemInfoQuery();
    // Loads another library instead, or with a function given answers through it (tests, replacements).
    explicit SystemInfoQuery(const char *libraryName, QueryFunction function = nullptr,
                             QueryExFunction exFunction = nullptr);
    ~SystemInfoQuery();
    SystemInfoQuery(const SystemInfoQuery &) = delete;
    SystemInfoQuery &operator=(const SystemInfoQuery &) = delete;

    // The call's status, or kUnavailable without calling anything.
    LONG Query(ULONG infoClass, void *buffer, ULONG length, ULONG *returned);
    int Available();
    // Asks about processor group only; kUnavailable when the system has no group-aware query.
    LONG QueryGroup(ULONG infoClass, uint16_t group, void *buffer, ULONG length, ULONG *returned);

private:
    int Resolve();

    DynamicLibrary library_;
    QueryFunction function_ = nullptr;
    QueryExFunction exFunction_ = nullptr;
    int exResolved_ = 0;
};
