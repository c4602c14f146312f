// UpdateClient: the gate, the query, the answer, the questions, the three passes over the file list with
// their rollback, and the restart.
#include "update/UpdateClient.h"
#include "base/PathName.h"
#include "base/ComRef.h"
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
const char kInstallFailed[] = "The update could not be installed; Tarvex is unchanged.";

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

const char *UpdateClient::ProgramKind() {
    return ProgramArchitecture() ? ProgramArchitecture() : "x86";
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
    answered = 0;
    // A quiet client asks nothing and shows nothing; no answer is no Yes.
    if (quiet_)
        return 0;
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
        if (wParam == kNoticeFailed) {
            style = MB_OK | MB_ICONWARNING;
            text = kInstallFailed;
        } else if (wParam == kAskInstall) {
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
    // An entry for the other program is none of this one's business: one answer serves both.
    TextString size, arch;
    if (document->ReadValue("arch", arch, node) && lstrcmpiA(arch.Text(), ProgramKind()) != 0) {
        self->passResult_ = 1;
        return 0;
    }
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
        if (!PlaceOnDesktop(text, *entry))
            return 1;
    } else {
        self->Path(entry->zip.Length() > 0 ? entry->zip.Text() : entry->name.Text(), "_new", entry->staged);
    }
    if (self->NamesAFileTwice(*entry))
        return 1;
    self->entries_.push_back(std::move(entry));
    self->passResult_ = 1;
    return 0;
}

int UpdateClient::PlaceOnDesktop(const char *text, UpdateEntry &entry) {
    const char *from = strchr(text, '=');
    const char *last = FileNamePart(from ? from + 1 : text);
    // A name with blanks or letters outside ASCII travels percent-encoded as UTF-8.
    TextString named;
    if (strchr(last, '%') ? !PercentDecoded(last, named) : !named.Assign(last))
        return 0;
    char desktop[MAX_PATH];
    if (!IsPlainFileName(named.Text()) || !SpecialFolder(0, desktop))
        return 0;
    TextString staged;
    StagedName(named.Text(), "_new", staged);
    entry.target.Format("%s\\%s", desktop, named.Text());
    entry.staged.Format("%s\\%s", desktop, staged.Text());
    return 1;
}

int UpdateClient::NamesAFileTwice(const UpdateEntry &entry) const {
    const char *mine[] = {entry.name.Text(), entry.zip.Text(), entry.target.Text()};
    for (const auto &other : entries_) {
        const char *theirs[] = {other->name.Text(), other->zip.Text(), other->target.Text()};
        for (const char *a : mine) {
            for (const char *b : theirs) {
                if (*a && lstrcmpiA(a, b) == 0)
                    return 1;
            }
        }
    }
    return 0;
}

UpdateClient::AnswerRule UpdateClient::ReadEntries(XmlDocument &document, XmlNode *base) {
    entries_.clear();
    passResult_ = 1;
    document.ForEachChild("update\\files", &UpdateClient::ReadEntryOf, this, base);
    if (passResult_ != 1)
        return kAnswerBadEntry;
    return entries_.empty() ? kAnswerNoFiles : kAnswerGood;
}

// ---- the three passes ----

int UpdateClient::DownloadPass() {
    for (const auto &entry : entries_) {
        if (!journal_.Stage(entry->staged.Text()))
            return 0;
        if (entry->size == 0) {
            // An empty body reads as no answer at all; an empty file is made here instead, and still has to
            // have the signed hash below.
            DiskFile empty;
            if (!empty.Open(entry->staged.Text(), DiskFile::WriteCreate, FILE_ATTRIBUTE_NORMAL, 0) ||
                !empty.Close())
                return 0;
        } else {
            // One byte over the announced size: a longer file is found while it arrives, and ends the
            // download.
            const uint32_t limit = static_cast<uint32_t>(entry->size + 1);
            if (!http_.FetchFile(entry->url.Text(), kAgent, entry->staged.Text(), limit,
                                 &UpdateClient::TransferEvent, this, kAcceptAll, sizeof kAcceptAll - 1))
                return 0;
        }
        FileDigest digest;
        if (!digest.Matches(entry->staged.Text(), entry->size, entry->sha256.Text()))
            return 0;
    }
    return 1;
}

int UpdateClient::KeepArchiveFile(const char *path, void *client) {
    auto *self = static_cast<UpdateClient *>(client);
    TextString current, backup;
    self->Path(path, nullptr, current);
    if (self->journal_.IsKept(current.Text()))
        return 1;
    // The folders the extraction will create, outermost first, so that the rollback removes them innermost
    // first once the files in them are gone.
    for (const char *slash = strchr(path, '\\'); slash; slash = strchr(slash + 1, '\\')) {
        TextString folder, relative;
        relative.Assign(path, static_cast<uint32_t>(slash - path));
        self->Path(relative.Text(), nullptr, folder);
        if (!self->journal_.IsKept(folder.Text()) &&
            GetFileAttributesA(folder.Text()) == INVALID_FILE_ATTRIBUTES &&
            !self->journal_.Keep(folder.Text(), nullptr, 1))
            return 0;
    }
    if (GetFileAttributesA(current.Text()) == INVALID_FILE_ATTRIBUTES)
        return self->journal_.Keep(current.Text(), nullptr);
    self->Path(path, "_old", backup);
    return self->journal_.Keep(current.Text(), backup.Text());
}

int UpdateClient::BackupPass() {
    for (const auto &entry : entries_) {
        TextString backup;
        if (entry->name.Length() == 0) {
            // The user's own file of that name on the desktop stays until the new one is in place.
            if (GetFileAttributesA(entry->target.Text()) == INVALID_FILE_ATTRIBUTES) {
                if (!journal_.Keep(entry->target.Text(), nullptr))
                    return 0;
                continue;
            }
            TextString last;
            StagedName(strrchr(entry->target.Text(), '\\') + 1, "_old", last);
            backup.Assign(entry->target.Text(), static_cast<uint32_t>(strrchr(entry->target.Text(), '\\') +
                                                                      1 - entry->target.Text()));
            backup.Append(last.Text());
            if (!journal_.Keep(entry->target.Text(), backup.Text()))
                return 0;
            continue;
        }
        TextString current;
        Path(entry->name.Text(), nullptr, current);
        Path(entry->name.Text(), "_old", backup);
        if (!journal_.IsKept(current.Text()) && !journal_.Keep(current.Text(), backup.Text()))
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

// ---- the check ----

int UpdateClient::IsFresh(const char *expires, uint64_t now) {
    if (!expires || !*expires)
        return 0;
    uint64_t until = 0;
    for (const char *p = expires; *p; ++p) {
        if (*p < '0' || *p > '9')
            return 0;
        const uint64_t digit = static_cast<uint64_t>(*p - '0');
        // A number past 64 bits would wrap around into a time that looks fresh.
        if (until > (UINT64_MAX - digit) / 10)
            return 0;
        until = until * 10 + digit;
    }
    return until > now && until - now <= kMaxFreshSeconds;
}

UpdateClient::AnswerRule UpdateClient::JudgeAnswer(const char *answer, size_t length, uint64_t now,
                                                   XmlDocument &document, XmlNode **base) {
    *base = nullptr;
    if (length > kMaxAnswerBytes)
        return kAnswerTooLong;
    // Without the maker's key nothing can be trusted: no key, no update.
    SignedAnswer signature;
    TextString signedPart;
    if (!signature.LoadKey(nullptr) || !signature.Verify(answer, length, signedPart))
        return kAnswerUnsigned;
    if (!document.Init(kXmlNoValidation | kXmlNoExternals) || !document.LoadUtf8(signedPart.Text()))
        return kAnswerNotXml;
    if (flags_ & kInventoryQuery) {
        *base = document.FindOrCreatePath(kInventoryBase);
        if (!*base)
            return kAnswerNotXml;
    }
    // Every answer expires: the default address is plain HTTP, and an old signed answer served for ever
    // would keep users on an old release.
    TextString expires;
    if (!document.ReadValue("update\\expires", expires, *base) || !IsFresh(expires.Text(), now))
        return kAnswerStale;
    application_.Assign("");
    document.ReadValue("update\\application", application_, *base);
    if (!ReadLocalizedText(document, "update\\info", infoText_, *base))
        return kAnswerNoInfo;
    helpUrl_.Assign("");
    document.ReadValue("update\\help", helpUrl_, *base);
    if (!document.ReadValue("update\\version", newVersion_, *base) ||
        !ParseVersion(newVersion_.Text(), &newMajor_, &newMinor_))
        return kAnswerNoVersion;
    return ReadEntries(document, *base);
}

int UpdateClient::FetchAnswer(const char *query, XmlDocument &document, XmlNode **base) {
    // One byte over the limit tells a complete answer of the largest size from a longer one.
    TextString answer;
    if (!http_.FetchText(query, kAgent, answer, kMaxAnswerBytes + 1, nullptr, &UpdateClient::TransferEvent,
                         this))
        return 0;
    return JudgeAnswer(answer.Text(), static_cast<size_t>(answer.Length()),
                       static_cast<uint64_t>(_time64(nullptr)), document, base) == kAnswerGood;
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

void UpdateClient::ForgetLastCheck() {
    executePath_.Assign("");
    application_.Assign("");
    helpUrl_.Assign("");
    entries_.clear();
    journal_.Clear();
}

int UpdateClient::ChooseFolder() {
    char folder[ModuleInfo::kPathSize];
    if (programFolder_.Length() > 0)
        directory_.Assign(programFolder_.Text());
    else if (ModuleInfo::ModuleDirectory(nullptr, folder))
        directory_.Assign(folder);
    else
        return 0;
    return 1;
}

void UpdateClient::BuildQuery(const TextString &versionText, TextString &query) const {
    TextString identifier;
    MachineId(MachineId::kAllSources).Compute(MachineId::kUpdateCheck, identifier);
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
}

int UpdateClient::AskToInstall() {
    int answered = 0;
    if (valueName_.Length() == 0)
        return Ask(kAskInstall, answered);
    TextString versionValue, declined;
    versionValue.Format("%sVersion", valueName_.Text());
    store_.ReadString(versionValue.Text(), declined);
    if (declined.Compare(newVersion_.Text()) == 0)
        return 0;
    if (Ask(kAskInstall, answered))
        return 1;
    // Only a real No is remembered: a window that went away answered nothing.
    if (answered)
        store_.WriteString(versionValue.Text(), newVersion_.Text());
    return 0;
}

int UpdateClient::Install() {
    if (!DownloadPass() || !BackupPass() || !ReplacePass()) {
        journal_.RollBack();
        // The user said Yes and waits for the update: a failure is said once, after everything is back.
        int answered = 0;
        Ask(kNoticeFailed, answered);
        return 0;
    }
    // Installed: the backups stay for the next install to clear.
    journal_.Clear();
    return 1;
}

int UpdateClient::AskToRestart(XmlDocument &document, XmlNode *base) {
    if (!ReadLocalizedText(document, "update\\restart", restartText_, base))
        return 0;
    int answered = 0;
    return restartText_.Length() == 0 || Ask(kAskRestart, answered);
}

int UpdateClient::RestartAndClose(XmlDocument &document, XmlNode *base) {
    // Nothing started: the window stays, with whatever load it is running.
    if (!Restart(document, base))
        return 0;
    PostMessageA(owner_, WM_CLOSE, 0, 0);
    return 1;
}

int UpdateClient::CheckAndInstall() {
    ForgetLastCheck();
    ModuleInfo module;
    uint32_t ownVersion = 0;
    TextString versionText;
    module.VersionNumbers(nullptr, &ownVersion, &versionText);
    if (!ChooseFolder())
        return 0;
    TextString query;
    BuildQuery(versionText, query);

    XmlDocument document;
    ComRef<XmlNode> base;
    // An answer whose file list cannot be installed as a whole is not offered.
    const int launched = FetchAnswer(query.Text(), document, base.Receive()) &&
                         IsNewer(newMajor_, newMinor_, (ownVersion >> 8) & 0xFF, ownVersion & 0xFF) &&
                         AskToInstall() && Install() && AskToRestart(document, base.Get()) &&
                         RestartAndClose(document, base.Get());
    base.Reset();
    document.Close();
    return launched;
}
