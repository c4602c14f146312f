// XmlDocument on the system's real XML classes, through both back ends: path reads, walks, creation, the load
// attempts for 8-bit texts, the remaining back-end operations, MemoryStream, and a fuzz run.
#include "base/TextString.h"
#include "tests/common/TempFolder.h"
#include "update/MemoryStream.h"
#include "update/XmlDocument.h"
#include <gtest/gtest.h>
#include <algorithm>
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

// Writes each visit as "@name=text;" (attributes) or "name=text;" and answers 1 at the name stopAt.
struct Recorder {
    std::string visits, stopAt;
    int deep = 0;                   // into every element as well: the whole tree, to compare before and after
    const char *readEach = nullptr; // read with each element as the base: paths read during a walk
};

int Record(int isAttribute, XmlNode *node, const char *name, const char *text, void *context,
           XmlDocument *doc) {
    Recorder &r = *static_cast<Recorder *>(context);
    EXPECT_NE(nullptr, node);
    r.visits += (isAttribute ? "@" : "") + std::string(name) + "=" + text;
    TextString value;
    if (r.readEach && !isAttribute)
        r.visits += "(" + std::string(doc->ReadValue(r.readEach, value, node) ? value.Text() : "?") + ")";
    if (r.deep && !isAttribute) {
        r.visits += "{";
        doc->ForEachChild("", Record, &r, node);
        r.visits += "}";
    }
    r.visits += ";";
    return !r.stopAt.empty() && _stricmp(r.stopAt.c_str(), name) == 0 ? 1 : 0;
}

std::string Snapshot(XmlDocument &doc) {
    Recorder recorder{"", "", 1};
    doc.ForEachChild("", Record, &recorder);
    return recorder.visits;
}

// One document per test on the calling thread, through the back end the parameter names (1: the older one).
class XmlBackEndTest : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override {
        ASSERT_EQ(1, doc_.Init(OptionsFor(Legacy())));
        ASSERT_EQ(Legacy(), doc_.UsesLegacy());
    }
    int Legacy() const { return GetParam(); }
    // The DOM does every change. The older object model may lack one on this system (Wine's creates elements
    // without names and cannot save); it must then say so and leave the document as it was.
    bool DoneOrRefused(int done, const std::string &before, const char *what) {
        if (!Legacy()) {
            EXPECT_EQ(1, done) << what;
        } else {
            EXPECT_EQ(before, done ? before : Snapshot(doc_)) << what;
            printf("older object model %s: %s\n", done ? "did" : "refused", what);
        }
        return done == 1;
    }
    // The text a read leaves, or "<fail>" followed by what is left of the text "kept" it started with.
    std::string Read(const char *path, XmlNode *base = nullptr) {
        TextString out;
        out.Assign("kept");
        int found = doc_.ReadValue(path, out, base);
        return (found ? "" : "<fail>") + std::string(out.Text());
    }

    XmlDocument doc_;
};
} // namespace

// --- Choosing and closing ----------------------------------------------------------------------------------

TEST(XmlDocumentChoice, DomFirstLegacyWhenAskedNothingBeforeInitOrAfterClose) {
    XmlDocument doc;
    for (int initialised = 0; initialised < 2; ++initialised) {
        if (initialised) {
            ASSERT_EQ(1, doc.Init(kUpdateOptions));
            EXPECT_EQ(0, doc.UsesLegacy());
            // Wine and every current Windows have the 6.0 class, the first one tried.
            EXPECT_STREQ("Msxml2.DOMDocument.6.0", static_cast<DomBackEnd *>(doc.BackEnd())->ClassName());
            ASSERT_EQ(1, doc.LoadText("<a><b>1</b></a>"));
            // Init again starts afresh: nothing of the earlier load survives.
            ASSERT_EQ(1, doc.Init(kUpdateOptions | kXmlLegacyOnly));
            EXPECT_EQ(1, doc.UsesLegacy());
            TextString out;
            EXPECT_EQ(0, doc.ReadValue("a", out));
            ASSERT_EQ(1, doc.LoadText("<a><b>1</b></a>"));
            doc.Close();
        }
        TextString out;
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
    // A second start on the same thread is counted by COM and balanced by Close; the outer owner keeps COM.
    ComInitializer inner;
    EXPECT_EQ(1, inner.Start());
    EXPECT_EQ(1, inner.Start());
    inner.Close();
    EXPECT_EQ(0, inner.Started());
    void *object = nullptr;
    EXPECT_EQ(1, CreateComObject("Msxml2.DOMDocument.6.0", IID_IUnknown, &object));
    if (object)
        static_cast<IUnknown *>(object)->Release();
    EXPECT_EQ(0, CreateComObject("Tarvex.NoSuchClass.1", IID_IUnknown, &object));
    EXPECT_EQ(nullptr, object);
    EXPECT_EQ(0, CreateComObject(static_cast<const char *>(nullptr), IID_IUnknown, &object));
}

// --- Path reads and walks ----------------------------------------------------------------------------------

TEST_P(XmlBackEndTest, PathReads) {
    struct Case {
        const char *document, *base, *path, *expected;
        const char *legacyExpected; // where the older model differs
    };
    const char *const nested = "<a><b k=\"v\"><c>deep</c></b></a>";
    const Case cases[] = {
        // Names compare without regard to letter case; attributes come before children.
        {"<A><B>bee</B></A>", "", "a\\b", "bee"},
        {"<a x=\"1\"><x>child</x></a>", "", "a\\x", "1"},
        {"<a><x>child</x><x>second</x></a>", "", "a\\x", "child"},
        // Without a base the first step is the root itself.
        {"<a><b>t</b></a>", "", "b", "<fail>"},
        {"<a><b>t</b></a>", "", "a", "t"},
        // "#text" is the node's own text (the older model has no such step).
        {"<a>root</a>", "", "a\\#text", "root", "<fail>"},
        {"<a><b>in b</b></a>", "", "a\\b\\#text", "in b", "<fail>"},
        // Empty steps are skipped; a path of none fails and leaves the text alone, a failed step empties it.
        {"<a><b>t</b></a>", "", "\\\\a\\\\b\\", "t"},
        {"<a><b>t</b></a>", "", "", "<fail>kept"},
        {"<a><b>t</b></a>", "", "\\\\\\", "<fail>kept"},
        {"<a><b>t</b></a>", "", "a\\c", "<fail>"},
        {"<a><b>t</b></a>", "", "a\\b\\c", "<fail>"},
        {"<a x=\"1\"/>", "", "a\\x\\y", "<fail>"},
        {"<a><b></b></a>", "", "a\\b", ""},
        // With a base the first step names an attribute or a child of it.
        {nested, "a\\b", "c", "deep"},
        {nested, "a\\b", "k", "v"},
        {nested, "a\\b", "b", "<fail>"},
        {nested, "a\\b", "a", "<fail>"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.document) + " " + c.base + ": " + c.path);
        ASSERT_EQ(1, doc_.LoadText(c.document));
        XmlNode *base = *c.base ? doc_.FindOrCreatePath(c.base) : nullptr;
        EXPECT_EQ(Legacy() && c.legacyExpected ? c.legacyExpected : c.expected, Read(c.path, base));
        XmlDocument::ReleaseNode(base);
    }
    EXPECT_EQ("<fail>kept", Read(nullptr));
}

TEST_P(XmlBackEndTest, ForEachChildVisitsAttributesThenChildren) {
    ASSERT_EQ(1, doc_.LoadText("<a p=\"1\" q=\"2\">text<!--note--><b k=\"v\"><n>x</n></b><c/></a>"));
    struct Case {
        const char *path, *stopAt;
        int result;
        const char *visits;
        // The older model names elements in capitals and other nodes not at all; Wine's cannot list
        // attributes (it has no IXMLElement2).
        int legacyResult;
        const char *legacyVisits;
        const char *readEach; // what the update check does: reads with each node as the base
    };
    const Case cases[] = {
        {"a", "", 0, "@p=1;@q=2;#text=text;#comment=note;b=x;c=;", 0, "=text;=note;B=x;C=;"},
        {"a", "q", 1, "@p=1;@q=2;", 0, "=text;=note;B=x;C=;"},
        {"a", "b", 1, "@p=1;@q=2;#text=text;#comment=note;b=x;", 1, "=text;=note;B=x;"},
        // An empty path without a base: the root once.
        {"", "", 0, "a=textx;", 0, "A=textx;"},
        {"", "a", 1, "a=textx;", 1, "A=textx;"},
        {"a\\b", "", 0, "@k=v;n=x;", 0, "N=x;"},
        {"a\\c", "", 0, "", 0, ""},
        {"a\\missing", "", 0, "", 0, ""},
        {"z", "", 0, "", 0, ""},
        {"a", "", 0, "@p=1;@q=2;#text=text(?);#comment=note(?);b=x(v);c=(?);", 0,
         "=text(?);=note(?);B=x(v);C=(?);", "k"},
        {"a", "c", 1, "@p=1;@q=2;#text=text(?);#comment=note(?);b=x(x);c=(?);", 1,
         "=text(?);=note(?);B=x(x);C=(?);", "n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.path) + " stop at " + c.stopAt);
        Recorder recorder;
        recorder.stopAt = c.stopAt;
        recorder.readEach = c.readEach;
        EXPECT_EQ(Legacy() ? c.legacyResult : c.result, doc_.ForEachChild(c.path, Record, &recorder));
        EXPECT_EQ(Legacy() ? c.legacyVisits : c.visits, recorder.visits);
    }
}

// --- Finding or creating -----------------------------------------------------------------------------------

TEST_P(XmlBackEndTest, FindOrCreatePath) {
    // document none: one never loaded; below: creates elements below an existing one (which the older model
    // may lack); check and expected: a read afterwards.
    struct Case {
        const char *document, *path;
        int found, below;
        const char *check, *expected;
    };
    const Case cases[] = {
        {"<a/>", "a\\b\\c", 1, 1, "a\\b\\c", ""},
        {"<a><b/></a>", "a\\b\\c", 1, 1, "a\\b\\c", ""},
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
        if (!c.below) {
            EXPECT_EQ(c.found, node != nullptr);
        } else if (!c.document && !node) {
            // The root was made before the refusal.
            EXPECT_TRUE(Legacy());
            EXPECT_EQ("", Read("a"));
            continue;
        } else if (!DoneOrRefused(node != nullptr, before, "FindOrCreatePath")) {
            continue;
        }
        EXPECT_EQ(c.expected, Read(c.check));
        // A path found is not created twice, and the node handed out is a base for further creations.
        before = Snapshot(doc_);
        XmlDocument::ReleaseNode(doc_.FindOrCreatePath(c.path));
        EXPECT_EQ(before, Snapshot(doc_));
        if (node && c.below) {
            XmlNode *d = doc_.FindOrCreatePath("d", node);
            EXPECT_EQ(1, doc_.BackEnd()->SetText(d, "deep"));
            EXPECT_EQ("deep", Read((std::string(c.path) + "\\d").c_str()));
            XmlDocument::ReleaseNode(d);
        }
        XmlDocument::ReleaseNode(node);
    }
}

// --- The remaining back-end operations ---------------------------------------------------------------------

TEST_P(XmlBackEndTest, NodeChanges) {
    XmlBackEnd *back = doc_.BackEnd();
    XmlNode *root = nullptr, *refused = nullptr;
    ASSERT_EQ(1, back->CreateChild(nullptr, "root", nullptr, &root));
    ASSERT_NE(nullptr, root);
    // A second root, and names that would be markup, are refused.
    EXPECT_EQ(0, back->CreateChild(nullptr, "other", nullptr, &refused));
    for (const char *name : {"a b", "", "a<b", "a/", "x=\"1\""}) {
        EXPECT_EQ(0, back->CreateChild(root, name, nullptr, &refused)) << name;
        EXPECT_EQ(0, back->SetAttribute(root, name, "v")) << name;
    }
    EXPECT_EQ(nullptr, refused);
    EXPECT_EQ(Legacy() ? "ROOT={};" : "root={};", Snapshot(doc_));

    EXPECT_EQ(1, back->SetAttribute(root, "k", "v"));
    EXPECT_EQ("v", Read("root\\k"));
    EXPECT_EQ(1, back->SetText(root, "text of root"));
    EXPECT_EQ("text of root", Read("root"));

    std::string before = Snapshot(doc_);
    XmlNode *child = nullptr;
    if (DoneOrRefused(back->CreateChild(root, "child", "first", &child), before, "CreateChild")) {
        EXPECT_EQ("first", Read("root\\child"));
        EXPECT_EQ(1, back->SetText(child, "second"));
        EXPECT_EQ("second", Read("root\\child"));
        EXPECT_EQ(1, back->RemoveChild(root, child));
        EXPECT_EQ("<fail>", Read("root\\child"));
    }
    XmlDocument::ReleaseNode(child);
    // The root taken away without a parent; the document takes a new one afterwards.
    before = Snapshot(doc_);
    if (DoneOrRefused(back->RemoveChild(nullptr, root), before, "RemoveChild of the root")) {
        EXPECT_EQ("<fail>", Read("root"));
        XmlDocument::ReleaseNode(doc_.FindOrCreatePath("n"));
        EXPECT_EQ("", Read("n"));
    }
    XmlDocument::ReleaseNode(root);
}

TEST_P(XmlBackEndTest, SerialisedTextAndFiles) {
    XmlBackEnd *back = doc_.BackEnd();
    ASSERT_EQ(1, back->AddProcessingInstruction("xml-stylesheet", "href=\"s.xsl\""));
    XmlNode *node = doc_.FindOrCreatePath("item");
    ASSERT_NE(nullptr, node);
    ASSERT_EQ(1, back->SetText(node, "one & two"));
    TextString xml;
    EXPECT_EQ(Legacy() ? 0 : 1, back->NodeXml(node, xml));
    EXPECT_EQ(Legacy() ? "" : "<item>one &amp; two</item>", std::string(xml.Text()));
    XmlDocument::ReleaseNode(node);

    std::string before = Snapshot(doc_);
    if (DoneOrRefused(back->DocumentXml(xml), before, "DocumentXml")) {
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

INSTANTIATE_TEST_SUITE_P(BothBackEnds, XmlBackEndTest, ::testing::Values(0, 1),
                         [](const ::testing::TestParamInfo<int> &info) {
                             return info.param ? "Legacy" : "Dom";
                         });

// --- Loading 8-bit texts -----------------------------------------------------------------------------------

TEST(XmlDocumentLoad, EightBitTextsWithAndWithoutDeclarations) {
    // A letter outside ASCII in the system code page (é in the Western ones), so that a declaration naming
    // another encoding is a real mismatch.
    char e[8] = {};
    BOOL lost = FALSE;
    ASSERT_GT(WideCharToMultiByte(CP_ACP, 0, L"\x00E9", 1, e, sizeof(e) - 1, nullptr, &lost), 0);
    ASSERT_FALSE(lost) << "the system code page has no e acute";
    const std::string cafe = std::string("caf") + e + "</a>";
    const char *const dtd = "<!DOCTYPE a [<!ENTITY e \"x\">]><a>&e;</a>";
    struct Case {
        std::string text;
        int dom;    // loaded through the DOM
        int legacy; // loaded by the older model, which has no load attempts of ours (-1: its parser's choice)
    };
    const Case cases[] = {
        {"<a>" + cafe, 1, -1},
        {"<?xml version=\"1.0\"?><a>" + cafe, 1, -1},
        // The declaration names another encoding than the text has.
        {"<?xml version=\"1.0\" encoding=\"UTF-8\"?><a>" + cafe, 1, -1},
        {"<?xml version='1.0' encoding='UTF-8'?><a>" + cafe, 1, -1},
        {"<?xml version=\"1.0\" encoding=\"UTF-16\"?><a>" + cafe, 1, -1},
        {"<?xml version=\"1.0\" ENCODING=\"no-such-charset\"?><a>" + cafe, 1, -1},
        {"<?xml version=\"1.0\" encoding=\"windows-1252\"?><a>" + cafe, 1, 1},
        {"<a>cafe</a>", 1, 1},
        {"<?xml version=\"1.0\" encoding=\"UTF-8\"?><a>cafe</a>", 1, 1},
        // Refused in every form, and a refused text leaves an empty document rather than the one before.
        {"<a>", 0, 0},
        {"<a></b>", 0, 0},
        {"<?xml version=\"1.0\" encoding=\"UTF-8\"?><a>", 0, 0},
        {"<?xml version='1.0' encoding='x'?><a></b>", 0, 0},
        {"not xml at all", 0, 0},
        {"", 0, 0},
        // Document types only when asked for.
        {dtd, 0, 0},
    };
    for (int legacy = 0; legacy < 2; ++legacy) {
        XmlDocument doc;
        ASSERT_EQ(1, doc.Init(OptionsFor(legacy)));
        TextString out;
        for (const Case &c : cases) {
            int expected = legacy ? c.legacy : c.dom;
            if (expected < 0)
                continue;
            SCOPED_TRACE((legacy ? "legacy: " : "dom: ") + c.text);
            ASSERT_EQ(1, doc.LoadText("<a>old</a>"));
            EXPECT_EQ(expected, doc.LoadText(c.text.c_str()));
            EXPECT_EQ(expected, doc.ReadValue("a", out));
            if (expected) {
                EXPECT_EQ(c.text.find("cafe") == std::string::npos ? "caf" + std::string(e) : "cafe",
                          out.Text());
            }
        }
        EXPECT_EQ(0, doc.LoadText(nullptr));
        ASSERT_EQ(1, doc.Init(OptionsFor(legacy) | kXmlAllowDtd));
        EXPECT_EQ(1, doc.LoadText(dtd));
        EXPECT_EQ(1, doc.ReadValue("a", out));
        EXPECT_STREQ("x", out.Text());
    }
}

TEST(XmlDocumentLoad, EncodingDeclarationRemoval) {
    struct Case {
        const char *text;
        const char *after; // none: nothing removed
    };
    const Case cases[] = {
        {"<?xml version=\"1.0\" encoding=\"UTF-8\"?><a/>", "<?xml version=\"1.0\" ?><a/>"},
        {"<?xml version='1.0' encoding='x'?><a/>", "<?xml version='1.0' ?><a/>"},
        {"<?XML version=\"1.0\" Encoding=\"UTF-8\" standalone=\"yes\"?><a/>",
         "<?XML version=\"1.0\"  standalone=\"yes\"?><a/>"},
        // Single quotes around a double quote: the second search, to the closing single quote.
        {"<?xml version=\"1.0\" encoding='x\"y'?><a/>", "<?xml version=\"1.0\" ?><a/>"},
        {"<?xml encoding=\"\"?><a/>", "<?xml ?><a/>"},
        // Content is content, not a declaration.
        {"<a>encoding=\"x\"</a>"},
        {"<?xml version=\"1.0\"?><a encoding=\"x\"/>"},
        {"<?xml version=\"1.0\" encoding=\"UTF-8?><a/>"},
        {"<?xml version=\"1.0\" encoding=\"UTF-8\""},
        {"<?xml"},
        {""},
    };
    for (const Case &c : cases) {
        TextString text;
        text.Assign(c.text);
        EXPECT_EQ(c.after != nullptr, RemoveEncodingDeclaration(text)) << c.text;
        EXPECT_STREQ(c.after ? c.after : c.text, text.Text());
    }
}

// --- MemoryStream ------------------------------------------------------------------------------------------

TEST(MemoryStreamTest, ReadsInPiecesWritesUpToAZeroAndCountsReferences) {
    struct Case {
        ULONG ask, done;
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
        std::replace(got.begin(), got.end(), '\0', '|');
        EXPECT_EQ(c.bytes, got);
        // Nothing beyond the reported bytes and the terminator is touched.
        EXPECT_EQ('#', buffer[strlen(c.bytes)]);
    }
    EXPECT_NE(S_OK, stream->Read(nullptr, 1, nullptr));
    ULONG done = 0;
    EXPECT_EQ(S_OK, stream->Write("gh\0ij", 5, &done));
    EXPECT_EQ(2u, done);
    EXPECT_EQ(S_OK, stream->Write("", 0, &done));
    EXPECT_EQ(0u, done);
    EXPECT_STREQ("abcdefgh", stream->Text().Text());

    IUnknown *unknown = nullptr;
    IStream *asStream = nullptr;
    ASSERT_EQ(S_OK, stream->QueryInterface(IID_IUnknown, reinterpret_cast<void **>(&unknown)));
    ASSERT_EQ(S_OK, stream->QueryInterface(IID_IStream, reinterpret_cast<void **>(&asStream)));
    void *other = reinterpret_cast<void *>(1);
    EXPECT_EQ(E_NOINTERFACE, stream->QueryInterface(IID_IPersistStream, &other));
    EXPECT_EQ(nullptr, other);
    // Counted from 1: the creator's reference and the two taken above.
    EXPECT_EQ(2u, unknown->Release());
    EXPECT_EQ(1u, asStream->Release());
    EXPECT_EQ(0u, stream->Release());
}

// --- Fuzz --------------------------------------------------------------------------------------------------

namespace {
int CountVisits(int, XmlNode *, const char *name, const char *text, void *context, XmlDocument *) {
    EXPECT_TRUE(name && text);
    ++*static_cast<int *>(context);
    return 0;
}

template <size_t n> std::string Pick(std::mt19937 &random, const char *const (&list)[n]) {
    return list[random() % n];
}

// A small random document: nested elements with attributes, text, comments, entities and odd bytes; when
// mutated, bytes are then changed, cut out, put in or repeated, and the text may be cut short.
std::string RandomDocument(std::mt19937 &random, int mutate) {
    static const char *const names[] = {"a", "b", "update", "files", "x", "A", "b2", "n-m"};
    static const char *const values[] = {"t", "1.0", "&amp;", "&lt;"};
    static const char *const texts[] = {
        "t", "1.0", "&amp;", "&lt;", "\xE9", "  ", "<![CDATA[<x>]]>", "&#x41;", "&#233;", "\\", "<!--c-->"};
    std::string out = random() % 3   ? ""
                      : random() % 2 ? "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
                                     : "<?xml version='1.0'?>";
    std::vector<std::string> open = {"a"};
    out += "<a>";
    for (int budget = 1 + random() % 40; budget > 0; --budget) {
        int what = random() % 4;
        if (what == 0) {
            open.push_back(Pick(random, names));
            out += "<" + open.back() +
                   (random() % 2 ? " " + Pick(random, names) + "=\"" + Pick(random, values) + "\"" : "") +
                   ">";
        } else if (what == 1 && open.size() > 1) {
            out += "</" + open.back() + ">";
            open.pop_back();
        } else {
            out += what == 2 ? Pick(random, texts) : "<" + Pick(random, names) + "/>";
        }
    }
    for (; !open.empty(); open.pop_back())
        out += "</" + open.back() + ">";
    for (int edits = mutate ? 1 + random() % 4 : 0; edits > 0 && !out.empty(); --edits) {
        size_t at = random() % out.size();
        int how = random() % 5;
        if (how == 0)
            out[at] = static_cast<char>(1 + random() % 255);
        else if (how == 1)
            out.erase(at, 1 + random() % 8);
        else if (how == 2)
            out.insert(at, 1, "<>&\"'/=?!\\"[random() % 10]);
        else if (how == 3)
            out.resize(at);
        else
            out.insert(at, out.substr(0, random() % (out.size() + 1)));
    }
    return out;
}

std::string RandomPath(std::mt19937 &random) {
    static const char *const steps[] = {"a", "b", "x", "update", "#text", "", "A", "missing", "#comment"};
    std::string path = random() % 2 ? "a\\" : "";
    for (int count = random() % 5; count > 0; --count)
        path += Pick(random, steps) + (random() % 4 ? "\\" : "\\\\");
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
            std::string text = RandomDocument(random, round % 2);
            if (!doc.LoadText(text.c_str()))
                continue;
            ++loaded;
            TextString out;
            std::string path = RandomPath(random);
            int read = doc.ReadValue(path.c_str(), out);
            found += read;
            // A failed read leaves nothing behind; only a path of no steps leaves the text alone.
            if (!read && path.find_first_not_of('\\') != std::string::npos) {
                EXPECT_STREQ("", out.Text()) << text << " " << path;
            }
            int visits = 0;
            EXPECT_EQ(0, doc.ForEachChild(RandomPath(random).c_str(), CountVisits, &visits));
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
