// UpdateClient: the gate, the query, the answer, the questions, the three passes over the file list with
// their rollback, and the restart.
#include "update/UpdateClient.h"
#include "base/DiskFile.h"
#include "base/MachineId.h"
#include "base/ModuleInfo.h"
#include "base/Shell.h"
#include "base/SpecialFolder.h"
#include "update/XmlDocument.h"
#include "update/ZipArchive.h"
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>

namespace {

const char kCheckMessageName[] = "_C_AutoUpdate";
const char kAgent[] = "AutoUpdate";
const char kAcceptAll[] = "Accept: */*\r\n\r\n";
const char kInventoryBase[] = "Quillon\\Updates\\xml";
const UINT kQuestionStyle = MB_YESNO | MB_ICONQUESTION;

// The ISO 639 name of the user's default language, "en" when the system cannot tell.
void UserLanguage(char *language, int size) {
    if (!GetLocaleInfoA(MAKELCID(LanguageId(1, 0), SORT_DEFAULT), LOCALE_SISO639LANGNAME, language, size) ||
        !language[0])
        lstrcpynA(language, "en", size);
}

uint32_t Now32() {
    return static_cast<uint32_t>(time(nullptr));
}

// Two unsigned decimal numbers "major.minor" and nothing else of note.
int ParseVersion(const char *text, uint32_t *major, uint32_t *minor) {
    unsigned a = 0, b = 0;
    if (sscanf(text, "%u.%u", &a, &b) != 2)
        return 0;
    *major = a;
    *minor = b;
    return 1;
}

} // namespace

// ---- starting and stopping ----

int UpdateClient::StartCheck(const char *updateUrl, HWND owner, HKEY root, const char *keyPath,
                             const char *valueName, uint32_t flags, const char *itemName,
                             const char *itemType) {
    StopCheck();
    boxShowing_ = 0;
    updateUrl_.Assign(updateUrl ? updateUrl : "");
    owner_ = owner;
    valueName_.Assign(valueName ? valueName : "");
    flags_ = flags;
    itemName_.Assign(itemName ? itemName : "");
    itemType_.Assign(itemType ? itemType : "");

    store_.Init((flags & kIniStore) ? kStoreIni : kStoreRegistry, root, keyPath);
    if (valueName_.Length() > 0) {
        const uint32_t last = store_.ReadNumber(valueName_.Text(), 0);
        if (last == kSkipOnce) {
            store_.WriteNumber(valueName_.Text(), 0);
            return 0;
        }
        const uint32_t now = Now32();
        if (last + kWeekSeconds >= now)
            return 0;
        // Stored before the check runs, so that a check that crashes or hangs is not repeated at every start.
        store_.WriteNumber(valueName_.Text(), now);
    }

    checkMessage_ = RegisterWindowMessageA(kCheckMessageName);
    // A window that carries an update hook already keeps it; the check goes on without answers (No).
    hook_.Attach(owner_, &UpdateClient::OnCheckMessage, this);
    if (flags & kNoThread)
        return 1;
    return thread_.Start(&UpdateClient::CheckThread, this, 0);
}

void UpdateClient::StopCheck() {
    // A download in progress notices the request in its next event and ends.
    thread_.RequestStop();
    // The wait dispatches messages, so a question the check sends meanwhile is still answered; a quit
    // message ends the wait early, so wait again until the thread is really gone.
    while (thread_.Running() && !thread_.Wait(0))
        Sleep(1);
    hook_.Detach();
}

int32_t UpdateClient::CheckThread(void *client, int32_t) {
    return static_cast<UpdateClient *>(client)->CheckAndInstall();
}

uint32_t UpdateClient::TransferEvent(uint32_t code, void *, void *client) {
    // Everything is allowed (cookies too, event 8), unless the owner is closing.
    (void)code;
    return static_cast<UpdateClient *>(client)->thread_.StopRequested() ? 0 : 1;
}

// ---- pieces the check is made of ----

int UpdateClient::IsNewer(uint32_t major, uint32_t minor, uint32_t ownMajor, uint32_t ownMinor) {
    if (major != ownMajor)
        return major > ownMajor;
    return minor > ownMinor;
}

void UpdateClient::PlainQuery(const char *url, const char *version, const char *identifier,
                              const char *architecture, TextString &out) {
    const char separator = strchr(url, '?') ? '&' : '?';
    out.Format("%s%cv=%s&id=%s", url, separator, version, identifier);
    if (architecture) {
        out.Append("&arch=");
        out.Append(architecture);
    }
}

const char *UpdateClient::ProgramArchitecture() {
#ifdef _WIN64
    return "x64";
#else
    return nullptr;
#endif
}

void UpdateClient::StagedName(const char *name, const char *suffix, TextString &out) {
    char stem[MAX_PATH];
    lstrcpynA(stem, name, sizeof stem);
    StripExtension(stem, 3);
    TextString extension;
    ExtensionOf(name, extension);
    out.Format("%s%s%s", stem, suffix, extension.Text());
}

void UpdateClient::Path(const char *name, const char *suffix, TextString &out) const {
    TextString staged;
    if (suffix)
        StagedName(name, suffix, staged);
    else
        staged.Assign(name);
    out.Format("%s%s", directory_.Text(), staged.Text());
}

int UpdateClient::ReadLocalizedText(XmlDocument &document, const char *path, TextString &out, XmlNode *base) {
    char language[16];
    UserLanguage(language, sizeof language);
    TextString full, raw;
    full.Format("%s\\%s", path, language);
    if (!document.ReadValue(full.Text(), raw, base)) {
        full.Format("%s\\en", path);
        if (!document.ReadValue(full.Text(), raw, base))
            return 0;
    }
    return raw.DecodeUtf8To(out);
}

int UpdateClient::Ask(WPARAM question, int &answered) {
    answered_ = 0;
    const LRESULT result = SendMessageA(owner_, checkMessage_, question, 0);
    answered = answered_;
    return result == 1;
}

int UpdateClient::OnCheckMessage(HWND window, UINT message, WPARAM wParam, LPARAM, LRESULT *result,
                                 void *client) {
    auto *self = static_cast<UpdateClient *>(client);
    if (message == self->checkMessage_ && message) {
        self->boxShowing_ = 1;
        UINT style = kQuestionStyle;
        const char *text = self->restartText_.Text();
        if (wParam == 0) {
            text = self->infoText_.Text();
            if (self->helpUrl_.Length() > 0)
                style |= MB_HELP;
        }
        // The texts come from the server: shown as they are, never used as a format.
        const int answer = MessageBoxA(window, text, self->application_.Text(), style);
        *result = answer == IDYES ? 1 : 0;
        self->boxShowing_ = 0;
        self->answered_ = 1;
        return 1;
    }
    if (message == WM_HELP && self->boxShowing_) {
        if (self->helpUrl_.Length() > 0)
            RunProgram(self->helpUrl_.Text(), nullptr, nullptr, SW_SHOWDEFAULT, 0, "open");
        *result = 1;
        return 1;
    }
    return 0;
}

// ---- the three passes ----

UpdateClient *UpdateClient::PassEntry(int isAttribute, const char *name, void *client) {
    if (isAttribute || !name || lstrcmpiA(name, "url") != 0)
        return nullptr;
    auto *self = static_cast<UpdateClient *>(client);
    self->passResult_ = 0;
    return self;
}

int UpdateClient::ReadEntry(XmlNode *node, XmlDocument *document, TextString &fileName, TextString *zipName) {
    fileName.Assign("");
    if (zipName) {
        zipName->Assign("");
        document->ReadValue("zip", *zipName, node);
    }
    return document->ReadValue("name", fileName, node);
}

int UpdateClient::DownloadPass(int isAttribute, XmlNode *node, const char *name, const char *text,
                               void *client, XmlDocument *document) {
    UpdateClient *self = PassEntry(isAttribute, name, client);
    if (!self)
        return 0;
    TextString fileName, zipName;
    if (ReadEntry(node, document, fileName, &zipName)) {
        const TextString &source = zipName.Length() > 0 ? zipName : fileName;
        // A name with a folder, a drive or ".." in it would write outside the program's folder.
        if (!IsPlainFileName(source.Text()) || (zipName.Length() > 0 && !IsPlainFileName(fileName.Text())))
            return 1;
        auto staged = std::unique_ptr<TextString>(new (std::nothrow) TextString);
        if (!staged)
            return 1;
        self->Path(source.Text(), "_new", *staged);
        const int fetched =
            self->http_.FetchFile(text, kAgent, staged->Text(), 0, &UpdateClient::TransferEvent, self,
                                  kAcceptAll, sizeof kAcceptAll - 1);
        if (!fetched)
            return 1;
        self->staged_.push_back(std::move(staged));
        self->passResult_ = 1;
        return 0;
    }
    // No name: a file for the desktop (an installer, say), launched instead of the program.
    const char *from = strchr(text, '=');
    from = from ? from + 1 : text;
    const char *last = from;
    for (const char *p = from; *p; ++p) {
        if (*p == '/' || *p == '\\')
            last = p + 1;
    }
    char desktop[MAX_PATH];
    if (!IsPlainFileName(last) || !SpecialFolder(0, desktop))
        return 1;
    TextString target;
    target.Format("%s\\%s", desktop, last);
    if (!self->http_.FetchFile(text, kAgent, target.Text(), 0, &UpdateClient::TransferEvent, self, kAcceptAll,
                               sizeof kAcceptAll - 1))
        return 1;
    self->executePath_.Assign(target.Text());
    self->passResult_ = 1;
    return 0;
}

int UpdateClient::BackupPass(int isAttribute, XmlNode *node, const char *name, const char *, void *client,
                             XmlDocument *document) {
    UpdateClient *self = PassEntry(isAttribute, name, client);
    if (!self)
        return 0;
    TextString fileName;
    if (ReadEntry(node, document, fileName, nullptr)) {
        if (!IsPlainFileName(fileName.Text()))
            return 1;
        TextString current, backup;
        self->Path(fileName.Text(), nullptr, current);
        self->Path(fileName.Text(), "_old", backup);
        DeleteFileForced(backup.Text());
        if (!MoveFileA(current.Text(), backup.Text()))
            return 1;
        auto moved = std::unique_ptr<TextString>(new (std::nothrow) TextString);
        if (!moved || !moved->Assign(fileName.Text())) {
            MoveFileA(backup.Text(), current.Text());
            return 1;
        }
        self->backedUp_.push_back(std::move(moved));
    }
    self->passResult_ = 1;
    return 0;
}

int UpdateClient::ReplacePass(int isAttribute, XmlNode *node, const char *name, const char *, void *client,
                              XmlDocument *document) {
    UpdateClient *self = PassEntry(isAttribute, name, client);
    if (!self)
        return 0;
    TextString fileName, zipName;
    if (ReadEntry(node, document, fileName, &zipName)) {
        if (zipName.Length() > 0) {
            TextString archive;
            self->Path(zipName.Text(), "_new", archive);
            const int extracted = ExtractArchive(archive.Text(), self->directory_.Text());
            DeleteFileForced(archive.Text());
            if (!extracted)
                return 1;
        } else {
            TextString staged, current;
            self->Path(fileName.Text(), "_new", staged);
            self->Path(fileName.Text(), nullptr, current);
            if (!MoveFileA(staged.Text(), current.Text()))
                return 1;
        }
    }
    self->passResult_ = 1;
    return 0;
}

void UpdateClient::RollBack() {
    // Newest first: a name replaced already has its new file in place, which goes before the old one returns.
    for (auto it = backedUp_.rbegin(); it != backedUp_.rend(); ++it) {
        TextString current, backup;
        Path((*it)->Text(), nullptr, current);
        Path((*it)->Text(), "_old", backup);
        if (GetFileAttributesA(backup.Text()) == INVALID_FILE_ATTRIBUTES)
            continue;
        DeleteFileForced(current.Text());
        MoveFileA(backup.Text(), current.Text());
    }
    for (const auto &staged : staged_)
        DeleteFileForced(staged->Text());
    backedUp_.clear();
    staged_.clear();
}

// ---- the check ----

int UpdateClient::CheckAndInstall() {
    executePath_.Assign("");
    application_.Assign("");
    helpUrl_.Assign("");
    staged_.clear();
    backedUp_.clear();

    ModuleInfo module;
    uint32_t ownVersion = 0;
    TextString versionText;
    module.VersionNumbers(nullptr, &ownVersion, &versionText);
    char folder[ModuleInfo::kPathSize];
    if (!ModuleInfo::ModuleDirectory(nullptr, folder))
        return 0;
    directory_.Assign(folder);

    TextString identifier;
    MachineId(MachineId::kAllSources).Compute(MachineId::kUpdateCheck, identifier);

    TextString query;
    if (flags_ & kInventoryQuery) {
        char language[16];
        UserLanguage(language, sizeof language);
        const char separator = strchr(updateUrl_.Text(), '?') ? '&' : '?';
        query.Format("%s%ca=updates&d=0&f=16&l=%s&g=%s&i=<Quillon><Inventory><Item Type=\"%s\" Name=\"%s\" "
                     "Version=\"%s\" /></Inventory></Quillon>",
                     updateUrl_.Text(), separator, language, identifier.Text(), itemType_.Text(),
                     itemName_.Text(), versionText.Text());
    } else {
        PlainQuery(updateUrl_.Text(), versionText.Text(), identifier.Text(), ProgramArchitecture(), query);
    }

    // One byte over the limit tells a complete answer of the largest size from a longer one.
    TextString answer;
    if (!http_.FetchText(query.Text(), kAgent, answer, kMaxAnswerBytes + 1, nullptr,
                         &UpdateClient::TransferEvent, this) ||
        static_cast<uint32_t>(answer.Length()) > kMaxAnswerBytes)
        return 0;

    XmlDocument document;
    if (!document.Init(kXmlNoValidation | kXmlNoExternals) || !document.LoadText(answer.Text()))
        return 0;
    XmlNode *base = nullptr;
    if (flags_ & kInventoryQuery) {
        base = document.FindOrCreatePath(kInventoryBase);
        if (!base)
            return 0;
    }

    int launched = 0;
    uint32_t major = 0, minor = 0;
    TextString newVersion, declined;
    document.ReadValue("update\\application", application_, base);
    if (!ReadLocalizedText(document, "update\\info", infoText_, base))
        goto done;
    document.ReadValue("update\\help", helpUrl_, base);
    if (!document.ReadValue("update\\version", newVersion, base) ||
        !ParseVersion(newVersion.Text(), &major, &minor))
        goto done;
    if (!IsNewer(major, minor, (ownVersion >> 8) & 0xFF, ownVersion & 0xFF))
        goto done;
    if (valueName_.Length() > 0) {
        TextString versionValue;
        versionValue.Format("%sVersion", valueName_.Text());
        store_.ReadString(versionValue.Text(), declined);
        if (declined.Compare(newVersion.Text()) == 0)
            goto done;
        int answered = 0;
        if (!Ask(0, answered)) {
            // Only a real No is remembered: a window that went away answered nothing.
            if (answered)
                store_.WriteString(versionValue.Text(), newVersion.Text());
            goto done;
        }
    } else {
        int answered = 0;
        if (!Ask(0, answered))
            goto done;
    }

    passResult_ = 0;
    document.ForEachChild("update\\files", &UpdateClient::DownloadPass, this, base);
    if (passResult_ != 1) {
        RollBack();
        goto done;
    }
    passResult_ = 0;
    document.ForEachChild("update\\files", &UpdateClient::BackupPass, this, base);
    if (passResult_ == 1) {
        passResult_ = 0;
        document.ForEachChild("update\\files", &UpdateClient::ReplacePass, this, base);
    }
    if (passResult_ != 1) {
        RollBack();
        goto done;
    }
    // Installed: the backups stay for the next install to clear.
    backedUp_.clear();
    staged_.clear();

    if (!ReadLocalizedText(document, "update\\restart", restartText_, base))
        goto done;
    if (restartText_.Length() > 0) {
        int answered = 0;
        if (!Ask(1, answered))
            goto done;
    }
    if (executePath_.Length() > 0) {
        RunProgram(executePath_.Text(), nullptr, nullptr, SW_SHOWDEFAULT, 0, "open");
    } else {
        TextString execute, program;
        if (document.ReadValue("update\\files\\execute", execute, base)) {
            // Only a file of the program's own folder.
            if (!IsPlainFileName(execute.Text()))
                goto done;
            program.Format("%s%s", directory_.Text(), execute.Text());
        } else {
            char path[ModuleInfo::kPathSize];
            if (!ModuleInfo::ModuleFileName(nullptr, path))
                goto done;
            program.Assign(path);
        }
        RunProgram(program.Text(), nullptr, directory_.Text(), SW_SHOWDEFAULT, 0, "open");
    }
    PostMessageA(owner_, WM_CLOSE, 0, 0);
    launched = 1;

done:
    XmlDocument::ReleaseNode(base);
    document.Close();
    return launched;
}
