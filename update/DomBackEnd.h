// DomBackEnd: XmlBackEnd over the MSXML DOM (the newest of the document classes the system has).
//
// Classes: DomBackEnd. Functions: RemoveEncodingDeclaration.
#pragma once

#include "base/ComRef.h"
#include "update/XmlBackEnd.h"

class TextString;
struct IXMLDOMDocument;
struct IXMLDOMNode;

class DomBackEnd : public XmlBackEnd {
public:
    explicit DomBackEnd(XmlDocument *owner) : owner_(owner) {}
    ~DomBackEnd() override { Close(); }
    DomBackEnd(const DomBackEnd &) = delete;
    DomBackEnd &operator=(const DomBackEnd &) = delete;

    // Tries "Msxml2.DOMDocument.6.0", "Msxml2.DOMDocument.4.0", "Msxml.DOMDocument" in this order.
    int Open(uint32_t options) override;
    void Close() override;
    // Up to three attempts: as UTF-16, as the 8-bit bytes, and both again without the declaration's
    // encoding (for 8-bit text whose declaration names another encoding).
    int LoadText(const char *text) override;
    int LoadFile(const char *path) override;
    int NodeXml(XmlNode *node, TextString &out) override;
    int DocumentXml(TextString &out) override;
    int SaveFile(const char *path) override;
    int FindStep(const char *name, XmlNodeCallback callback, void *context, TextString *out,
                 XmlNode **current) override;
    int CreateChild(XmlNode *parent, const char *name, const char *text, XmlNode **out) override;
    int SetText(XmlNode *node, const char *text) override;
    int SetAttribute(XmlNode *node, const char *name, const char *text) override;
    int AddProcessingInstruction(const char *target, const char *data) override;
    int RemoveChild(XmlNode *parent, XmlNode *child) override;

    int IsOpen() const override { return document_ ? 1 : 0; }
    // The ProgID that Open created, or an empty text.
    const char *ClassName() const { return className_; }

    // The bytes of a UTF-8 document (or one whose declaration names its encoding), decoded once by the
    // parser; 1 when parsed.
    int LoadUtf8(const char *text);

private:
    int LoadUtf16(const char *text);
    int LoadBytes(const char *text);

    XmlDocument *owner_;
    ComRef<IXMLDOMDocument> document_;
    uint32_t options_ = 0;
    const char *className_ = "";
};

// The third load attempt's repair: deletes encoding="..." (or encoding='...') from the XML declaration that
// opens text, so that the parser takes the text as what it is. 1 when something was deleted. Only the
// declaration is searched: the same letters in the document's content are content.
int RemoveEncodingDeclaration(TextString &text);
