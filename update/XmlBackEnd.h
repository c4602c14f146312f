// XmlBackEnd: the interface every XML parser behind XmlDocument offers; nodes, the node callback and the
// options that both back ends understand.
//
// Classes: XmlBackEnd. Types: XmlNode, XmlNodeCallback.
#pragma once

#include "base/Win.h"
#include <objbase.h>
#include <cstdint>
#include <vector>

class TextString;
class XmlDocument;

// A node is a reference-counted COM pointer of the back end's own family (IXMLDOMNode for the DOM,
// IXMLElement or IXMLAttribute for the legacy model). Whoever receives one from FindOrCreatePath or
// CreateChild owns a reference and releases it (XmlDocument::ReleaseNode); nodes passed in are borrowed.
typedef IUnknown XmlNode;

// Called for each node a walk visits: isAttribute is 1 for attributes, 0 for elements and other child nodes
// (text nodes are named "#text"). Returning 1 stops the walk; anything else continues it. node, name and
// text are valid only during the call.
typedef int (*XmlNodeCallback)(int isAttribute, XmlNode *node, const char *name, const char *text,
                               void *context, XmlDocument *document);

// Init options.
enum : uint32_t {
    kXmlNoValidation = 0x1,
    kXmlNoExternals = 0x2,
    // Document type definitions are refused unless this is given.
    kXmlAllowDtd = 0x4,
    // Skip the DOM and open the older object model directly (what systems without a DOM class get).
    kXmlLegacyOnly = 0x8,
};

class XmlBackEnd {
public:
    // Creates the parser's document object; releases any previous one first.
    virtual int Open(uint32_t options) = 0;
    virtual void Close() = 0;
    virtual int LoadText(const char *text) = 0;
    virtual int LoadFile(const char *path) = 0;
    virtual int NodeXml(XmlNode *node, TextString &out) = 0;
    virtual int DocumentXml(TextString &out) = 0;
    virtual int SaveFile(const char *path) = 0;
    // 1 while a document object is open.
    virtual int IsOpen() const = 0;
    // Path steps split at '\' (empty steps skipped). With no base the first step names the root element.
    // Both walks are built on FindStep alone, and so are the same for every back end.
    int ReadValue(const char *path, TextString &out, XmlNode *base);
    // One step of a walk from *current (none: the root element). With a name: looks for an attribute, then a
    // child of that name (letter case ignored; "#text" is the current node's own text), moves *current there
    // and fills out. With no name: shows every attribute and child to the callback. 1 when found or when
    // the callback answered 1; out (when given) is emptied on 0. *current holds one reference.
    virtual int FindStep(const char *name, XmlNodeCallback callback, void *context, TextString *out,
                         XmlNode **current) = 0;
    int ForEachChild(const char *path, XmlNodeCallback callback, void *context, XmlNode *base);
    // Appends a new element (with text when given) to parent, or makes it the root when parent is none and
    // the document has no root yet. *out receives the new node with a reference.
    virtual int CreateChild(XmlNode *parent, const char *name, const char *text, XmlNode **out) = 0;
    virtual int SetText(XmlNode *node, const char *text) = 0;
    virtual int SetAttribute(XmlNode *node, const char *name, const char *text) = 0;
    virtual int AddProcessingInstruction(const char *target, const char *data) = 0;
    virtual int RemoveChild(XmlNode *parent, XmlNode *child) = 0;
    virtual ~XmlBackEnd() = default;

protected:
    // The first step of a walk, which names the root element: matched by name, shown to the callback, its
    // text into out. The root's text is all the text of the document, so textOf runs only when someone takes
    // it. Only a matching root becomes *current (root's reference passes to it; otherwise the caller keeps
    // and releases it): a failed first step leaves nothing to build on.
    int RootStep(XmlNode *root, const TextString &rootName, void (*textOf)(XmlNode *, TextString &),
                 const char *name, XmlNodeCallback callback, void *context, TextString *out,
                 XmlNode **current, XmlDocument *owner);
};

// 1 when text declares a document type. Our own check, whatever the parser: a hostile document type
// (entities nested into billions of characters) must not reach a parser that would expand it.
int HasDocumentType(const char *text);

// 1 for a name that can stand in a tag: not empty, no white space, no markup or punctuation characters.
// Checked before creating elements and attributes: not every parser refuses such names, and a document
// holding one could not be read back (nor, where names are written into a text, stay the same document).
int IsPlainXmlName(const char *name);

// The steps of path, split at '\' (multibyte-aware, empty steps skipped) into copy before any node is
// visited, so that a callback may walk paths of its own meanwhile. steps point into copy.
void SplitXmlPath(const char *path, TextString &copy, std::vector<const char *> &steps);

// Makes node (its reference taken over) a walk's current node and gives back the reference to the one before.
void MoveToNode(XmlNode **current, XmlNode *node);
