// DomBackEnd: the XML document over the MSXML DOM.
#include "update/DomBackEnd.h"
#include "base/ComInitializer.h"
#include "base/TextString.h"
#include <msxml2.h>
#include <cstring>

namespace {
// The documented interface ids; the import libraries of the toolchain do not carry them.
const IID kIidDomNode = {0x2933BF80, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
const IID kIidDomDocument = {0x2933BF81, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
const IID kIidDomDocument2 = {0x2933BF95, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};

const char *const kProgIds[] = {"Msxml2.DOMDocument.6.0", "Msxml2.DOMDocument.4.0", "Msxml.DOMDocument"};

// A borrowed node as a DOM node of our own reference; none when it is not one.
IXMLDOMNode *AsDomNode(XmlNode *node) {
    IXMLDOMNode *dom = nullptr;
    if (!node || FAILED(node->QueryInterface(kIidDomNode, reinterpret_cast<void **>(&dom))))
        return nullptr;
    return dom;
}

void TakeBstr(BSTR owned, TextString &out) {
    BstrHolder holder(owned);
    out.Assign(static_cast<const wchar_t *>(owned));
}

void NameOf(IXMLDOMNode *node, TextString &out) {
    BSTR name = nullptr;
    if (FAILED(node->get_nodeName(&name)))
        name = nullptr;
    TakeBstr(name, out);
}

void TextOf(IXMLDOMNode *node, TextString &out) {
    BSTR text = nullptr;
    if (FAILED(node->get_text(&text)))
        text = nullptr;
    TakeBstr(text, out);
}

BstrHolder BstrOf(const char *text) {
    TextString copy;
    copy.Assign(text);
    return copy.ToBstr();
}

void Empty(TextString *out) {
    if (out)
        out->Assign("");
}

// Looks through one collection of nodes (attributes or children) for name, or shows each to the callback.
// 1 when found or stopped by the callback; -1 when the collection was gone through.
template <typename Collection>
int SearchNodes(Collection *nodes, int isAttribute, const char *name, XmlNodeCallback callback, void *context,
                XmlDocument *owner, TextString *out, XmlNode **current) {
    long count = 0;
    if (!nodes || FAILED(nodes->get_length(&count)))
        return -1;
    TextString nodeName, text;
    for (long i = 0; i < count; ++i) {
        ComRef<IXMLDOMNode> item;
        if (FAILED(nodes->get_item(i, item.Receive())) || !item)
            continue;
        NameOf(item.Get(), nodeName);
        if (name && nodeName.CompareNoCase(name) == 0) {
            if (out)
                TextOf(item.Get(), *out);
            MoveToNode(current, item.Detach());
            return 1;
        }
        if (callback) {
            TextOf(item.Get(), text);
            if (callback(isAttribute, item.Get(), nodeName.Text(), text.Text(), context, owner) == 1)
                return 1;
        }
    }
    return -1;
}

// A VARIANT argument for load or save; it borrows what it points to.
VARIANT Argument(VARTYPE type) {
    VARIANT argument;
    VariantInit(&argument);
    V_VT(&argument) = type;
    return argument;
}
} // namespace

int RemoveEncodingDeclaration(TextString &text) {
    if (text.Length() < 5 || text.CompareNoCase("<?xml", 5) != 0)
        return 0;
    int end = text.FindNoCase("?>");
    if (end < 0)
        return 0;
    char quote = '"';
    int token = text.FindNoCase("encoding=\"");
    if (token < 0 || token > end) {
        quote = '\'';
        token = text.FindNoCase("encoding='");
    }
    if (token < 0 || token > end)
        return 0;
    // The value starts right after the token and its opening quote (10 characters).
    const char *start = text.At(token + 10);
    const char *close = strchr(start, quote);
    if (!close || close >= text.At(end))
        return 0;
    text.Delete(token, static_cast<int>(close - text.At(token)) + 1);
    return 1;
}

int DomBackEnd::Open(uint32_t options) {
    Close();
    for (const char *progId : kProgIds) {
        if (CreateComObject(progId, kIidDomDocument, document_.ReceiveVoid())) {
            className_ = progId;
            break;
        }
    }
    if (!document_)
        return 0;
    options_ = options;
    document_->put_async(VARIANT_FALSE);
    if (options & kXmlNoExternals)
        document_->put_resolveExternals(VARIANT_FALSE);
    if (options & kXmlNoValidation)
        document_->put_validateOnParse(VARIANT_FALSE);
    ComRef<IXMLDOMDocument2> document2;
    if (SUCCEEDED(document_->QueryInterface(kIidDomDocument2, document2.ReceiveVoid())) && document2) {
        // The older classes allow document type definitions by default; say it in every case.
        VARIANT prohibit = Argument(VT_BOOL);
        V_BOOL(&prohibit) = (options & kXmlAllowDtd) ? VARIANT_FALSE : VARIANT_TRUE;
        document2->setProperty(BstrOf("ProhibitDTD").Get(), prohibit);
    }
    return 1;
}

void DomBackEnd::Close() {
    document_.Reset();
    className_ = "";
}

// 1 parsed, 0 refused, -1 no memory for the stream.
int DomBackEnd::LoadUtf16(const char *text) {
    TextString copy;
    if (!copy.Assign(text))
        return -1;
    const wchar_t *wide = copy.Wide();
    if (!wide)
        return -1;
    size_t bytes = wcslen(wide) * sizeof(wchar_t);
    // A byte-order mark in front: without one a parser recognises UTF-16 only when the text starts with a
    // declaration, and "<a>..." would be read as 8-bit. Movable memory, as streams over global memory
    // require; the stream owns the block from here on.
    const wchar_t kByteOrderMark = 0xFEFF;
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, sizeof(kByteOrderMark) + bytes);
    if (!block)
        return -1;
    char *target = static_cast<char *>(GlobalLock(block));
    if (!target) {
        GlobalFree(block);
        return -1;
    }
    memcpy(target, &kByteOrderMark, sizeof(kByteOrderMark));
    memcpy(target + sizeof(kByteOrderMark), wide, bytes);
    GlobalUnlock(block);
    ComRef<IStream> stream;
    if (FAILED(CreateStreamOnHGlobal(block, TRUE, stream.Receive())) || !stream) {
        GlobalFree(block);
        return -1;
    }
    VARIANT source = Argument(VT_UNKNOWN);
    V_UNKNOWN(&source) = stream.Get();
    VARIANT_BOOL parsed = VARIANT_FALSE;
    HRESULT result = document_->load(source, &parsed);
    return SUCCEEDED(result) && parsed == VARIANT_TRUE;
}

int DomBackEnd::LoadBytes(const char *text) {
    size_t length = strlen(text);
    SAFEARRAY *bytes = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(length));
    if (!bytes)
        return -1;
    void *data = nullptr;
    if (FAILED(SafeArrayAccessData(bytes, &data))) {
        SafeArrayDestroy(bytes);
        return -1;
    }
    memcpy(data, text, length);
    SafeArrayUnaccessData(bytes);
    VARIANT source = Argument(VT_ARRAY | VT_UI1);
    V_ARRAY(&source) = bytes;
    VARIANT_BOOL parsed = VARIANT_FALSE;
    HRESULT result = document_->load(source, &parsed);
    SafeArrayDestroy(bytes);
    return SUCCEEDED(result) && parsed == VARIANT_TRUE;
}

int DomBackEnd::LoadUtf8(const char *text) {
    if (!document_)
        return 0;
    if (!text || (!(options_ & kXmlAllowDtd) && HasDocumentType(text))) {
        LoadBytes("");
        return 0;
    }
    // Never as text of the system code page: that form hands UTF-8 back undecoded, while this one decodes.
    return LoadBytes(text) == 1;
}

int DomBackEnd::LoadText(const char *text) {
    if (!document_)
        return 0;
    if (!text || (!(options_ & kXmlAllowDtd) && HasDocumentType(text))) {
        // Refused before the parser saw it; like any refused text it leaves an empty document.
        LoadBytes("");
        return 0;
    }
    TextString changed;
    const char *attempt = text;
    for (int round = 0; round < 2; ++round) {
        int result = LoadUtf16(attempt);
        if (result == 1)
            return 1;
        if (result < 0)
            return 0;
        result = LoadBytes(attempt);
        if (result == 1)
            return 1;
        if (result < 0 || round == 1)
            return 0;
        // Both forms refused: an 8-bit text whose declaration names another encoding gets one more try
        // without it.
        if (!changed.Assign(text) || !RemoveEncodingDeclaration(changed))
            return 0;
        attempt = changed.Text();
    }
    return 0;
}

int DomBackEnd::LoadFile(const char *path) {
    if (!document_ || !path)
        return 0;
    BstrHolder name = BstrOf(path);
    VARIANT source = Argument(VT_BSTR);
    V_BSTR(&source) = name.Get();
    VARIANT_BOOL parsed = VARIANT_FALSE;
    return document_->load(source, &parsed) == S_OK && parsed == VARIANT_TRUE;
}

int DomBackEnd::NodeXml(XmlNode *node, TextString &out) {
    ComRef<IXMLDOMNode> dom(AsDomNode(node));
    BSTR xml = nullptr;
    if (!dom || FAILED(dom->get_xml(&xml)) || !xml) {
        out.Assign("");
        return 0;
    }
    TakeBstr(xml, out);
    return 1;
}

int DomBackEnd::DocumentXml(TextString &out) {
    BSTR xml = nullptr;
    if (!document_ || FAILED(document_->get_xml(&xml)) || !xml) {
        out.Assign("");
        return 0;
    }
    TakeBstr(xml, out);
    return 1;
}

int DomBackEnd::SaveFile(const char *path) {
    if (!document_ || !path)
        return 0;
    BstrHolder name = BstrOf(path);
    VARIANT target = Argument(VT_BSTR);
    V_BSTR(&target) = name.Get();
    return SUCCEEDED(document_->save(target));
}

int DomBackEnd::FindStep(const char *name, XmlNodeCallback callback, void *context, TextString *out,
                         XmlNode **current) {
    if (!document_ || !current) {
        Empty(out);
        return 0;
    }
    if (!*current) {
        ComRef<IXMLDOMElement> root;
        if (FAILED(document_->get_documentElement(root.Receive())) || !root) {
            Empty(out);
            return 0;
        }
        TextString nodeName;
        NameOf(root.Get(), nodeName);
        const int result = RootStep(
            root.Get(), nodeName,
            [](XmlNode *node, TextString &text) { TextOf(static_cast<IXMLDOMElement *>(node), text); }, name,
            callback, context, out, current, owner_);
        if (*current == root.Get())
            root.Detach();
        return result;
    }
    ComRef<IXMLDOMNode> node(AsDomNode(*current));
    if (!node) {
        Empty(out);
        return 0;
    }
    if (name && strcmp(name, "#text") == 0) {
        if (out)
            TextOf(node.Get(), *out);
        return 1;
    }
    ComRef<IXMLDOMNamedNodeMap> attributes;
    if (SUCCEEDED(node->get_attributes(attributes.Receive())) &&
        SearchNodes(attributes.Get(), 1, name, callback, context, owner_, out, current) == 1)
        return 1;
    ComRef<IXMLDOMNodeList> children;
    if (SUCCEEDED(node->get_childNodes(children.Receive())) &&
        SearchNodes(children.Get(), 0, name, callback, context, owner_, out, current) == 1)
        return 1;
    Empty(out);
    return 0;
}

int DomBackEnd::CreateChild(XmlNode *parent, const char *name, const char *text, XmlNode **out) {
    if (out)
        *out = nullptr;
    if (!document_ || !IsPlainXmlName(name))
        return 0;
    ComRef<IXMLDOMNode> parentNode;
    if (parent) {
        parentNode.Reset(AsDomNode(parent));
        if (!parentNode)
            return 0;
    } else {
        // A document has one root; some parser versions would append a second one all the same.
        ComRef<IXMLDOMElement> root;
        if (SUCCEEDED(document_->get_documentElement(root.Receive())) && root)
            return 0;
    }
    ComRef<IXMLDOMElement> element;
    if (FAILED(document_->createElement(BstrOf(name).Get(), element.Receive())) || !element)
        return 0;
    if (text && FAILED(element->put_text(BstrOf(text).Get())))
        return 0;
    ComRef<IXMLDOMNode> appended;
    HRESULT result = parentNode ? parentNode->appendChild(element.Get(), appended.Receive())
                                : document_->appendChild(element.Get(), appended.Receive());
    if (FAILED(result) || !appended)
        return 0;
    if (out)
        *out = appended.Detach();
    return 1;
}

int DomBackEnd::SetText(XmlNode *node, const char *text) {
    ComRef<IXMLDOMNode> dom(AsDomNode(node));
    return dom && SUCCEEDED(dom->put_text(BstrOf(text).Get()));
}

int DomBackEnd::SetAttribute(XmlNode *node, const char *name, const char *text) {
    ComRef<IXMLDOMNode> dom(AsDomNode(node));
    if (!document_ || !dom || !IsPlainXmlName(name))
        return 0;
    ComRef<IXMLDOMAttribute> attribute;
    if (FAILED(document_->createAttribute(BstrOf(name).Get(), attribute.Receive())) || !attribute ||
        FAILED(attribute->put_text(BstrOf(text).Get())))
        return 0;
    ComRef<IXMLDOMNamedNodeMap> attributes;
    if (FAILED(dom->get_attributes(attributes.Receive())) || !attributes)
        return 0;
    ComRef<IXMLDOMNode> replaced;
    return SUCCEEDED(attributes->setNamedItem(attribute.Get(), replaced.Receive()));
}

int DomBackEnd::AddProcessingInstruction(const char *target, const char *data) {
    if (!document_ || !target || !*target)
        return 0;
    ComRef<IXMLDOMProcessingInstruction> instruction;
    if (FAILED(document_->createProcessingInstruction(BstrOf(target).Get(), BstrOf(data).Get(),
                                                      instruction.Receive())) ||
        !instruction)
        return 0;
    ComRef<IXMLDOMNode> appended;
    return SUCCEEDED(document_->appendChild(instruction.Get(), appended.Receive())) && appended;
}

int DomBackEnd::RemoveChild(XmlNode *parent, XmlNode *child) {
    ComRef<IXMLDOMNode> childNode(AsDomNode(child));
    if (!document_ || !childNode)
        return 0;
    ComRef<IXMLDOMNode> removed;
    HRESULT result;
    if (parent) {
        ComRef<IXMLDOMNode> parentNode(AsDomNode(parent));
        if (!parentNode)
            return 0;
        result = parentNode->removeChild(childNode.Get(), removed.Receive());
    } else {
        result = document_->removeChild(childNode.Get(), removed.Receive());
    }
    return SUCCEEDED(result) && removed;
}
