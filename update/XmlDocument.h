// XmlDocument: a small path-based view of an XML document ("update\files\execute"), over the platform's XML
// parser through COM: the DOM when a DOM class exists, the older object model otherwise.
//
// Classes: XmlDocument.
#pragma once

#include "base/ComInitializer.h"
#include "update/DomBackEnd.h"
#include "update/LegacyBackEnd.h"
#include "update/XmlBackEnd.h"

// Paths are split at '\'; empty steps are skipped. With no base node the first step names the root element
// itself; with a base node it names an attribute or child of that node. Attributes are searched before
// children, names compare without regard to letter case, and the step "#text" (exactly so) means the text of
// the node reached so far. A document belongs to the thread that called Init.
class XmlDocument {
public:
    XmlDocument() : dom_(this), legacy_(this) {}
    ~XmlDocument() { Close(); }
    XmlDocument(const XmlDocument &) = delete;
    XmlDocument &operator=(const XmlDocument &) = delete;

    // options: kXml* bits (the update check passes kXmlNoValidation | kXmlNoExternals). Starts COM on this
    // thread when not yet done and opens an empty document; 1 when a back end could be opened.
    int Init(uint32_t options);
    // Replaces the document with the parsed text (8-bit, system code page, with or without an encoding
    // declaration, even a mismatching one). 1 when parsed; after a 0 reads find nothing.
    int LoadText(const char *text);
    // Replaces the document with the parsed bytes of a UTF-8 text (or of one whose declaration names its
    // encoding): every text read afterwards was decoded exactly once, by the parser, and comes out in the
    // system code page. 1 when parsed.
    int LoadUtf8(const char *text);
    // The text of the node the path names. 1 when every step was found; else 0 with out emptied. An empty
    // path returns 0 and leaves out untouched.
    int ReadValue(const char *path, TextString &out, XmlNode *base = nullptr);
    // Shows every attribute (isAttribute 1), then every child node (0) of the node the path names to the
    // callback until it answers 1. With an empty path and no base, shows the root element once. 1 when the
    // callback answered 1.
    int ForEachChild(const char *path, XmlNodeCallback callback, void *context, XmlNode *base = nullptr);
    // The node the path names, creating the missing elements on the way; none when a step cannot be created
    // (such as a first step other than the existing root). The caller releases the node (ReleaseNode).
    XmlNode *FindOrCreatePath(const char *path, XmlNode *base = nullptr);
    // Releases the document and undoes this object's COM start. Also done by the destructor.
    void Close();

    // Gives back a node's reference; none is fine.
    static void ReleaseNode(XmlNode *node);

    // The back end Init chose, or none: the further operations (files, serialised text, node changes).
    XmlBackEnd *BackEnd() const { return active_; }
    int UsesLegacy() const { return active_ == &legacy_; }

private:
    XmlBackEnd *active_ = nullptr;
    DomBackEnd dom_;
    LegacyBackEnd legacy_;
    ComInitializer com_;
};
