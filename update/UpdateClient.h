// UpdateClient: the automatic update. At most once a week (or at once when asked) it queries the maker's
// update server with the program's version and the machine identifier, reads the XML answer, asks the user,
// downloads the new files beside the program as "_new", renames the current ones to "_old", puts the new
// ones (or the contents of downloaded archives) in place, asks whether to restart, launches the new program
// and closes the main window. The check runs on a thread of its own and reaches the window only through
// the registered message "_C_AutoUpdate" (answered by a hook on the window's own thread) and a posted
// WM_CLOSE. Nothing of an answer is acted on unless the maker's signature on it verifies with a public
// key the program carries and its expiry lies ahead, and every download must have the size and SHA-256 the
// signed answer names.
// UpdateEntry is one file of an answer's list.
//
// Classes: UpdateClient, UpdateEntry.
#pragma once

#include "base/SettingsStore.h"
#include "base/TextString.h"
#include "base/Win.h"
#include "base/WorkerThread.h"
#include "ui/SubclassHook.h"
#include "update/HttpClient.h"
#include "update/InstallJournal.h"
#include "update/XmlBackEnd.h"
#include <cstdint>
#include <memory>
#include <vector>

class XmlDocument;

// One "url" entry of the answer, read and checked before anything is downloaded.
struct UpdateEntry {
    TextString name;   // target in the program's folder; empty for a download to the desktop
    TextString zip;    // the archive downloaded instead of name, or empty
    TextString url;    // the address, resolved against the answer's own
    TextString sha256; // 64 hex digits
    uint64_t size = 0;
    TextString staged; // where the download goes
    TextString target; // desktop download: the path it ends under
};

class UpdateClient {
public:
    // Start flags.
    enum : uint32_t { kInventoryQuery = 1, kNoThread = 2, kIniStore = 4 };
    // The gate: seconds that must have passed since the last check (strictly more).
    enum : uint32_t { kWeekSeconds = 604800, kSkipOnce = 0xFFFFFFFFu };
    // The largest update answer read; a longer one ends the check.
    enum : uint32_t { kMaxAnswerBytes = 4u << 20 };
    // The largest download an answer may announce (the byte limit of a download is one more).
    enum : uint64_t { kMaxFileBytes = 0xFFFFFFFEu };
    // How far ahead an answer's expiry may lie: 400 days, so that a mistyped expiry cannot mean "never" and
    // a yearly re-signing still fits.
    enum : uint64_t { kMaxFreshSeconds = 400ull * 86400 };
    // The rules an answer must keep, in the order the check applies them; the first one broken ends the
    // check. kAnswerGood: the answer may be offered (when its version is newer).
    enum AnswerRule : int {
        kAnswerGood = 0,
        kAnswerTooLong,   // more than kMaxAnswerBytes
        kAnswerUnsigned,  // no signature line, or one that does not verify with a key of the program
        kAnswerNotXml,    // the signed part does not parse
        kAnswerStale,     // no expiry, not a whole number, past, or further ahead than kMaxFreshSeconds
        kAnswerNoInfo,    // no info text for the user's language nor English
        kAnswerNoVersion, // no version of the form major.minor
        kAnswerBadEntry,  // a url entry without size or hash, with a bad name or address, or a name twice
        kAnswerNoFiles,   // no url entry for this program
    };

    UpdateClient() = default;
    ~UpdateClient() { StopCheck(); }
    UpdateClient(const UpdateClient &) = delete;
    UpdateClient &operator=(const UpdateClient &) = delete;

    // Every text may be null. With a value name the check runs only when more than a week has passed since
    // the time stored under it; otherwise at once. 1 when a check was started (or armed, with kNoThread).
    int StartCheck(const char *updateUrl, HWND owner, HKEY root, const char *keyPath, const char *valueName,
                   uint32_t flags, const char *itemName, const char *itemType);
    // quiet 1: the check asks nothing, shows nothing and installs nothing (a run that must not stop for a
    // box). Kept across checks.
    void SetQuiet(int quiet) { quiet_ = quiet; }
    // Waits (dispatching messages) until a running check has ended, and detaches from the window. A download
    // under way is cancelled first.
    void StopCheck();

    // The check itself; 1 when it launched the new program.
    int CheckAndInstall();
    // Applies every rule to an answer of length bytes at the time now (seconds since 1970): its size, its
    // signature, its document, its expiry, its texts, its version and its file list. Leaves the document
    // loaded, base set (in inventory form) and the entries read for the install. Needs the update URL of
    // StartCheck, against which relative addresses are resolved.
    AnswerRule JudgeAnswer(const char *answer, size_t length, uint64_t now, XmlDocument &document,
                           XmlNode **base);
    // 1 for an expiry text that is a whole number of seconds since 1970 after now and at most
    // kMaxFreshSeconds after it; signs, blanks, and numbers too large for 64 bits are not.
    static int IsFresh(const char *expires, uint64_t now);
    // The hook's handler on the owner window's thread: the questions and the help button.
    static int OnCheckMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT *result,
                              void *client);
    // path + "\" + the user's language, else path + "\en"; the UTF-8 text converted to the system code page.
    static int ReadLocalizedText(XmlDocument &document, const char *path, TextString &out, XmlNode *base);

    // The version rule: the answer is newer when its major number is greater, or equal with a greater minor.
    static int IsNewer(uint32_t major, uint32_t minor, uint32_t ownMajor, uint32_t ownMinor);
    // The query URL for the plain form: url, '?' or '&', "v=<version>&id=<identifier>", then
    // "&arch=<architecture>" when one is given (the 64-bit program names itself, so that the answer can
    // name its files).
    static void PlainQuery(const char *url, const char *version, const char *identifier,
                           const char *architecture, TextString &out);
    // What the program names in its query: "x64" for the 64-bit program, null for the 32-bit one.
    static const char *ProgramArchitecture();
    // The "arch" of the answer's entries for this program: "x64" or "x86". Entries without one are for both.
    static const char *ProgramKind();
    // The staged names of a file name: stem + "_new" + extension, as "readme.html" -> "readme.html_new.html".
    static void StagedName(const char *name, const char *suffix, TextString &out);
    // A download address of the answer: absolute "http://" or "https://" ones as they are; a path from
    // "/" on the answer's host; anything else relative to the folder of the answer's address (its query
    // dropped), so that a mirror serves the maker's folder as it is. 0 for other schemes and "//host".
    static int ResolveUrl(const char *answerUrl, const char *address, TextString &out);
    // The help page is opened only when it is a web address.
    static int IsWebAddress(const char *url);
    uint32_t CheckMessage() const { return checkMessage_; }
    // The folder the install works in, with its trailing backslash; empty (the default) for the program's
    // own folder. A program that installs beside another one, or a test, names it.
    void SetProgramFolder(const char *folder) { programFolder_.Assign(folder ? folder : ""); }

private:
    static int32_t CheckThread(void *client, int32_t);
    static uint32_t TransferEvent(uint32_t code, void *data, void *client);
    // The steps of CheckAndInstall, in order; each 1 when the check goes on.
    void ForgetLastCheck();
    int ChooseFolder();
    void BuildQuery(const TextString &versionText, TextString &query) const;
    // Asks unless the user declined this very version before; a No is remembered.
    int AskToInstall();
    // The three passes, or everything rolled back and the failure said.
    int Install();
    // The restart question, when the answer has a restart text.
    int AskToRestart(XmlDocument &document, XmlNode *base);
    int RestartAndClose(XmlDocument &document, XmlNode *base);
    // The answer fetched within the size limit and judged now; 1 when it may be acted on.
    int FetchAnswer(const char *query, XmlDocument &document, XmlNode **base);
    // Reads every "url" entry of "update\files" into entries_ (nothing written yet): kAnswerBadEntry for an
    // entry without size or hash, with a name that leaves the folder or an address that cannot be resolved,
    // and for a name given twice; kAnswerNoFiles for an empty list. Relative addresses are resolved against
    // the update URL, whose folder is the answer's.
    AnswerRule ReadEntries(XmlDocument &document, XmlNode *base);
    static int ReadEntryOf(int isAttribute, XmlNode *node, const char *name, const char *text, void *client,
                           XmlDocument *document);
    // No name: a file for the desktop (an installer, say), launched instead of the program. Its name is the
    // last path component of the address, or of the text after its first "="; 0 when that name is unusable.
    static int PlaceOnDesktop(const char *text, UpdateEntry &entry);
    // Two entries for one file (letter case does not tell files apart) would back the first one's original
    // up twice, and the second backup would delete it.
    int NamesAFileTwice(const UpdateEntry &entry) const;
    // The three passes, each over every entry before the next begins; 0 when one entry failed.
    int DownloadPass();
    int BackupPass();
    int ReplacePass();
    // Notes in the journal every file and folder an archive's extraction will change.
    static int KeepArchiveFile(const char *path, void *client);
    // What the check message asks (its wParam): the install question, the restart question, or the notice
    // that an install the user said Yes to failed (OK only).
    enum : WPARAM { kAskInstall = 0, kAskRestart = 1, kNoticeFailed = 2 };
    // Asks the owner window; 1 for Yes. answered is 0 when nobody answered (window gone, no hook, quiet).
    int Ask(WPARAM question, int &answered);
    // Launches the new program (or the desktop download); 1 when something was started.
    int Restart(XmlDocument &document, XmlNode *base);
    void Path(const char *name, const char *suffix, TextString &out) const;

    HWND owner_ = nullptr;
    TextString updateUrl_;
    uint32_t checkMessage_ = 0;
    SubclassHook<kHookUpdateOwner> hook_;
    TextString application_;
    TextString infoText_;
    TextString restartText_;
    TextString helpUrl_;
    TextString newVersion_; // the answer's version text, and its two numbers
    uint32_t newMajor_ = 0;
    uint32_t newMinor_ = 0;
    TextString executePath_;
    TextString itemName_;
    TextString itemType_;
    HttpClient http_;
    int passResult_ = 0;
    int boxShowing_ = 0;
    int quiet_ = 0;
    // Set on the window thread by OnCheckMessage, read by the check thread after SendMessageA returned.
    int answered_ = 0;
    TextString valueName_;
    uint32_t flags_ = 0;
    SettingsStore store_;
    WorkerThread thread_;
    // The program's folder with its trailing backslash, for the passes.
    TextString directory_;
    TextString programFolder_;
    // The answer's files, and what this install changed, for the rollback.
    std::vector<std::unique_ptr<UpdateEntry>> entries_;
    InstallJournal journal_;
};
