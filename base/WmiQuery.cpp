// WmiQuery: WMI through COM, for the network adapter address of the machine identifier.
#include "base/WmiQuery.h"
#include "base/ComInitializer.h"
#include "base/ComRef.h"
#include "base/TextString.h"
#include <wbemidl.h>
#include <utility>

namespace {
const CLSID kClsidWbemLocator = {
    0x4590F811, 0x1D3A, 0x11D0, {0x89, 0x1F, 0x00, 0xAA, 0x00, 0x4B, 0x2E, 0x24}};
const IID kIidWbemLocator = {0xDC12A687, 0x737F, 0x11CF, {0x88, 0x4D, 0x00, 0xAA, 0x00, 0x4B, 0x2E, 0x24}};
// How long one result object may take. A broken WMI service must not hold the caller (the update check's
// thread) for ever; a healthy one answers this query in well under a second.
const LONG kNextTimeoutMs = 20000;

BstrHolder BstrOf(const char *text) {
    TextString copy;
    copy.Assign(text);
    return copy.ToBstr();
}

int Query(const char *nameSpace, const char *query, const char *property, TextString &out) {
    HRESULT security = CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT,
                                            RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);
    // Only the first caller in a process sets the security; later ones are told it is too late.
    if (FAILED(security) && security != RPC_E_TOO_LATE)
        return 0;
    ComRef<IWbemLocator> locator;
    if (!CreateComObject(kClsidWbemLocator, kIidWbemLocator, locator.ReceiveVoid()))
        return 0;
    ComRef<IWbemServices> services;
    if (FAILED(locator->ConnectServer(BstrOf(nameSpace).Get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr,
                                      services.Receive())) ||
        !services)
        return 0;
    if (FAILED(CoSetProxyBlanket(services.Get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr,
                                 RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE)))
        return 0;
    ComRef<IEnumWbemClassObject> results;
    if (FAILED(services->ExecQuery(BstrOf("WQL").Get(), BstrOf(query).Get(),
                                   WBEM_FLAG_RETURN_IMMEDIATELY | WBEM_FLAG_FORWARD_ONLY, nullptr,
                                   results.Receive())) ||
        !results)
        return 0;
    // The whole answer is taken, one object at a time; only the first one is read.
    ComRef<IWbemClassObject> first;
    for (;;) {
        ComRef<IWbemClassObject> object;
        ULONG returned = 0;
        HRESULT result = results->Next(kNextTimeoutMs, 1, object.Receive(), &returned);
        if (!returned || !object)
            break;
        if (!first)
            first = std::move(object);
        if (result != WBEM_S_NO_ERROR)
            break;
    }
    if (!first)
        return 0;
    TextString name;
    name.Assign(property);
    const wchar_t *wideName = name.Wide();
    VARIANT value;
    VariantInit(&value);
    if (!wideName || FAILED(first->Get(wideName, 0, &value, nullptr, nullptr)))
        return 0;
    int isText = V_VT(&value) == VT_BSTR && V_BSTR(&value);
    if (isText)
        out.Assign(static_cast<const wchar_t *>(V_BSTR(&value)));
    VariantClear(&value);
    return isText;
}
} // namespace

int WmiQuery::Run(const char *nameSpace, const char *query, const char *property, TextString &out) {
    out.Assign("");
    if (!nameSpace || !query || !property)
        return 0;
    ComInitializer com;
    if (!com.Start())
        return 0;
    // Every interface is released inside Query, before COM ends here.
    int found = Query(nameSpace, query, property, out);
    if (!found)
        out.Assign("");
    com.Close();
    return found;
}
