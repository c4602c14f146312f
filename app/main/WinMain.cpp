// Tarvex's entry point and the program's global objects.
#include "app/MainDialog.h"
#include "crash/CrashReporter.h"
#include "res/ResourceIds.h"
#include "update/SignedAnswer.h"

static_assert(IDR_UPDATE_KEY == SignedAnswer::kKeyResource,
              "the update client looks for the key the resources hold");

// The runtime constructs the globals of this file in the order they are written and destroys them in
// reverse after WinMain returns. The crash reporter belongs above the application object, so that its
// exception filter is in place before any part of the dialog is built and stays until the last one is gone.
static CrashReporter crashReporter(CrashReporter::kDefaultOptions);
static MainDialog application;

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    // The command line is the dialog's business; the dialog's result is the exit code.
    return static_cast<int>(application.RunModal(instance, IDD_MAIN, 0, nullptr));
}
