// UpdateClient: the gate, the query, the answer, the questions, the three passes over the file list with
// their rollback, and the restart.
#include "update/UpdateClient.h"
#include "base/DiskFile.h"
#include "base/MachineId.h"
#include "base/ModuleInfo.h"
#include "base/Shell.h"
#include "base/SpecialFolder.h"
#include "update/FileDigest.h"
#include "update/SignedAnswer.h"
#include "update/XmlDocument.h"
#include "update/ZipArchive.h"
#include <cstdio>
#include <cstdlib>
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

int UpdateClient::IsWebAddress(const char *url) {
    return url && (_strnicmp(url, "http://", 7) == 0 || _strnicmp(url, "https://", 8) == 0) &&
           !strpbrk(url, " \t\r\n\"");
}

int UpdateClient::ResolveUrl(const char *answerUrl, const char *address, TextString &out) {
    out.Assign("");
    if (!answerUrl || !address || !*address)
        return 0;
    if (IsWebAddress(address))
        return out.Assign(address);
    // Another scheme (file:, ftp:, a drive letter), a host of its own or a Windows path is no address of
    // the answer's folder.
    const size_t schemeEnd = strcspn(address, ":/?#");
    if (address[schemeEnd] == ':' || address[0] == '\\' || strncmp(address, "//", 2) == 0)
        return 0;
    const char *host = strstr(answerUrl, "://");
    if (!host || !IsWebAddress(answerUrl))
        return 0;
    host += 3;
    const size_t pathStart = (host - answerUrl) + strcspn(host, "/?#");
    TextString folder;
    if (address[0] == '/') {
        folder.Assign(answerUrl, static_cast<uint32_t>(pathStart));
    } else {
        const size_t pathEnd = pathStart + strcspn(answerUrl + pathStart, "?#");
        size_t cut = pathEnd;
        while (cut > pathStart && answerUrl[cut - 1] != '/')
            --cut;
        folder.Assign(answerUrl, static_cast<uint32_t>(cut));
        if (cut == pathStart)
            folder.Append("/");
    }
    folder.Append(address);
    return out.Assign(folder.Text());
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
    TextString full;
    full.Format("%s\\%s", path, language);
    if (!document.ReadValue(full.Text(), out, base)) {
        full.Format("%s\\en", path);
        if (!document.ReadValue(full.Text(), out, base))
            return 0;
    }
    // The parser decoded the UTF-8 answer (LoadUtf8); decoding once more would garble every text that is
    // not plain ASCII.
    return 1;
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
            if (IsWebAddress(self->helpUrl_.Text()))
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
        if (IsWebAddress(self->helpUrl_.Text()))
            RunProgram(self->helpUrl_.Text(), nullptr, nullptr, SW_SHOWDEFAULT, 0, "open");
        *result = 1;
        return 1;
    }
    return 0;
}

// ---- the file list ----

int UpdateClient::ReadEntryOf(int isAttribute, XmlNode *node, const char *name, const char *text,
                              void *client, XmlDocument *document) {
    if (isAttribute || !name || lstrcmpiA(name, "url") != 0)
        return 0;
    auto *self = static_cast<UpdateClient *>(client);
    self->passResult_ = 0;
    auto entry = std::unique_ptr<UpdateEntry>(new (std::nothrow) UpdateEntry);
    if (!entry)
        return 1;
    TextString size;
    document->ReadValue("name", entry->name, node);
    document->ReadValue("zip", entry->zip, node);
    if (!document->ReadValue("size", size, node) || !document->ReadValue("sha256", entry->sha256, node) ||
        entry->sha256.Length() != FileDigest::kHexLength)
        return 1;
    char *end = nullptr;
    entry->size = _strtoui64(size.Text(), &end, 10);
    if (!size.Text()[0] || *end || size.Text()[0] == '-' || entry->size > kMaxFileBytes)
        return 1;
    if (!ResolveUrl(self->updateUrl_.Text(), text ? text : "", entry->url))
        return 1;
    // A name with a folder, a drive or ".." in it would write outside the program's folder.
    if (entry->zip.Length() > 0 && (entry->name.Length() == 0 || !IsPlainFileName(entry->zip.Text())))
        return 1;
    if (entry->name.Length() > 0 && !IsPlainFileName(entry->name.Text()))
        return 1;
    if (entry->name.Length() == 0) {
        // No name: a file for the desktop (an installer, say), launched instead of the program. Its name is
        // the last path component of the address, or of the text after its first "=".
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
        TextString staged;
        StagedName(last, "_new", staged);
        entry->target.Format("%s\\%s", desktop, last);
        entry->staged.Format("%s\\%s", desktop, staged.Text());
    } else {
        self->Path(entry->zip.Length() > 0 ? entry->zip.Text() : entry->name.Text(), "_new", entry->staged);
    }
    // Two entries for one file (letter case does not tell files apart) would back the first one's
    // original up twice, and the second backup would delete it.
    for (const auto &other : self->entries_) {
        const char *mine[] = {entry->name.Text(), entry->zip.Text(), entry->target.Text()};
        const char *theirs[] = {other->name.Text(), other->zip.Text(), other->target.Text()};
        for (const char *a : mine) {
            for (const char *b : theirs) {
                if (*a && lstrcmpiA(a, b) == 0)
                    return 1;
            }
        }
    }
    self->entries_.push_back(std::move(entry));
    self->passResult_ = 1;
    return 0;
}

int UpdateClient::ReadEntries(XmlDocument &document, XmlNode *base) {
    entries_.clear();
    passResult_ = 1;
    document.ForEachChild("update\\files", &UpdateClient::ReadEntryOf, this, base);
    return passResult_ == 1 && !entries_.empty();
}

// ---- the three passes ----

int UpdateClient::DownloadPass() {
    for (const auto &entry : entries_) {
        auto staged = std::unique_ptr<TextString>(new (std::nothrow) TextString);
        if (!staged || !staged->Assign(entry->staged.Text()))
            return 0;
        staged_.push_back(std::move(staged));
        // One byte over the announced size: a longer file is found while it arrives, and ends the download.
        const uint32_t limit = static_cast<uint32_t>(entry->size + 1);
        if (!http_.FetchFile(entry->url.Text(), kAgent, entry->staged.Text(), limit,
                             &UpdateClient::TransferEvent, this, kAcceptAll, sizeof kAcceptAll - 1))
            return 0;
        FileDigest digest;
        if (!digest.Matches(entry->staged.Text(), entry->size, entry->sha256.Text()))
            return 0;
    }
    return 1;
}

int UpdateClient::IsKept(const char *current) const {
    for (const auto &kept : kept_) {
        if (lstrcmpiA(kept->current.Text(), current) == 0)
            return 1;
    }
    return 0;
}

int UpdateClient::Keep(const char *current, const char *backup) {
    auto kept = std::unique_ptr<KeptFile>(new (std::nothrow) KeptFile);
    if (!kept || !kept->current.Assign(current) || !kept->backup.Assign(backup ? backup : ""))
        return 0;
    if (backup) {
        DeleteFileForced(backup);
        if (!MoveFileA(current, backup))
            return 0;
    }
    kept_.push_back(std::move(kept));
    return 1;
}

int UpdateClient::KeepArchiveFile(const char *path, void *client) {
    auto *self = static_cast<UpdateClient *>(client);
    TextString current, backup;
    self->Path(path, nullptr, current);
    if (self->IsKept(current.Text()))
        return 1;
    if (GetFileAttributesA(current.Text()) == INVALID_FILE_ATTRIBUTES)
        return self->Keep(current.Text(), nullptr);
    self->Path(path, "_old", backup);
    return self->Keep(current.Text(), backup.Text());
}

int UpdateClient::BackupPass() {
    for (const auto &entry : entries_) {
        TextString backup;
        if (entry->name.Length() == 0) {
            // The user's own file of that name on the desktop stays until the new one is in place.
            if (GetFileAttributesA(entry->target.Text()) == INVALID_FILE_ATTRIBUTES) {
                if (!Keep(entry->target.Text(), nullptr))
                    return 0;
                continue;
            }
            TextString last;
            StagedName(strrchr(entry->target.Text(), '\\') + 1, "_old", last);
            backup.Assign(entry->target.Text(), static_cast<uint32_t>(strrchr(entry->target.Text(), '\\') +
                                                                      1 - entry->target.Text()));
            backup.Append(last.Text());
            if (!Keep(entry->target.Text(), backup.Text()))
                return 0;
            continue;
        }
        TextString current;
        Path(entry->name.Text(), nullptr, current);
        Path(entry->name.Text(), "_old", backup);
        if (!IsKept(current.Text()) && !Keep(current.Text(), backup.Text()))
            return 0;
        // Every file the archive will overwrite is kept as well, so that a failed install can put it back.
        if (entry->zip.Length() > 0 &&
            !ForEachArchiveFile(entry->staged.Text(), &UpdateClient::KeepArchiveFile, this))
            return 0;
    }
    return 1;
}

int UpdateClient::ReplacePass() {
    for (const auto &entry : entries_) {
        if (entry->name.Length() == 0) {
            if (!MoveFileA(entry->staged.Text(), entry->target.Text()))
                return 0;
            executePath_.Assign(entry->target.Text());
            continue;
        }
        TextString current;
        Path(entry->name.Text(), nullptr, current);
        if (entry->zip.Length() > 0) {
            const int extracted = ExtractArchive(entry->staged.Text(), directory_.Text());
            DeleteFileForced(entry->staged.Text());
            // An archive without the file it is named for would leave nothing where that file was.
            if (!extracted || GetFileAttributesA(current.Text()) == INVALID_FILE_ATTRIBUTES)
                return 0;
        } else if (!MoveFileA(entry->staged.Text(), current.Text())) {
            return 0;
        }
    }
    return 1;
}

void UpdateClient::RollBack() {
    // Newest first: a file replaced already has its new content in place, which goes before the old returns.
    for (auto it = kept_.rbegin(); it != kept_.rend(); ++it) {
        const KeptFile &kept = **it;
        if (kept.backup.Length() == 0) {
            DeleteFileForced(kept.current.Text());
            continue;
        }
        if (GetFileAttributesA(kept.backup.Text()) == INVALID_FILE_ATTRIBUTES)
            continue;
        DeleteFileForced(kept.current.Text());
        MoveFileA(kept.backup.Text(), kept.current.Text());
    }
    for (const auto &staged : staged_)
        DeleteFileForced(staged->Text());
    kept_.clear();
    staged_.clear();
}

// ---- the check ----

int UpdateClient::FetchAnswer(const char *query, XmlDocument &document, XmlNode **base) {
    // Without the maker's key nothing can be trusted: no key, no update.
    SignedAnswer signature;
    if (!signature.LoadKey(nullptr))
        return 0;
    // One byte over the limit tells a complete answer of the largest size from a longer one.
    TextString answer, signedPart;
    if (!http_.FetchText(query, kAgent, answer, kMaxAnswerBytes + 1, nullptr, &UpdateClient::TransferEvent,
                         this) ||
        static_cast<uint32_t>(answer.Length()) > kMaxAnswerBytes)
        return 0;
    if (!signature.Verify(answer.Text(), static_cast<size_t>(answer.Length()), signedPart))
        return 0;
    if (!document.Init(kXmlNoValidation | kXmlNoExternals) || !document.LoadUtf8(signedPart.Text()))
        return 0;
    if (flags_ & kInventoryQuery) {
        *base = document.FindOrCreatePath(kInventoryBase);
        if (!*base)
            return 0;
    }
    // An expired answer counts as unsigned: an old signed answer cannot be replayed for ever.
    TextString expires;
    if (document.ReadValue("update\\expires", expires, *base)) {
        char *end = nullptr;
        const unsigned long long until = _strtoui64(expires.Text(), &end, 10);
        if (!expires.Text()[0] || *end || static_cast<unsigned long long>(_time64(nullptr)) >= until)
            return 0;
    }
    return 1;
}

int UpdateClient::Restart(XmlDocument &document, XmlNode *base) {
    TextString program, execute;
    const char *directory = directory_.Text();
    if (executePath_.Length() > 0) {
        program.Assign(executePath_.Text());
        directory = nullptr;
    } else if (document.ReadValue("update\\files\\execute", execute, base)) {
        // Only a file of the program's own folder.
        if (!IsPlainFileName(execute.Text()))
            return 0;
        program.Format("%s%s", directory_.Text(), execute.Text());
    } else {
        char path[ModuleInfo::kPathSize];
        if (!ModuleInfo::ModuleFileName(nullptr, path))
            return 0;
        program.Assign(path);
    }
    // For a missing file the shell would put up an error box of its own and keep the check waiting on it.
    if (GetFileAttributesA(program.Text()) == INVALID_FILE_ATTRIBUTES)
        return 0;
    return RunProgram(program.Text(), nullptr, directory, SW_SHOWDEFAULT, 0, "open");
}

int UpdateClient::CheckAndInstall() {
    executePath_.Assign("");
    application_.Assign("");
    helpUrl_.Assign("");
    entries_.clear();
    staged_.clear();
    kept_.clear();

    ModuleInfo module;
    uint32_t ownVersion = 0;
    TextString versionText;
    module.VersionNumbers(nullptr, &ownVersion, &versionText);
    char folder[ModuleInfo::kPathSize];
    if (programFolder_.Length() > 0)
        directory_.Assign(programFolder_.Text());
    else if (ModuleInfo::ModuleDirectory(nullptr, folder))
        directory_.Assign(folder);
    else
        return 0;

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

    XmlDocument document;
    XmlNode *base = nullptr;
    int launched = 0;
    uint32_t major = 0, minor = 0;
    TextString newVersion, declined;
    if (!FetchAnswer(query.Text(), document, &base))
        goto done;
    document.ReadValue("update\\application", application_, base);
    if (!ReadLocalizedText(document, "update\\info", infoText_, base))
        goto done;
    document.ReadValue("update\\help", helpUrl_, base);
    if (!document.ReadValue("update\\version", newVersion, base) ||
        !ParseVersion(newVersion.Text(), &major, &minor))
        goto done;
    if (!IsNewer(major, minor, (ownVersion >> 8) & 0xFF, ownVersion & 0xFF))
        goto done;
    // An answer whose file list cannot be installed as a whole is not offered.
    if (!ReadEntries(document, base))
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

    if (!DownloadPass() || !BackupPass() || !ReplacePass()) {
        RollBack();
        goto done;
    }
    // Installed: the backups stay for the next install to clear.
    kept_.clear();
    staged_.clear();

    if (!ReadLocalizedText(document, "update\\restart", restartText_, base))
        goto done;
    if (restartText_.Length() > 0) {
        int answered = 0;
        if (!Ask(1, answered))
            goto done;
    }
    // Nothing started: the window stays, with whatever load it is running.
    if (!Restart(document, base))
        goto done;
    PostMessageA(owner_, WM_CLOSE, 0, 0);
    launched = 1;

done:
    XmlDocument::ReleaseNode(base);
    document.Close();
    return launched;
}
