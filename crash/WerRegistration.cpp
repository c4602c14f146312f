// WerRegistration: run-time binding to WerRegisterFile.
#include "crash/WerRegistration.h"
#include "base/TextString.h"

WerRegistration::WerRegistration() {
    kernel32_.Load("kernel32.dll");
}

int WerRegistration::Register(const char *path) {
    if (!looked_) {
        looked_ = 1;
        registerFile_ = kernel32_.Function<RegisterFileFunction>("WerRegisterFile");
    }
    if (!registerFile_ || !path || !*path)
        return 0;
    TextString text;
    if (!text.Assign(path))
        return 0;
    const wchar_t *wide = text.Wide();
    if (!wide)
        return 0;
    return registerFile_(wide, kFileTypeOther, kAnsiConversion) >= 0 ? 1 : 0;
}
