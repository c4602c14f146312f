// SystemInfoQuery: NtQuerySystemInformation looked up by name.
#include "base/SystemInfoQuery.h"

SystemInfoQuery::SystemInfoQuery() {
    library_.Load("ntdll.dll");
}

SystemInfoQuery::SystemInfoQuery(const char *libraryName, QueryFunction function) : function_(function) {
    if (libraryName)
        library_.Load(libraryName);
}

SystemInfoQuery::~SystemInfoQuery() {
    function_ = nullptr;
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
