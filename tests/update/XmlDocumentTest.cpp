// XmlDocument on the system's real XML classes, through both back ends: path reads, walks, creation, the load
// attempts for 8-bit texts, the remaining back-end operations, MemoryStream, and a fuzz run.
#include "base/TextString.h"
#include "tests/common/TempFolder.h"
#include "update/MemoryStream.h"
#include "update/XmlDocument.h"
#include <gtest/gtest.h>
#include <chrono>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {
const uint32_t kUpdateOptions = kXmlNoValidation | kXmlNoExternals;

uint32_t OptionsFor(int legacy) {
    return kUpdateOptions | (legacy ? uint32_t(kXmlLegacyOnly) : 0u);
}

enum Kind { kDom, kLegacy };

// The whole tree as one text, walked with ForEachChild from each element: what a change must show in, and
// what a refused change must leave as it was.
int AddToSnapshot(int isAttribute, XmlNode *node, const char *name, const char *text, void *context,
                  XmlDocument *document) {
    std::string *all = static_cast<std::string *>(context);
    *all += (isAttribute ? "@" : "") + std::string(name) + "=" + text + "{";
    if (!isAttribute)
        document->ForEachChild("", AddToSnapshot, context, node);
    *all += "}";
    return 0;
}

std::string Snapshot(XmlDocument &doc) {
    std::string all;
    doc.ForEachChild("", AddToSnapshot, &all);
    return all;
}

// One document per test on the calling thread, through the back end the parameter names.
class XmlBackEndTest : public ::testing::TestWithParam<Kind> {
protected:
    void SetUp() override {
        ASSERT_EQ(1, doc_.Init(OptionsFor(Legacy())));
        ASSERT_EQ(Legacy(), doc_.UsesLegacy());
    }
    int Legacy() const { return GetParam() == kLegacy; }
    // The DOM does every change. The older object model may lack one on this system (Wine's creates elements
    // without names and cannot save); it must then say so and leave the document as it was.
    bool DoneOrRefused(int done, const std::string &before, const char *what) {
        if (!Legacy()) {
            EXPECT_EQ(1, done) << what;
        } else if (!done) {
            EXPECT_EQ(before, Snapshot(doc_)) << what;
        }
        if (Legacy())
            printf("older object model %s: %s\n", done ? "did" : "refused", what);
        return done == 1;
    }
    // The text a read leaves, or "<fail>" when it failed.
    std::string Read(const char *path, XmlNode *base = nullptr) {
        TextString out;
        return doc_.ReadValue(path, out, base) ? out.Text() : "<fail>";
    }

    XmlDocument doc_;
};

std::string KindName(const ::testing::TestParamInfo<Kind> &info) {
    return info.param == kDom ? "Dom" : "Legacy";
}

// Writes each visit as "@name=text;" (attributes) or "name=text;" and answers 1 at the name stopAt.
struct Recorder {
    std::string visits, stopAt;
};

int Record(int isAttribute, XmlNode *node, const char *name, const char *text, void *context, XmlDocument *) {
    Recorder *recorder = static_cast<Recorder *>(context);
    recorder->visits += (isAttribute ? "@" : "") + std::string(name) + "=" + text + ";";
    EXPECT_NE(nullptr, node);
    return !recorder->stopAt.empty() && _stricmp(recorder->stopAt.c_str(), name) == 0 ? 1 : 0;
}
} // namespace

// --- Choosing and closing ----------------------------------------------------------------------------------

TEST(XmlDocumentChoice, DomIsPreferredAndLegacyOnlyWhenAsked) {
    XmlDocument doc;
    ASSERT_EQ(1, doc.Init(kUpdateOptions));
    EXPECT_EQ(0, doc.UsesLegacy());
    ASSERT_EQ(1, doc.Init(kUpdateOptions | kXmlLegacyOnly));
    EXPECT_EQ(1, doc.UsesLegacy());
    // Init again replaces the document: nothing of an earlier load survives.
    ASSERT_EQ(1, doc.LoadText("<a>1</a>"));
    ASSERT_EQ(1, doc.Init(kUpdateOptions));
    TextString out;
    EXPECT_EQ(0, doc.ReadValue("a", out));
}

TEST(XmlDocumentChoice, DomClassIsTheNewestOfTheThree) {
    DomBackEnd dom(nullptr);
    ComInitializer com;
    com.Start();
    ASSERT_EQ(1, dom.Open(kUpdateOptions));
    // Wine and every current Windows have the 6.0 class, which comes first.
    EXPECT_STREQ("Msxml2.DOMDocument.6.0", dom.ClassName());
    dom.Close();
    EXPECT_STREQ("", dom.ClassName());
}

TEST(XmlDocumentChoice, ClosedOrUninitialisedDocumentAnswersNothing) {
    for (int initialised = 0; initialised < 2; ++initialised) {
        XmlDocument doc;
        if (initialised) {
            ASSERT_EQ(1, doc.Init(kUpdateOptions));
            ASSERT_EQ(1, doc.LoadText("<a><b>1</b></a>"));
            doc.Close();
        }
        TextString out;
        out.Assign("kept");
        Recorder recorder;
        EXPECT_EQ(0, doc.LoadText("<a/>"));
        EXPECT_EQ(0, doc.ReadValue("a\\b", out));
        EXPECT_EQ(0, doc.ForEachChild("", Record, &recorder));
        EXPECT_EQ(nullptr, doc.FindOrCreatePath("a\\b"));
        EXPECT_EQ(nullptr, doc.BackEnd());
        EXPECT_EQ("", recorder.visits);
    }
}

TEST(XmlDocumentChoice, ComStartIsUndoneByCloseOnly) {
    ComInitializer outer;
    ASSERT_EQ(1, outer.Start());
    // A second start on the same thread is counted by COM and balanced by Close.
    ComInitializer inner;
    EXPECT_EQ(1, inner.Start());
    EXPECT_EQ(1, inner.Start());
    inner.Close();
    EXPECT_EQ(0, inner.Started());
    // COM still works for the outer owner.
    void *object = nullptr;
    EXPECT_EQ(1, CreateComObject("Msxml2.DOMDocument.6.0", IID_IUnknown, &object));
    if (object)
        static_cast<IUnknown *>(object)->Release();
    EXPECT_EQ(0, CreateComObject("Tarvex.NoSuchClass.1", IID_IUnknown, &object));
    EXPECT_EQ(nullptr, object);
    EXPECT_EQ(0, CreateComObject(static_cast<const char *>(nullptr), IID_IUnknown, &object));
}

// --- Path reads --------------------------------------------------------------------------------------------

TEST_P(XmlBackEndTest, PathReads) {
    struct Case {
        const char *document, *path, *expected;
        const char *legacyExpected; // where the older model differs
    };
    const Case cases[] = {
        // Names compare without regard to letter case.
        {"<A><B>bee</B></A>", "a\\b", "bee", nullptr},
        // Attributes before children.
        {"<a x=\"1\"><x>child</x></a>", "a\\x", "1", nullptr},
        {"<a><x>child</x><x>second</x></a>", "a\\x", "child", nullptr},
        // Without a base the first step is the root itself.
        {"<a><b>t</b></a>", "b", "<fail>", nullptr},
        {"<a><b>t</b></a>", "a", "t", nullptr},
        // "#text" is the node's own text (the older model has no such step).
        {"<a>root</a>", "a\\#text", "root", "<fail>"},
        {"<a><b>in b</b></a>", "a\\b\\#text", "in b", "<fail>"},
        // Empty steps are skipped.
        {"<a><b>t</b></a>", "\\\\a\\\\b\\", "t", nullptr},
        {"<a><b>t</b></a>", "a\\c", "<fail>", nullptr},
        {"<a><b>t</b></a>", "a\\b\\c", "<fail>", nullptr},
        {"<a x=\"1\"/>", "a\\x\\y", "<fail>", nullptr},
        {"<update><files><execute>run.exe</execute></files></update>", "update\\files\\execute", "run.exe",
         nullptr},
        {"<a><b></b></a>", "a\\b", "", nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.document) + " " + c.path);
        ASSERT_EQ(1, doc_.LoadText(c.document));
        EXPECT_EQ(Legacy() && c.legacyExpected ? c.legacyExpected : c.expected, Read(c.path));
    }
}

TEST_P(XmlBackEndTest, FailedAndEmptyReadsAndTheOutText) {
    ASSERT_EQ(1, doc_.LoadText("<a><b>t</b></a>"));
    TextString out;
    // An empty path (or one of separators only) fails and leaves the text alone.
    for (const char *path : {"", "\\", "\\\\\\"}) {
        out.Assign("kept");
        EXPECT_EQ(0, doc_.ReadValue(path, out));
        EXPECT_STREQ("kept", out.Text());
    }
    EXPECT_EQ(0, doc_.ReadValue(nullptr, out));
    // A failed step empties it.
    out.Assign("kept");
    EXPECT_EQ(0, doc_.ReadValue("a\\missing", out));
    EXPECT_STREQ("", out.Text());
    // A refused text leaves a document in which nothing is found.
    for (const char *refused : {"", "<a><b>", "<!DOCTYPE a><a/>"}) {
        ASSERT_EQ(1, doc_.LoadText("<a>1</a>"));
        EXPECT_EQ(0, doc_.LoadText(refused));
        EXPECT_EQ("<fail>", Read("a")) << refused;
    }
}

TEST_P(XmlBackEndTest, ReadsFromABaseNode) {
    ASSERT_EQ(1, doc_.LoadText("<a><b k=\"v\"><c>deep</c></b></a>"));
    XmlNode *b = doc_.FindOrCreatePath("a\\b");
    ASSERT_NE(nullptr, b);
    // With a base the first step names an attribute or a child of it.
    EXPECT_EQ("deep", Read("c", b));
    EXPECT_EQ("v", Read("k", b));
    EXPECT_EQ("<fail>", Read("b", b));
    EXPECT_EQ("<fail>", Read("a", b));
    XmlDocument::ReleaseNode(b);
}

// --- Walks -------------------------------------------------------------------------------------------------

TEST_P(XmlBackEndTest, ForEachChildVisitsAttributesThenChildren) {
    ASSERT_EQ(1, doc_.LoadText("<a p=\"1\" q=\"2\">text<!--note--><b>x</b><c/></a>"));
    struct Case {
        const char *path, *stopAt;
        int result;
        const char *visits;
        // The older model names elements in capitals and other nodes not at all; Wine's cannot list
        // attributes (it has no IXMLElement2).
        int legacyResult;
        const char *legacyVisits;
    };
    const Case cases[] = {
        // Every attribute, then every child node, text and comment nodes included.
        {"a", "", 0, "@p=1;@q=2;#text=text;#comment=note;b=x;c=;", 0, "=text;=note;B=x;C=;"},
        {"a", "q", 1, "@p=1;@q=2;", 0, "=text;=note;B=x;C=;"},
        {"a", "b", 1, "@p=1;@q=2;#text=text;#comment=note;b=x;", 1, "=text;=note;B=x;"},
        // An empty path without a base: the root once.
        {"", "", 0, "a=textx;", 0, "A=textx;"},
        {"", "a", 1, "a=textx;", 1, "A=textx;"},
        {"a\\b", "", 0, "#text=x;", 0, "=x;"},
        {"a\\c", "", 0, "", 0, ""},
        {"a\\missing", "", 0, "", 0, ""},
        {"z", "", 0, "", 0, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.path) + " stop at " + c.stopAt);
        Recorder recorder;
        recorder.stopAt = c.stopAt;
        EXPECT_EQ(Legacy() ? c.legacyResult : c.result, doc_.ForEachChild(c.path, Record, &recorder));
        EXPECT_EQ(Legacy() ? c.legacyVisits : c.visits, recorder.visits);
    }
}

namespace {
// What the update check does: for each child, read its own values with the child as the base.
struct Nested {
    XmlDocument *doc;
    std::string seen;
};

int ReadEachFile(int isAttribute, XmlNode *node, const char *name, const char *, void *context,
                 XmlDocument *document) {
    Nested *nested = static_cast<Nested *>(context);
    EXPECT_EQ(nested->doc, document);
    if (isAttribute || _stricmp(name, "file") != 0)
        return 0;
    TextString value;
    nested->seen += document->ReadValue("name", value, node) ? value.Text() : "?";
    nested->seen += document->ReadValue("size", value, node) ? value.Text() : "?";
    nested->seen += ";";
    return 0;
}
} // namespace

TEST_P(XmlBackEndTest, CallbackMayReadPathsOfItsOwn) {
    ASSERT_EQ(1, doc_.LoadText("<u><files><file size=\"1\"><name>a.exe</name></file>"
                               "<file size=\"2\"><name>b.dll</name></file></files></u>"));
    Nested nested{&doc_, ""};
    EXPECT_EQ(0, doc_.ForEachChild("u\\files", ReadEachFile, &nested));
    EXPECT_EQ("a.exe1;b.dll2;", nested.seen);
}

// --- Finding or creating -----------------------------------------------------------------------------------

TEST_P(XmlBackEndTest, FindOrCreatePath) {
    struct Case {
        const char *document; // none: a document that was never loaded
        const char *path;
        int found;
        int below; // creates elements below an existing one (which the older model may lack)
        const char *check, *expected; // a read afterwards
    };
    const Case cases[] = {
        {"<a/>", "a\\b\\c", 1, 1, "a\\b\\c", ""},
        {"<a><b><c>old</c></b></a>", "a\\b\\c", 1, 0, "a\\b\\c", "old"},
        // The root is never replaced by a first step of another name.
        {"<z><y>keep</y></z>", "a\\b", 0, 0, "z\\y", "keep"},
        {nullptr, "a", 1, 0, "a", ""},
        {nullptr, "a\\b", 1, 1, "a\\b", ""},
        {"<a x=\"1\"/>", "a\\x", 1, 0, "a\\x", "1"},
        {"<a/>", "", 0, 0, "a", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.document ? c.document : "(none)") + " " + c.path);
        ASSERT_EQ(1, doc_.Init(OptionsFor(Legacy())));
        if (c.document) {
            ASSERT_EQ(1, doc_.LoadText(c.document));
        }
        std::string before = Snapshot(doc_);
        XmlNode *node = doc_.FindOrCreatePath(c.path);
        XmlDocument::ReleaseNode(node);
        if (!c.below) {
            EXPECT_EQ(c.found, node != nullptr);
        } else if (!c.document && !node) {
            // The root was made before the refusal.
            EXPECT_TRUE(Legacy());
            EXPECT_EQ("", Read("a"));
            continue;
        } else if (!DoneOrRefused(node != nullptr, before, "node != nullptr")) {
            continue;
        }
        EXPECT_EQ(c.expected, Read(c.check));
    }
}

TEST_P(XmlBackEndTest, FoundPathsAreNotCreatedTwice) {
    ASSERT_EQ(1, doc_.LoadText("<a><b/></a>"));
    std::string before = Snapshot(doc_);
    XmlNode *c = doc_.FindOrCreatePath("a\\b\\c");
    if (!DoneOrRefused(c != nullptr, before, "c != nullptr"))
        return;
    for (int round = 0; round < 3; ++round) {
        XmlNode *again = doc_.FindOrCreatePath("a\\b\\c");
        EXPECT_NE(nullptr, again);
        XmlDocument::ReleaseNode(again);
    }
    Recorder recorder;
    EXPECT_EQ(0, doc_.ForEachChild("a\\b", Record, &recorder));
    EXPECT_EQ("c=;", recorder.visits);
    // The node handed out is the created one: a base for further creations.
    XmlNode *d = doc_.FindOrCreatePath("d", c);
    ASSERT_NE(nullptr, d);
    EXPECT_EQ(1, doc_.BackEnd()->SetText(d, "deep"));
    EXPECT_EQ("deep", Read("a\\b\\c\\d"));
    XmlDocument::ReleaseNode(d);
    XmlDocument::ReleaseNode(c);
}

// --- The remaining back-end operations ---------------------------------------------------------------------

TEST_P(XmlBackEndTest, NodeChanges) {
    XmlBackEnd *back = doc_.BackEnd();
    XmlNode *root = nullptr;
    ASSERT_EQ(1, back->CreateChild(nullptr, "root", nullptr, &root));
    ASSERT_NE(nullptr, root);
    EXPECT_EQ("", Read("root"));
    // A second root is refused.
    XmlNode *second = nullptr;
    EXPECT_EQ(0, back->CreateChild(nullptr, "other", nullptr, &second));
    EXPECT_EQ(nullptr, second);
    EXPECT_EQ("", Read("root"));
    // Names that would be markup are refused.
    XmlNode *bad = nullptr;
    for (const char *name : {"a b", "", "a<b", "a/", "x=\"1\""}) {
        EXPECT_EQ(0, back->CreateChild(root, name, nullptr, &bad)) << name;
        EXPECT_EQ(0, back->SetAttribute(root, name, "v")) << name;
    }
    EXPECT_EQ(nullptr, bad);

    EXPECT_EQ(1, back->SetAttribute(root, "k", "v"));
    EXPECT_EQ("v", Read("root\\k"));
    EXPECT_EQ(1, back->SetText(root, "text of root"));
    EXPECT_EQ("text of root", Read("root"));

    std::string before = Snapshot(doc_);
    XmlNode *child = nullptr;
    if (DoneOrRefused(back->CreateChild(root, "child", "first", &child), before,
                      "back->CreateChild(root, \"child\", \"first\", &child)")) {
        EXPECT_EQ("first", Read("root\\child"));
        EXPECT_EQ(1, back->SetText(child, "second"));
        EXPECT_EQ("second", Read("root\\child"));
        EXPECT_EQ(1, back->RemoveChild(root, child));
        EXPECT_EQ("<fail>", Read("root\\child"));
    }
    XmlDocument::ReleaseNode(child);
    XmlDocument::ReleaseNode(root);
}

TEST_P(XmlBackEndTest, SerialisedTextAndFiles) {
    XmlBackEnd *back = doc_.BackEnd();
    ASSERT_EQ(1, back->AddProcessingInstruction("xml-stylesheet", "href=\"s.xsl\""));
    XmlNode *node = doc_.FindOrCreatePath("item");
    ASSERT_NE(nullptr, node);
    ASSERT_EQ(1, back->SetText(node, "one & two"));
    TextString nodeXml;
    EXPECT_EQ(Legacy() ? 0 : 1, back->NodeXml(node, nodeXml));
    EXPECT_EQ(Legacy() ? "" : "<item>one &amp; two</item>", std::string(nodeXml.Text()));
    XmlDocument::ReleaseNode(node);

    TextString xml;
    std::string before = Snapshot(doc_);
    if (DoneOrRefused(back->DocumentXml(xml), before, "back->DocumentXml(xml)")) {
        std::string text = xml.Text();
        EXPECT_NE(std::string::npos, text.find("<?xml-stylesheet href=\"s.xsl\"?>")) << text;
        EXPECT_NE(std::string::npos, text.find("<item>one &amp; two</item>")) << text;
    } else {
        EXPECT_STREQ("", xml.Text());
    }

    TempFolder folder("Xml");
    ASSERT_TRUE(folder.Valid());
    std::string path = folder.File("saved.xml");
    if (DoneOrRefused(back->SaveFile(path.c_str()), before, "SaveFile")) {
        EXPECT_NE(std::string::npos, folder.ReadFile("saved.xml").find("one &amp; two"));
    } else {
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(path.c_str()));
    }
    // Loading a file is there on both.
    ASSERT_EQ(1,
              folder.WriteFile("load.xml", "<?xml version=\"1.0\"?><list><item>one &amp; two</item></list>"));
    ASSERT_EQ(1, doc_.Init(OptionsFor(Legacy())));
    EXPECT_EQ(1, doc_.BackEnd()->LoadFile(folder.File("load.xml").c_str()));
    EXPECT_EQ("one & two", Read("list\\item"));
    EXPECT_EQ(0, doc_.BackEnd()->LoadFile(folder.File("missing.xml").c_str()));
}

TEST_P(XmlBackEndTest, RemovingWithoutParent) {
    ASSERT_EQ(1, doc_.LoadText("<a><b/></a>"));
    XmlNode *a = doc_.FindOrCreatePath("a");
    ASSERT_NE(nullptr, a);
    std::string before = Snapshot(doc_);
    int removed = DoneOrRefused(doc_.BackEnd()->RemoveChild(nullptr, a), before,
                                "doc_.BackEnd()->RemoveChild(nullptr, a)");
    XmlDocument::ReleaseNode(a);
    if (!removed)
        return;
    EXPECT_EQ("<fail>", Read("a"));
    // The document takes a new root afterwards.
    XmlNode *root = doc_.FindOrCreatePath("n");
    EXPECT_NE(nullptr, root);
    XmlDocument::ReleaseNode(root);
    EXPECT_EQ("", Read("n"));
}

INSTANTIATE_TEST_SUITE_P(BothBackEnds, XmlBackEndTest, ::testing::Values(kDom, kLegacy), KindName);

// --- Loading 8-bit texts -----------------------------------------------------------------------------------

namespace {
// A letter outside ASCII in the system code page (é in the Western ones), so that a declaration naming
// another encoding is a real mismatch.
std::string NonAscii() {
    wchar_t wide[] = L"\x00E9";
    char narrow[8] = {};
    BOOL lost = FALSE;
    int n = WideCharToMultiByte(CP_ACP, 0, wide, 1, narrow, sizeof(narrow), nullptr, &lost);
    return n > 0 && !lost ? std::string(narrow, n) : std::string();
}
} // namespace

TEST(XmlDocumentLoad, EightBitTextsWithAndWithoutDeclarations) {
    std::string e = NonAscii();
    ASSERT_FALSE(e.empty()) << "the system code page has no e acute";
    struct Case {
        std::string text;
        int dom;    // loaded through the DOM
        int legacy; // loaded by the older model, which has no load attempts of ours (-1: its parser's choice)
    };
    const Case cases[] = {
        {"<a>caf" + e + "</a>", 1, -1},
        {"<?xml version=\"1.0\"?><a>caf" + e + "</a>", 1, -1},
        // The declaration names another encoding than the text has.
        {"<?xml version=\"1.0\" encoding=\"UTF-8\"?><a>caf" + e + "</a>", 1, -1},
        {"<?xml version='1.0' encoding='UTF-8'?><a>caf" + e + "</a>", 1, -1},
        {"<?xml version=\"1.0\" encoding=\"UTF-16\"?><a>caf" + e + "</a>", 1, -1},
        {"<?xml version=\"1.0\" encoding='x'?><a>caf" + e + "</a>", 1, -1},
        {"<?xml version=\"1.0\" ENCODING=\"no-such-charset\"?><a>caf" + e + "</a>", 1, -1},
        {"<?xml version=\"1.0\" encoding=\"windows-1252\"?><a>caf" + e + "</a>", 1, 1},
        {"<a>cafe</a>", 1, 1},
        {"<?xml version=\"1.0\" encoding=\"UTF-8\"?><a>cafe</a>", 1, 1},
        // Refused in every form.
        {"<a>", 0, 0},
        {"<a></b>", 0, 0},
        {"<?xml version=\"1.0\" encoding=\"UTF-8\"?><a>", 0, 0},
        {"<?xml version='1.0' encoding='x'?><a></b>", 0, 0},
        {"not xml at all", 0, 0},
        {"", 0, 0},
        // Document types only when asked for.
        {"<!DOCTYPE a [<!ENTITY e \"x\">]><a>&e;</a>", 0, 0},
    };
    for (int legacy = 0; legacy < 2; ++legacy) {
        XmlDocument doc;
        ASSERT_EQ(1, doc.Init(OptionsFor(legacy)));
        for (const Case &c : cases) {
            int expected = legacy ? c.legacy : c.dom;
            if (expected < 0)
                continue;
            SCOPED_TRACE((legacy ? "legacy: " : "dom: ") + c.text);
            EXPECT_EQ(expected, doc.LoadText(c.text.c_str()));
            TextString out;
            EXPECT_EQ(expected, doc.ReadValue("a", out));
            if (expected) {
                EXPECT_EQ(c.text.find("cafe") == std::string::npos ? "caf" + e : "cafe", out.Text());
            }
        }
        EXPECT_EQ(0, doc.LoadText(nullptr));
    }
}

TEST(XmlDocumentLoad, DocumentTypesWhenAllowed) {
    for (int legacy = 0; legacy < 2; ++legacy) {
        XmlDocument doc;
        ASSERT_EQ(1, doc.Init(OptionsFor(legacy) | kXmlAllowDtd));
        ASSERT_EQ(1, doc.LoadText("<!DOCTYPE a [<!ENTITY e \"x\">]><a>&e;</a>"));
        TextString out;
        EXPECT_EQ(1, doc.ReadValue("a", out));
        EXPECT_STREQ("x", out.Text());
    }
}

TEST(XmlDocumentLoad, EncodingDeclarationRemoval) {
    struct Case {
        const char *text;
        int removed;
        const char *after;
    };
    const Case cases[] = {
        {"<?xml version=\"1.0\" encoding=\"UTF-8\"?><a/>", 1, "<?xml version=\"1.0\" ?><a/>"},
        {"<?xml version='1.0' encoding='x'?><a/>", 1, "<?xml version='1.0' ?><a/>"},
        {"<?XML version=\"1.0\" Encoding=\"UTF-8\" standalone=\"yes\"?><a/>", 1,
         "<?XML version=\"1.0\"  standalone=\"yes\"?><a/>"},
        // Single quotes around a double quote: the second search, to the closing single quote.
        {"<?xml version=\"1.0\" encoding='x\"y'?><a/>", 1, "<?xml version=\"1.0\" ?><a/>"},
        {"<?xml encoding=\"\"?><a/>", 1, "<?xml ?><a/>"},
        // Content is content, not a declaration.
        {"<a>encoding=\"x\"</a>", 0, nullptr},
        {"<?xml version=\"1.0\"?><a encoding=\"x\"/>", 0, nullptr},
        {"<?xml version=\"1.0\" encoding=\"UTF-8?><a/>", 0, nullptr},
        {"<?xml version=\"1.0\" encoding=\"UTF-8\"", 0, nullptr},
        {"<?xml", 0, nullptr},
        {"", 0, nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        TextString text;
        text.Assign(c.text);
        EXPECT_EQ(c.removed, RemoveEncodingDeclaration(text));
        EXPECT_STREQ(c.removed ? c.after : c.text, text.Text());
    }
}

// --- MemoryStream ------------------------------------------------------------------------------------------

TEST(MemoryStreamTest, ReadsInPiecesAndEndsWithTheTerminator) {
    struct Case {
        ULONG ask;
        ULONG done;
        const char *bytes; // what lands in the buffer, terminator shown as '|'
    };
    // "abcdef" read with these requests one after another.
    const Case cases[] = {{2, 2, "ab"}, {0, 0, ""}, {3, 3, "cde"}, {5, 1, "f|"}, {4, 0, "|"}};
    MemoryStream *stream = new MemoryStream("abcdef");
    for (const Case &c : cases) {
        char buffer[8];
        memset(buffer, '#', sizeof(buffer));
        ULONG done = 99;
        EXPECT_EQ(S_OK, stream->Read(buffer, c.ask, &done));
        EXPECT_EQ(c.done, done);
        std::string got(buffer, strlen(c.bytes));
        for (char &ch : got)
            if (ch == 0)
                ch = '|';
        EXPECT_EQ(c.bytes, got);
        // Nothing beyond the reported bytes and the terminator is touched.
        EXPECT_EQ('#', buffer[strlen(c.bytes)]);
    }
    EXPECT_NE(S_OK, stream->Read(nullptr, 1, nullptr));
    EXPECT_EQ(0u, stream->Release());
}

TEST(MemoryStreamTest, WritesAppendUpToAZeroAndTheRestIsNotImplemented) {
    MemoryStream *stream = new MemoryStream();
    ULONG done = 0;
    EXPECT_EQ(S_OK, stream->Write("abc", 3, &done));
    EXPECT_EQ(3u, done);
    EXPECT_EQ(S_OK, stream->Write("de\0fg", 5, &done));
    EXPECT_EQ(2u, done);
    EXPECT_EQ(S_OK, stream->Write("", 0, &done));
    EXPECT_STREQ("abcde", stream->Text().Text());

    IUnknown *unknown = nullptr;
    ASSERT_EQ(S_OK, stream->QueryInterface(IID_IUnknown, reinterpret_cast<void **>(&unknown)));
    IStream *asStream = nullptr;
    ASSERT_EQ(S_OK, stream->QueryInterface(IID_IStream, reinterpret_cast<void **>(&asStream)));
    void *other = reinterpret_cast<void *>(1);
    EXPECT_EQ(E_NOINTERFACE, stream->QueryInterface(IID_IPersistStream, &other));
    EXPECT_EQ(nullptr, other);
    LARGE_INTEGER move = {};
    EXPECT_EQ(E_NOTIMPL, stream->Seek(move, STREAM_SEEK_SET, nullptr));
    EXPECT_EQ(E_NOTIMPL, stream->Stat(nullptr, 0));
    EXPECT_EQ(E_NOTIMPL, stream->Clone(nullptr));
    // Counted from 1: the creator's reference and the two taken above.
    EXPECT_EQ(2u, unknown->Release());
    EXPECT_EQ(1u, asStream->Release());
    EXPECT_EQ(0u, stream->Release());
}

// --- Fuzz --------------------------------------------------------------------------------------------------

namespace {
int CountVisits(int, XmlNode *, const char *name, const char *text, void *context, XmlDocument *) {
    EXPECT_NE(nullptr, name);
    EXPECT_NE(nullptr, text);
    ++*static_cast<int *>(context);
    return 0;
}

// A small random document: nested elements with attributes, text, comments, entities and odd bytes.
std::string RandomDocument(std::mt19937 &random) {
    static const char *const names[] = {"a", "b", "update", "files", "x", "A", "b2", "n-m"};
    static const char *const texts[] = {"t",      "1.0",    "&amp;", "&lt;", "\xE9", "  ", "<![CDATA[<x>]]>",
                                        "&#x41;", "&#233;", "\\"};
    std::string out;
    if (random() % 3 == 0)
        out += random() % 2 ? "<?xml version=\"1.0\" encoding=\"UTF-8\"?>" : "<?xml version='1.0'?>";
    std::vector<const char *> open;
    int budget = 1 + random() % 40;
    out += "<a>";
    open.push_back("a");
    while (budget-- > 0) {
        switch (random() % 5) {
        case 0: {
            const char *name = names[random() % 8];
            out += std::string("<") + name;
            if (random() % 2)
                out += std::string(" ") + names[random() % 8] + "=\"" + texts[random() % 4] + "\"";
            out += ">";
            open.push_back(name);
            break;
        }
        case 1:
            if (open.size() > 1) {
                out += std::string("</") + open.back() + ">";
                open.pop_back();
            }
            break;
        case 2:
            out += texts[random() % 10];
            break;
        case 3:
            out += "<!--c-->";
            break;
        default:
            out += std::string("<") + names[random() % 8] + "/>";
        }
    }
    while (!open.empty()) {
        out += std::string("</") + open.back() + ">";
        open.pop_back();
    }
    return out;
}

void Mutate(std::mt19937 &random, std::string &text) {
    int edits = 1 + random() % 4;
    while (edits-- > 0 && !text.empty()) {
        size_t at = random() % text.size();
        switch (random() % 5) {
        case 0:
            text[at] = static_cast<char>(1 + random() % 255);
            break;
        case 1:
            text.erase(at, 1 + random() % 8);
            break;
        case 2:
            text.insert(at, std::string(1, "<>&\"'/=?!\\"[random() % 10]));
            break;
        case 3:
            text.resize(at);
            break;
        default:
            text.insert(at, text.substr(0, random() % (text.size() + 1)));
        }
    }
}

std::string RandomPath(std::mt19937 &random) {
    static const char *const steps[] = {"a", "b", "x", "update", "#text", "", "A", "missing", "#comment"};
    std::string path = random() % 2 ? "a\\" : "";
    int count = random() % 5;
    for (int i = 0; i < count; ++i)
        path += std::string(steps[random() % 9]) + (random() % 4 ? "\\" : "\\\\");
    return path;
}
} // namespace

TEST(XmlDocumentFuzz, RandomAndMutatedDocumentsNeverCrash) {
    std::mt19937 random(20240611);
    for (int legacy = 0; legacy < 2; ++legacy) {
        XmlDocument doc;
        ASSERT_EQ(1, doc.Init(OptionsFor(legacy)));
        int rounds = legacy ? 2500 : 5000, loaded = 0, found = 0;
        auto start = std::chrono::steady_clock::now();
        for (int round = 0; round < rounds; ++round) {
            std::string text = RandomDocument(random);
            if (round % 2)
                Mutate(random, text);
            if (!doc.LoadText(text.c_str()))
                continue;
            ++loaded;
            TextString out;
            std::string path = RandomPath(random);
            int read = doc.ReadValue(path.c_str(), out);
            found += read;
            // A failed read leaves nothing behind; only the empty path leaves the text alone.
            if (!read && !path.empty() && path.find_first_not_of('\\') != std::string::npos) {
                EXPECT_STREQ("", out.Text()) << text << " " << path;
            }
            int visits = 0;
            int walked = doc.ForEachChild(RandomPath(random).c_str(), CountVisits, &visits);
            EXPECT_EQ(0, walked);
            EXPECT_LT(visits, static_cast<int>(text.size()) + 2) << text;
            XmlDocument::ReleaseNode(doc.FindOrCreatePath(RandomPath(random).c_str()));
        }
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        printf("%s: %d documents, %d loaded, %d reads found, %.2f s\n", legacy ? "legacy" : "dom", rounds,
               loaded, found, seconds);
        // The generator must reach the parser's good side too, or the walks were never exercised.
        EXPECT_GT(loaded, rounds / 4);
        EXPECT_GT(found, 0);
    }
}
