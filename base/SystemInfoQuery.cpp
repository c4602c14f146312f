// SystemInfoQuery: NtQuerySystemInformation looked up by name.
#include "base/SystemInfoQuery.h"

SystemInfoQuery::SystemInfoQuery() {
    library_.Load("ntdll.dll");
}

SystemInfoQuery::SystemInfoQuery(const char *libraryName, QueryFunction function, QueryExFunction exFunction)
    : function_(function), exFunction_(exFunction), exResolved_(function != nullptr) {
    if (libraryName)
        library_.Load(libraryName);
}

SystemInfoQuery::~SystemInfoQuery() {
    function_ = nullptr;
    exFunction_ = nullptr;
    library_.Free();
}

int SystemInfoQuery::Resolve() {
    if (!function_)
        function_ = library_.Function<QueryFunction>("NtQuerySystemInformation");
    return function_ != nullptr;
}

LONG SystemInfoQuery::Query(ULONG infoClass, void *buffer, ULONG length, ULONG *returned) {
    if (!Resolve())
        return static_cast<LONG>(kUnavailable);
    return function_(infoClass, buffer, length, returned);
}

int SystemInfoQuery::Available() {
    return Resolve();
}

LONG SystemInfoQuery::QueryGroup(ULONG infoClass, uint16_t group, void *buffer, ULONG length, ULONG *returned) {
    // A query function given by the caller comes with its own group query or none.
    if (!exResolved_) {
        exFunction_ = library_.Function<QueryExFunction>("NtQuerySystemInformationEx");
        exResolved_ = 1;
    }
    if (!exFunction_)
        return static_cast<LONG>(kUnavailable);
    USHORT input = group;
    return exFunction_(infoClass, &input, sizeof(input), buffer, length, returned);
}
