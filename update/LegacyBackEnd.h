// LegacyBackEnd: XmlBackEnd over the older XML object model (IXMLDocument), for systems without a DOM class.
//
// Classes: LegacyBackEnd.
#pragma once

#include "base/ComRef.h"
#include "base/TextString.h"
#include "update/XmlBackEnd.h"

struct IXMLDocument;

class LegacyBackEnd : public XmlBackEnd {
public:
    explicit LegacyBackEnd(XmlDocument *owner) : owner_(owner) {}
    ~LegacyBackEnd() override { Close(); }
    LegacyBackEnd(const LegacyBackEnd &) = delete;
    LegacyBackEnd &operator=(const LegacyBackEnd &) = delete;

    // This parser has no options of its own; only kXmlAllowDtd is kept, for our own check.
    int Open(uint32_t options) override;
    void Close() override;
    int LoadText(const char *text) override;
    int LoadFile(const char *path) override;
    // Not offered by this object model: always 0.
    int NodeXml(XmlNode *node, TextString &out) override;
    int DocumentXml(TextString &out) override;
    int SaveFile(const char *path) override;
    int FindStep(const char *name, XmlNodeCallback callback, void *context, TextString *out,
                 XmlNode **current) override;
    int CreateChild(XmlNode *parent, const char *name, const char *text, XmlNode **out) override;
    int SetText(XmlNode *node, const char *text) override;
    int SetAttribute(XmlNode *node, const char *name, const char *text) override;
    // Kept until the next root element is created, which it then precedes.
    int AddProcessingInstruction(const char *target, const char *data) override;
    int RemoveChild(XmlNode *parent, XmlNode *child) override;

    int IsOpen() const override { return document_ ? 1 : 0; }

private:
    // The text through the document's persistence interface, as it is.
    int Parse(const char *text);

    XmlDocument *owner_;
    ComRef<IXMLDocument> document_;
    uint32_t options_ = 0;
    TextString pending_;
};
