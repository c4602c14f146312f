// Update client pieces in-process: the weekly gate on a real registry key, the version rule, the query and
// staged names, the name rules, relative addresses, signatures made by the publishing tool, file digests,
// texts outside ASCII through every parser path, and archive extraction with real ZIP files (safe and
// hostile).
#include "tests/common/ArchiveMaker.h"
#include "tests/common/LoopbackServer.h"
#include "tests/common/PublishTool.h"
#include "tests/common/TempFolder.h"
#include "tests/common/TestRegistry.h"
#include "update/FileDigest.h"
#include "update/SignedAnswer.h"
#include "update/UpdateClient.h"
#include "update/XmlDocument.h"
#include "update/ZipArchive.h"

#include <gtest/gtest.h>
#include <sodium.h>
#include <atomic>
#include <ctime>
#include <fstream>
#include <iterator>
#include <set>
#include <thread>
#include <string>
#include <utility>
#include <vector>

namespace {

// ---- the weekly gate ----

struct GateCase {
    const char *name;
    int hasValue;
    int64_t offset; // stored value = now + offset (ignored without a value)
    uint32_t fixed; // used instead when not 0
    int checks;     // StartCheck armed a check
    int storesNow;  // the value now holds the time of the call
};

class UpdateGate : public ::testing::TestWithParam<GateCase> {};

TEST_P(UpdateGate, StoredTimeDecides) {
    const GateCase &c = GetParam();
    ScopedTestKey key("UpdateGate");
    ASSERT_TRUE(key.Valid());
    HWND owner = CreateWindowA("STATIC", "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    ASSERT_TRUE(owner);
    // The clock may tick between the stored value and the call: try again then.
    for (int attempt = 0; attempt < 5; ++attempt) {
        const uint32_t now = static_cast<uint32_t>(time(nullptr));
        const uint32_t stored = c.fixed ? c.fixed : static_cast<uint32_t>(now + c.offset);
        if (c.hasValue) {
            ASSERT_TRUE(key.SetDword(nullptr, "LastCheck", stored));
        }
        UpdateClient client;
        const int armed = client.StartCheck("http://127.0.0.1:1/", owner, HKEY_CURRENT_USER, key.Path(),
                                            "LastCheck", UpdateClient::kNoThread, nullptr, "1");
        if (static_cast<uint32_t>(time(nullptr)) != now)
            continue;
        EXPECT_EQ(c.checks, armed) << c.name;
        std::string data;
        ASSERT_TRUE(key.GetRaw(nullptr, "LastCheck", nullptr, &data)) << c.name;
        uint32_t after = 0;
        memcpy(&after, data.data(), sizeof after);
        EXPECT_EQ(c.storesNow ? now : (c.fixed == 0xFFFFFFFFu ? 0u : stored), after) << c.name;
        break;
    }
    DestroyWindow(owner);
}

INSTANTIATE_TEST_SUITE_P(Cases, UpdateGate,
                         ::testing::Values(GateCase{"NoValue", 0, 0, 0, 1, 1},
                                           GateCase{"SkipOnce", 1, 0, 0xFFFFFFFFu, 0, 0},
                                           GateCase{"ExactlySevenDays", 1, -604800, 0, 0, 0},
                                           GateCase{"OneSecondMore", 1, -604801, 0, 1, 1},
                                           GateCase{"Yesterday", 1, -86400, 0, 0, 0},
                                           GateCase{"InTheFuture", 1, 3600, 0, 0, 0}),
                         [](const ::testing::TestParamInfo<GateCase> &info) { return info.param.name; });

// ---- the declined version ----

// The update client's boxes on a thread, answered from another thread (button, or Yes and else OK when 0),
// their texts kept.
struct BoxAnswers {
    DWORD thread;
    int button;
    std::set<HWND> seen;
    std::vector<std::string> texts;
};

BOOL CALLBACK AnswerBox(HWND window, LPARAM context) {
    auto *answers = reinterpret_cast<BoxAnswers *>(context);
    char name[16] = {};
    GetClassNameA(window, name, sizeof name);
    if (GetWindowThreadProcessId(window, nullptr) != answers->thread || strcmp(name, "#32770") != 0 ||
        !IsWindowVisible(window) || !answers->seen.insert(window).second)
        return TRUE;
    char text[512] = {};
    GetDlgItemTextA(window, 0xFFFF, text, sizeof text); // a message box's text
    answers->texts.push_back(text);
    HWND button = answers->button ? GetDlgItem(window, answers->button) : GetDlgItem(window, IDYES);
    PostMessageA(button ? button : GetDlgItem(window, IDOK), BM_CLICK, 0, 0);
    return TRUE;
}

TEST(UpdateDeclined, StoredOnlyWhenTheQuestionWasAnswered) {
    // The window carries another client's hook already: that one shows its own box, and this check's
    // question gets no answer of its own, which must not count as a No.
    LoopbackServer server;
    ASSERT_TRUE(server.Start(120)) << server.Problem();
    TempFolder work("Declined");
    std::string answer;
    // The test key this program carries as its update key (see TestUpdateKey.rc), by Wine's drive Z:.
    const std::string secret =
        std::string("Z:") + TARVEX_SOURCE_DIR + "/tests/common/resources/TestUpdateKey.key";
    ASSERT_EQ(
        1, PublishTool::MakeAnswer(work, secret, {{"a.txt", "a"}}, "--version 9.01 --info en=New", answer));
    ASSERT_TRUE(server.SetRoute("/data/update.php", 200, answer));
    ScopedTestKey key("UpdateDeclined");
    ASSERT_TRUE(key.Valid());
    HWND owner = CreateWindowA("STATIC", "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    ASSERT_TRUE(owner);
    UpdateClient first, second;
    ASSERT_EQ(1, first.StartCheck("http://127.0.0.1:1/", owner, HKEY_CURRENT_USER, key.Path(), nullptr,
                                  UpdateClient::kNoThread, nullptr, "1"));
    // Whatever box comes up on this thread is answered No from another thread, within a time limit.
    std::atomic<int> done(0);
    BoxAnswers answers{GetCurrentThreadId(), IDNO, {}, {}};
    std::thread clicker([&] {
        for (int i = 0; i < 600 && !done; ++i) {
            EnumWindows(&AnswerBox, reinterpret_cast<LPARAM>(&answers));
            Sleep(50);
        }
    });
    ASSERT_EQ(1, second.StartCheck(server.Url("/data/update.php").c_str(), owner, HKEY_CURRENT_USER,
                                   key.Path(), "LastCheck", 0, nullptr, "1"));
    second.StopCheck(); // waits for the check, dispatching the question meanwhile
    done = 1;
    clicker.join();
    EXPECT_FALSE(answers.texts.empty()) << "the question never came";
    std::string value;
    EXPECT_FALSE(key.GetRaw(nullptr, "LastCheckVersion", nullptr, &value)) << "stored: " << value;
    first.StopCheck();
    DestroyWindow(owner);
}

// ---- rules without I/O ----

TEST(UpdateRules, VersionDecision) {
    const struct {
        uint32_t major, minor, ownMajor, ownMinor;
        int newer;
    } cases[] = {{1, 1, 1, 0, 1}, {1, 0, 1, 0, 0}, {1, 0, 1, 1, 0},   {2, 6, 1, 5, 1},
                 {2, 0, 1, 9, 1}, {0, 9, 1, 0, 0}, {1, 45, 1, 44, 1}, {3, 0, 3, 0, 0}};
    for (const auto &c : cases)
        EXPECT_EQ(c.newer, UpdateClient::IsNewer(c.major, c.minor, c.ownMajor, c.ownMinor))
            << c.major << "." << c.minor << " against " << c.ownMajor << "." << c.ownMinor;
}

TEST(UpdateRules, QueryAndStagedNames) {
    TextString out;
    UpdateClient::PlainQuery("http://h/data/update.php?p=tarvex", "1.00", "ABCD-0123-4567-89EF", nullptr,
                             out);
    EXPECT_STREQ("http://h/data/update.php?p=tarvex&v=1.00&id=ABCD-0123-4567-89EF", out.Text());
    UpdateClient::PlainQuery("http://h/u", "1.00", "X", nullptr, out);
    EXPECT_STREQ("http://h/u?v=1.00&id=X", out.Text());
    UpdateClient::PlainQuery("http://h/u?p=tarvex", "1.00", "X", "x64", out);
    EXPECT_STREQ("http://h/u?p=tarvex&v=1.00&id=X&arch=x64", out.Text());
    const char *const names[][3] = {{"Tarvex.exe", "Tarvex_new.exe", "Tarvex_old.exe"},
                                    {"readme.html", "readme.html_new.html", "readme.html_old.html"},
                                    {"a.txt", "a_new.txt", "a_old.txt"},
                                    {"noext", "noext_new", "noext_old"},
                                    {"pack.tar.gz", "pack.tar_new.gz", "pack.tar_old.gz"}};
    for (const auto &n : names) {
        UpdateClient::StagedName(n[0], "_new", out);
        EXPECT_STREQ(n[1], out.Text());
        UpdateClient::StagedName(n[0], "_old", out);
        EXPECT_STREQ(n[2], out.Text());
    }
}

TEST(UpdateRules, OnlyPlainNamesStayInTheFolder) {
    const struct {
        const char *name;
        int plain, safePath;
    } cases[] = {{"Tarvex.exe", 1, 1}, {"sub\\a.txt", 0, 1}, {"sub/a.txt", 0, 1},
                 {"sub/", 0, 1},       {"..", 0, 0},         {"../a.txt", 0, 0},
                 {"a/../../b", 0, 0},  {"\\a.txt", 0, 0},    {"/etc/passwd", 0, 0},
                 {"C:a.txt", 0, 0},    {"C:\\a.txt", 0, 0},  {"a.txt:stream", 0, 0},
                 {"", 0, 0},           {".", 0, 0},          {"CON", 0, 0},
                 {"nul.txt", 0, 0},    {"com1", 0, 0},       {"LPT9.log", 0, 0},
                 {"COM10", 1, 1},      {"a.", 0, 0},         {"a ", 0, 0},
                 {"a\tb", 0, 0},       {"a//b", 0, 0},       {"con/a.txt", 0, 0},
                 {"x?y", 0, 0},        {"readme.html", 1, 1}};
    for (const auto &c : cases) {
        EXPECT_EQ(c.plain, IsPlainFileName(c.name)) << "'" << c.name << "'";
        EXPECT_EQ(c.safePath, IsSafeArchivePath(c.name)) << "'" << c.name << "'";
    }
}

TEST(UpdateRules, RelativeAddressesResolveAgainstTheAnswersFolder) {
    const char *const answer = "http://mirror.test:8080/tarvex/data/update.php?p=tarvex&v=1.00";
    const struct {
        const char *base, *address, *resolved; // resolved null: refused
    } cases[] = {
        {answer, "Tarvex.exe", "http://mirror.test:8080/tarvex/data/Tarvex.exe"},
        {answer, "files/pack.zip", "http://mirror.test:8080/tarvex/data/files/pack.zip"},
        {answer, "/other/a.txt", "http://mirror.test:8080/other/a.txt"},
        {answer, "HTTPS://maker.test/a.txt", "HTTPS://maker.test/a.txt"},
        {"http://h.test?p=tarvex/x", "a.txt", "http://h.test/a.txt"},
        {"http://h.test/u?p=a/b", "a.txt", "http://h.test/a.txt"},
        {"https://h.test/dir/", "a.txt", "https://h.test/dir/a.txt"},
        {answer, "file:///c:/windows/a.exe", nullptr},
        {answer, "ftp://h.test/a.txt", nullptr},
        {answer, "C:\\a.exe", nullptr},
        {answer, "\\\\server\\share\\a.exe", nullptr},
        {answer, "//elsewhere.test/a.txt", nullptr},
        {answer, "", nullptr},
        {"file:///c:/update.xml", "a.txt", nullptr},
    };
    for (const auto &c : cases) {
        TextString out;
        EXPECT_EQ(c.resolved ? 1 : 0, UpdateClient::ResolveUrl(c.base, c.address, out)) << c.address;
        EXPECT_STREQ(c.resolved ? c.resolved : "", out.Text()) << c.address;
    }
}

// ---- signatures and digests ----

TEST(UpdateSignature, OnlyTheMakersUntouchedAnswerVerifies) {
    TempFolder keys("SignatureKeys");
    ASSERT_EQ(1, PublishTool::MakeKeys(keys, "maker"));
    ASSERT_EQ(1, PublishTool::MakeKeys(keys, "other"));
    TempFolder work("SignatureAnswer"), otherWork("SignatureOther");
    std::string answer, other;
    ASSERT_EQ(1, PublishTool::MakeAnswer(work, keys.File("maker.key"), {{"a.txt", "a"}},
                                         "--version 1.01 --info en=New", answer));
    ASSERT_EQ(1, PublishTool::MakeAnswer(otherWork, keys.File("other.key"), {{"a.txt", "a"}},
                                         "--version 1.01 --info en=New", other));
    const std::string key = keys.ReadFile("maker.pub");
    SignedAnswer verifier;
    ASSERT_EQ(1, verifier.SetKey(reinterpret_cast<const unsigned char *>(key.data()), key.size()));
    const size_t line = answer.rfind("<!-- ed25519:");
    ASSERT_NE(std::string::npos, line);
    std::string flipped = answer, badBase64 = answer, nul = answer;
    flipped[answer.find("New")] ^= 1;
    badBase64[line + 14] = '*';
    nul[answer.find("New")] = 0;
    const struct {
        const char *name;
        std::string text;
        int verifies;
    } cases[] = {
        {"Untouched", answer, 1},
        {"CrLfAfterTheLine", answer.substr(0, answer.size() - 1) + "\r\n", 1},
        {"NoSignature", answer.substr(0, line), 0},
        {"AnotherKey", other, 0},
        {"FlippedByte", flipped, 0},
        {"ZeroByteInTheDocument", nul, 0},
        {"BrokenBase64", badBase64, 0},
        {"TextAfterTheLine", answer + "<x/>", 0},
        {"LineCutShort", answer.substr(0, answer.size() - 6), 0},
        {"SignatureLineTwice", answer.substr(0, line) + answer.substr(line) + answer.substr(line), 0},
        {"Empty", "", 0},
    };
    for (const auto &c : cases) {
        TextString document;
        EXPECT_EQ(c.verifies, verifier.Verify(c.text.data(), c.text.size(), document)) << c.name;
        EXPECT_EQ(c.verifies ? answer.substr(0, line) : std::string(), document.Text()) << c.name;
    }
    // During a change of keys the program carries two: an answer signed with either verifies.
    const std::string both = keys.ReadFile("other.pub") + key;
    SignedAnswer rotating;
    ASSERT_EQ(1, rotating.SetKey(reinterpret_cast<const unsigned char *>(both.data()), both.size()));
    for (const std::string *signedBy : {&answer, &other}) {
        TextString document;
        EXPECT_EQ(1, rotating.Verify(signedBy->data(), signedBy->size(), document)) << *signedBy;
    }
    // Without a key nothing verifies; a key of the wrong size is no key, and neither are three.
    SignedAnswer keyless;
    EXPECT_EQ(0, keyless.SetKey(reinterpret_cast<const unsigned char *>((both + key).data()), 96));
    EXPECT_EQ(0, keyless.SetKey(reinterpret_cast<const unsigned char *>(key.data()), 31));
    TextString document;
    EXPECT_EQ(0, keyless.Verify(answer.data(), answer.size(), document));
}

TEST(UpdateSignature, DigestComparesSizeAndHash) {
    TempFolder folder("Digest");
    ASSERT_TRUE(folder.WriteFile("abc.txt", "abc"));
    ASSERT_TRUE(folder.WriteFile("big.bin", std::string(200000, 'a')));
    const char abc[] = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
    const struct {
        const char *file;
        uint64_t size;
        const char *hash;
        int matches;
    } cases[] = {
        {"abc.txt", 3, abc, 1},
        {"abc.txt", 3, "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD", 1},
        {"abc.txt", 4, abc, 0},
        {"abc.txt", 3, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ae", 0},
        {"abc.txt", 3, "ba7816bf", 0},
        {"missing.txt", 0, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855", 0},
        // More than one block of the reader.
        {"big.bin", 200000, "2287d207f24a941ff3b56c04c8a25ad56b63e3023207b3bb5b4ac0c9869d74be", 1},
    };
    for (const auto &c : cases) {
        FileDigest digest;
        EXPECT_EQ(c.matches, digest.Matches(folder.File(c.file).c_str(), c.size, c.hash))
            << c.file << " " << c.hash;
    }
}

// ---- the rules an answer must keep ----

// The key pair this program trusts (see TestUpdateKey.rc), by Wine's drive Z:.
const std::string kTestKey =
    std::string("Z:") + TARVEX_SOURCE_DIR + "/tests/common/resources/TestUpdateKey.key";

// document followed by its signature line, signed in-process with the test key, so that a row can sign what
// the publishing tool never writes.
std::string SignedWithTestKey(const std::string &document) {
    std::ifstream in(kTestKey, std::ios::binary);
    const std::string seed((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    unsigned char publicKey[crypto_sign_PUBLICKEYBYTES], secret[crypto_sign_SECRETKEYBYTES],
        signature[crypto_sign_BYTES];
    char text[sodium_base64_ENCODED_LEN(crypto_sign_BYTES, sodium_base64_VARIANT_ORIGINAL)];
    if (seed.size() != 32 || sodium_init() < 0 ||
        crypto_sign_seed_keypair(publicKey, secret, reinterpret_cast<const unsigned char *>(seed.data())) !=
            0)
        return "";
    crypto_sign_detached(signature, nullptr, reinterpret_cast<const unsigned char *>(document.data()),
                         document.size(), secret);
    sodium_bin2base64(text, sizeof text, signature, sizeof signature, sodium_base64_VARIANT_ORIGINAL);
    return document + "<!-- ed25519:" + text + " -->\n";
}

std::string AnswerDocument(const std::string &expires, const std::string &tail = "") {
    return "<?xml version=\"1.0\"?>\n<update><info><en>New</en></info><version>9.01</version><expires>" +
           expires + "</expires><files><url name=\"a.txt\" size=\"1\" sha256=\"" + std::string(64, 'a') +
           "\">a.txt</url></files></update>\n" + tail;
}

// A signed answer of exactly size bytes: the document padded with a comment.
std::string SignedOfSize(const std::string &expires, size_t size) {
    const size_t lineLength = SignedWithTestKey("").size();
    const std::string bare = AnswerDocument(expires);
    return SignedWithTestKey(bare + "<!--" + std::string(size - lineLength - bare.size() - 8, 'x') + "-->\n");
}

TEST(UpdateAnswerRules, FirstRuleBrokenIsNamed) {
    const uint64_t now = 1800000000;
    const uint64_t limit = UpdateClient::kMaxFreshSeconds;
    const auto at = [&](uint64_t seconds) { return std::to_string(seconds); };
    const struct {
        const char *name;
        std::string answer;
        UpdateClient::AnswerRule rule;
    } cases[] = {
        {"OneSecondAhead", SignedWithTestKey(AnswerDocument(at(now + 1))), UpdateClient::kAnswerGood},
        {"ExpiresNow", SignedWithTestKey(AnswerDocument(at(now))), UpdateClient::kAnswerStale},
        {"AtTheLimit", SignedWithTestKey(AnswerDocument(at(now + limit))), UpdateClient::kAnswerGood},
        {"PastTheLimit", SignedWithTestKey(AnswerDocument(at(now + limit + 1))), UpdateClient::kAnswerStale},
        // Both read as now + 1 in unsigned 64-bit arithmetic.
        {"NegativeWrapping", SignedWithTestKey(AnswerDocument("-18446744071909551615")),
         UpdateClient::kAnswerStale},
        {"OverflowWrapping", SignedWithTestKey(AnswerDocument("18446744075509551617")),
         UpdateClient::kAnswerStale},
        // The text after a zero byte is signed but never reaches the parser.
        {"ZeroByteSigned", SignedWithTestKey(AnswerDocument(at(now + 1), std::string("\0<x", 3))),
         UpdateClient::kAnswerUnsigned},
        {"AtTheSizeLimit", SignedOfSize(at(now + 1), UpdateClient::kMaxAnswerBytes),
         UpdateClient::kAnswerGood},
        {"OneBytePastTheSizeLimit", SignedOfSize(at(now + 1), UpdateClient::kMaxAnswerBytes + 1),
         UpdateClient::kAnswerTooLong},
    };
    for (const auto &c : cases) {
        UpdateClient client;
        ASSERT_EQ(1, client.StartCheck("http://127.0.0.1:1/data/update.php", nullptr, HKEY_CURRENT_USER,
                                       nullptr, nullptr, UpdateClient::kNoThread, nullptr, "1"));
        XmlDocument document;
        XmlNode *base = nullptr;
        EXPECT_EQ(c.rule, client.JudgeAnswer(c.answer.data(), c.answer.size(), now, document, &base))
            << c.name;
    }
}

// The corpus both judges read (see AnswerCorpus.txt): each answer must be named by the rule given there.
TEST(UpdateAnswerRules, CorpusAgreesWithThePublishingTool) {
    const char *const rules[] = {"good",    "too-long",   "unsigned",  "not-xml", "stale",
                                 "no-info", "no-version", "bad-entry", "no-files"};
    std::ifstream in(std::string("Z:") + TARVEX_SOURCE_DIR + "/tests/update/AnswerCorpus.txt",
                     std::ios::binary);
    std::vector<std::pair<std::string, std::string>> cases; // "rule flags", document
    for (std::string line; std::getline(in, line);) {
        if (line.compare(0, 3, "== ") == 0)
            cases.push_back({line.substr(3), ""});
        else if (!cases.empty() && line[0] != '#')
            cases.back().second += line + "\n";
    }
    ASSERT_GE(cases.size(), 17u);
    const uint64_t now = 1800000000;
    const std::string own = UpdateClient::ProgramKind(), other = own == "x64" ? "x86" : "x64";
    const std::pair<const char *, std::string> fills[] = {{"{ahead}", std::to_string(now + 3600)},
                                                          {"{past}", std::to_string(now - 1)},
                                                          {"{hash}", std::string(64, 'a')},
                                                          {"{own}", own},
                                                          {"{other}", other}};
    for (auto &c : cases) {
        for (const auto &fill : fills) {
            for (size_t at; (at = c.second.find(fill.first)) != std::string::npos;)
                c.second.replace(at, strlen(fill.first), fill.second);
        }
        const std::string rule = c.first.substr(0, c.first.find(' '));
        std::string answer =
            c.first.find("nosign") != std::string::npos ? c.second : SignedWithTestKey(c.second);
        if (c.first.find("blank") != std::string::npos)
            answer += "  ";
        UpdateClient client;
        ASSERT_EQ(1, client.StartCheck("http://127.0.0.1:1/data/update.php", nullptr, HKEY_CURRENT_USER,
                                       nullptr, nullptr, UpdateClient::kNoThread, nullptr, "1"));
        XmlDocument document;
        XmlNode *base = nullptr;
        EXPECT_EQ(rule, rules[client.JudgeAnswer(answer.data(), answer.size(), now, document, &base)])
            << c.second;
    }
}

// ---- installs ----

// One install in the folder of this program, which is the update client's folder: the user's files are
// written there under names of this test's own (and removed at the end, with their staged and kept
// names), the answer and its files are served on loopback, and the check runs on a thread of its own
// while this thread, the owner window's, serves its questions.
class UpdateInstall : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server_.Start(120)) << server_.Problem();
        char path[MAX_PATH] = {};
        GetModuleFileNameA(nullptr, path, MAX_PATH);
        *(strrchr(path, '\\') + 1) = 0;
        folder_ = path;
        owner_ = CreateWindowA("STATIC", "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
        ASSERT_TRUE(owner_);
    }
    void TearDown() override {
        for (const std::string &name : names_) {
            for (const char *suffix : {"", "_new", "_old"}) {
                TextString staged;
                UpdateClient::StagedName(name.c_str(), suffix, staged);
                SetFileAttributesA((folder_ + staged.Text()).c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA((folder_ + staged.Text()).c_str());
            }
        }
        for (auto it = folders_.rbegin(); it != folders_.rend(); ++it)
            RemoveDirectoryA((folder_ + *it).c_str());
        if (owner_)
            DestroyWindow(owner_);
    }
    // Notes names (files, or folders ending in '\\') to remove at the end, and writes the user's files.
    void Track(const std::vector<std::string> &names) {
        for (const std::string &name : names) {
            if (name.back() == '\\')
                folders_.push_back(name);
            else
                names_.push_back(name);
        }
    }
    void UserFiles(const PublishTool::Files &files) {
        for (const auto &file : files) {
            Track({file.first});
            std::ofstream(folder_ + file.first, std::ios::binary) << file.second;
        }
    }
    // "\x01" when the file is not there, "(folder)" for a folder.
    std::string Read(const std::string &name) const {
        const DWORD attributes = GetFileAttributesA((folder_ + name).c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES)
            return "\x01";
        if (attributes & FILE_ATTRIBUTE_DIRECTORY)
            return "(folder)";
        std::ifstream in(folder_ + name, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    // Publishes the release with the test key and serves the answer and every published file under /data/.
    void Publish(const PublishTool::Files &release, const std::string &arguments) {
        TempFolder work("Publish");
        std::string answer;
        ASSERT_EQ(1, PublishTool::MakeAnswer(work, kTestKey, release, "--info en=New " + arguments, answer));
        ASSERT_TRUE(server_.SetRoute("/data/update.php", 200, answer));
        for (const auto &file : release)
            ASSERT_TRUE(server_.SetRoute(("/data/" + Encoded(file.first)).c_str(), 200, file.second));
    }
    // A name as the tool puts it in an address: its UTF-8 bytes, percent-encoded but for letters, digits
    // and "-._~".
    static std::string Encoded(const std::string &name) {
        wchar_t wide[MAX_PATH] = {};
        char utf8[MAX_PATH * 3] = {}, hex[4];
        MultiByteToWideChar(CP_ACP, 0, name.c_str(), -1, wide, MAX_PATH);
        WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8, sizeof utf8, nullptr, nullptr);
        std::string out;
        for (const unsigned char *p = reinterpret_cast<unsigned char *>(utf8); *p; ++p) {
            snprintf(hex, sizeof hex, "%%%02X", *p);
            out += isalnum(*p) || strchr("-._~", *p) ? std::string(1, static_cast<char>(*p)) : hex;
        }
        return out;
    }
    // Runs one check to its end; 0 when it did not end within the time limit (the server is then stopped,
    // which ends any download).
    int Run(DWORD limitMs = 60000, int quiet = 0) {
        auto *client = new UpdateClient;
        client->SetQuiet(quiet);
        EXPECT_EQ(1, client->StartCheck(server_.Url("/data/update.php").c_str(), owner_, HKEY_CURRENT_USER,
                                        nullptr, nullptr, UpdateClient::kNoThread, nullptr, "1"));
        std::atomic<int> done(0);
        std::thread check([&] {
            client->CheckAndInstall();
            done = 1;
        });
        BoxAnswers answers{GetCurrentThreadId(), 0, {}, {}};
        std::thread answering([&] {
            while (!done) {
                EnumWindows(&AnswerBox, reinterpret_cast<LPARAM>(&answers));
                Sleep(20);
            }
        });
        const auto serve = [&](DWORD ms) {
            const DWORD begin = GetTickCount();
            while (!done && GetTickCount() - begin < ms) {
                MSG message;
                while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
                    DispatchMessageA(&message);
                MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
            }
        };
        serve(limitMs);
        const int inTime = done;
        if (!inTime) {
            server_.Stop();
            serve(30000);
        }
        answering.join();
        check.join();
        boxes_ = answers.texts;
        client->StopCheck();
        delete client;
        return inTime;
    }

    LoopbackServer server_;
    std::string folder_;
    HWND owner_ = nullptr;
    std::vector<std::string> names_, folders_;
    std::vector<std::string> boxes_;
};

const char kFailed[] = "The update could not be installed; Tarvex is unchanged.";

struct InstallCase {
    const char *name;
    PublishTool::Files user, release;
    std::string arguments;
    const char *servedEndlessly; // a file whose body runs far past its size and does not end, or null
    PublishTool::Files after;    // content "\x01": not there
    PublishTool::Files archive;  // the entries of the release's archive, when it has one
    std::vector<std::string> boxes;
    int quiet = 0; // the client told to ask nothing
};

class UpdateInstallCases : public UpdateInstall, public ::testing::WithParamInterface<InstallCase> {};

TEST_P(UpdateInstallCases, FolderEndsAsExpected) {
    const InstallCase &c = GetParam();
    UserFiles(c.user);
    for (const auto &file : c.after)
        Track({file.first});
    PublishTool::Files release = c.release;
    for (auto &file : release) {
        if (file.first.find(".zip") != std::string::npos) {
            TempFolder scratch("Archive");
            ASSERT_TRUE(MakeArchive(scratch.File("pack.zip"), c.archive));
            file.second = scratch.ReadFile("pack.zip");
        }
    }
    Publish(release, c.arguments);
    if (c.servedEndlessly) {
        const std::string path = std::string("/data/") + c.servedEndlessly;
        ASSERT_TRUE(server_.SetRoute(path.c_str(), 200, "x", "stall:65536"));
    }
    ASSERT_EQ(1, Run(30000, c.quiet)) << "the check did not end";
    for (const auto &file : c.after)
        EXPECT_EQ(file.second, Read(file.first)) << file.first;
    EXPECT_EQ(c.boxes, boxes_);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UpdateInstallCases,
    ::testing::Values(
        InstallCase{"EmptyFile",
                    {{"UI-empty.txt", "old"}, {"UI-full.txt", "old full"}},
                    {{"UI-empty.txt", ""}, {"UI-full.txt", "new full"}},
                    "--version 9.01",
                    nullptr,
                    {{"UI-empty.txt", ""}, {"UI-empty_old.txt", "old"}, {"UI-full.txt", "new full"}},
                    {},
                    {"New"}},
        // The archive puts UI-b.txt in place before the entry of that name, whose move then fails.
        InstallCase{"FoldersTheArchiveMadeAreRemoved",
                    {{"UI-named.txt", "old named"}, {"UI-b.txt", "old b"}},
                    {{"UI-pack.zip", ""}, {"UI-b.txt", "new b"}},
                    "--version 9.01 --entry zip:UI-pack.zip:UI-named.txt --entry file:UI-b.txt",
                    nullptr,
                    {{"UI-named.txt", "old named"},
                     {"UI-b.txt", "old b"},
                     {"UI-pack.zip", "\x01"},
                     {"UI-dir\\", "\x01"},
                     {"UI-dir\\deeper\\", "\x01"},
                     {"UI-dir\\deeper\\x.txt", "\x01"}},
                    {{"UI-named.txt", "new named"}, {"UI-dir/deeper/x.txt", "x"}, {"UI-b.txt", "zipped b"}},
                    {"New", kFailed}},
        InstallCase{"DownloadCutPastItsSize",
                    {{"UI-long.txt", "old long"}},
                    {{"UI-long.txt", "new long"}},
                    "--version 9.01",
                    "UI-long.txt",
                    {{"UI-long.txt", "old long"}, {"UI-long_new.txt", "\x01"}},
                    {},
                    {"New", kFailed}},
        InstallCase{"NameWithBlanksAndLettersOutsideAscii",
                    {{"UI-a b \xe4.txt", "old"}},
                    {{"UI-a b \xe4.txt", "new"}},
                    "--version 9.01",
                    nullptr,
                    {{"UI-a b \xe4.txt", "new"}},
                    {},
                    {"New"}},
        InstallCase{"QuietAsksNothing",
                    {{"UI-quiet.txt", "old quiet"}},
                    {{"UI-quiet.txt", "new quiet"}},
                    "--version 9.01",
                    nullptr,
                    {{"UI-quiet.txt", "old quiet"}},
                    {},
                    {},
                    1}),
    [](const ::testing::TestParamInfo<InstallCase> &info) { return info.param.name; });

// ---- texts outside ASCII ----

TEST(UpdateTexts, DecodedOnceThroughEveryParserPath) {
    const wchar_t *const texts[] = {L"Gr\u00fc\u00dfe aus K\u00f6ln", L"\u65b0\u3057\u3044\u7248"};
    const char *const declarations[] = {"<?xml version=\"1.0\" encoding=\"UTF-8\"?>",
                                        "<?xml version=\"1.0\"?>", ""};
    for (int legacy = 0; legacy < 2; ++legacy) {
        for (const char *declaration : declarations) {
            for (const wchar_t *text : texts) {
                char utf8[256] = {}, expected[256] = {};
                WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, nullptr, nullptr);
                WideCharToMultiByte(CP_ACP, 0, text, -1, expected, sizeof expected, nullptr, nullptr);
                const std::string answer =
                    std::string(declaration) + "<update><info><en>" + utf8 + "</en></info></update>";
                XmlDocument document;
                ASSERT_EQ(1, document.Init(kXmlNoValidation | kXmlNoExternals |
                                           (legacy ? uint32_t(kXmlLegacyOnly) : 0u)));
                ASSERT_EQ(1, document.LoadUtf8(answer.c_str())) << legacy << declaration;
                TextString info;
                ASSERT_EQ(1, UpdateClient::ReadLocalizedText(document, "update\\info", info, nullptr));
                EXPECT_STREQ(expected, info.Text()) << "legacy " << legacy << ", " << declaration;
            }
        }
    }
}

// ---- archives ----

TEST(ExtractArchive, RecreatesFoldersAndOverwrites) {
    TempFolder folder("Extract");
    ASSERT_TRUE(folder.WriteFile("data.txt", "old"));
    ASSERT_TRUE(MakeArchive(
        folder.File("pack.zip"),
        {{"data.txt", "new"}, {"sub/", ""}, {"sub/deeper/inner.txt", "inner"}, {"empty.bin", ""}}));
    SetFileAttributesA(folder.File("data.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(1, ExtractArchive(folder.File("pack.zip").c_str(), folder.Path()));
    EXPECT_EQ("new", folder.ReadFile("data.txt"));
    EXPECT_EQ("inner", folder.ReadFile("sub\\deeper\\inner.txt"));
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(folder.File("empty.bin").c_str()));
}

TEST(ExtractArchive, HostileOrBrokenArchivesWriteNothing) {
    const std::vector<std::pair<std::string, std::string>> hostile[] = {
        {{"good.txt", "x"}, {"../evil.txt", "x"}}, {{"good.txt", "x"}, {"sub/../../evil.txt", "x"}},
        {{"/evil.txt", "x"}, {"good.txt", "x"}},   {{"good.txt", "x"}, {"C:evil.txt", "x"}},
        {{"good.txt", "x"}, {"nul", "x"}},
    };
    for (const auto &entries : hostile) {
        TempFolder outside("ExtractOutside");
        const std::string target = outside.File("program\\");
        ASSERT_TRUE(CreateDirectoryA(target.c_str(), nullptr));
        ASSERT_TRUE(MakeArchive(outside.File("pack.zip"), entries));
        EXPECT_EQ(0, ExtractArchive(outside.File("pack.zip").c_str(), target.c_str())) << entries[1].first;
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((target + "good.txt").c_str()));
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(outside.File("evil.txt").c_str()));
    }
    TempFolder folder("ExtractBroken");
    ASSERT_TRUE(folder.WriteFile("broken.zip", std::string("PK\x03\x04 this is no archive", 24)));
    EXPECT_EQ(0, ExtractArchive(folder.File("broken.zip").c_str(), folder.Path()));
    EXPECT_EQ(0, ExtractArchive(folder.File("missing.zip").c_str(), folder.Path()));
}

} // namespace
