// LegacyBackEnd: the XML document over the older XML object model.
#include "update/LegacyBackEnd.h"

#include <new>
#include "base/ComInitializer.h"
#include "base/DiskFile.h"
#include "update/MemoryStream.h"
#include <msxml2.h>
#include <ocidl.h>
#include <cstring>
#include <utility>

namespace {
// The documented class and interface ids; the import libraries of the toolchain do not carry them.
const CLSID kClsidXmlDocument = {
    0xCFC399AF, 0xD876, 0x11D0, {0x9C, 0x10, 0x00, 0xC0, 0x4F, 0xC9, 0x9C, 0x8E}};
const IID kIidXmlDocument = {0xF52E2B61, 0x18A1, 0x11D1, {0xB1, 0x05, 0x00, 0x80, 0x5F, 0x49, 0x91, 0x6B}};
const IID kIidXmlElement = {0x3F7F31AC, 0xE15F, 0x11D0, {0x9C, 0x25, 0x00, 0xC0, 0x4F, 0xC9, 0x9C, 0x8E}};
const IID kIidXmlElement2 = {0x2B8DE2FF, 0x8D2D, 0x11D1, {0xB2, 0xFC, 0x00, 0xC0, 0x4F, 0xD9, 0x15, 0xA9}};
const IID kIidXmlAttribute = {0xD4D4A0FC, 0x3B73, 0x11D1, {0xB2, 0xB4, 0x00, 0xC0, 0x4F, 0xB9, 0x25, 0x96}};
const IID kIidPersistStreamInit = {
    0x7FD52380, 0x4E07, 0x101B, {0xAE, 0x2D, 0x08, 0x00, 0x2B, 0x2E, 0xC7, 0x13}};
const IID kIidPersistStream = {0x00000109, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

template <typename T> T *As(IUnknown *node, REFIID iid) {
    T *typed = nullptr;
    if (!node || FAILED(node->QueryInterface(iid, reinterpret_cast<void **>(&typed))))
        return nullptr;
    return typed;
}

void TakeBstr(BSTR owned, TextString &out) {
    BstrHolder holder(owned);
    out.Assign(static_cast<const wchar_t *>(owned));
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

// Only elements are asked for their tag name: some versions of the object model fail on a node without a
// name (a CDATA section) by reading through a null pointer.
void ElementName(IXMLElement *element, TextString &out) {
    long type = -1;
    BSTR name = nullptr;
    if (FAILED(element->get_type(&type)) || type != XMLELEMTYPE_ELEMENT ||
        FAILED(element->get_tagName(&name)))
        name = nullptr;
    TakeBstr(name, out);
}

void ElementText(IXMLElement *element, TextString &out) {
    BSTR text = nullptr;
    if (FAILED(element->get_text(&text)))
        text = nullptr;
    TakeBstr(text, out);
}

VARIANT IndexArgument(long index) {
    VARIANT argument;
    VariantInit(&argument);
    V_VT(&argument) = VT_I4;
    V_I4(&argument) = index;
    return argument;
}

// The object model saves and loads through IPersistStreamInit; some versions only answer IPersistStream,
// whose Load and Save sit in the same places.
IPersistStreamInit *Persistence(IXMLDocument *document) {
    IPersistStreamInit *persist = As<IPersistStreamInit>(document, kIidPersistStreamInit);
    if (!persist)
        persist = As<IPersistStreamInit>(document, kIidPersistStream);
    return persist;
}

// An attribute found by name on an element that cannot list its attributes (some versions of the object
// model have no IXMLElement2). Standing in for the attribute node, it ends the walk there as a real one
// would: it has neither attributes nor children.
class FoundAttribute : public IXMLAttribute {
public:
    FoundAttribute(const wchar_t *name, const wchar_t *value)
        : name_(SysAllocString(name)), value_(SysAllocString(value)) {}
    FoundAttribute(const FoundAttribute &) = delete;
    FoundAttribute &operator=(const FoundAttribute &) = delete;

    HRESULT WINAPI QueryInterface(REFIID iid, void **out) override {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IDispatch) &&
            !IsEqualIID(iid, kIidXmlAttribute))
            return E_NOINTERFACE;
        *out = static_cast<IXMLAttribute *>(this);
        AddRef();
        return S_OK;
    }
    ULONG WINAPI AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&references_)); }
    ULONG WINAPI Release() override {
        LONG left = InterlockedDecrement(&references_);
        if (left == 0)
            delete this;
        return static_cast<ULONG>(left);
    }
    HRESULT WINAPI GetTypeInfoCount(UINT *count) override {
        if (count)
            *count = 0;
        return E_NOTIMPL;
    }
    HRESULT WINAPI GetTypeInfo(UINT, LCID, ITypeInfo **) override { return E_NOTIMPL; }
    HRESULT WINAPI GetIDsOfNames(REFIID, LPOLESTR *, UINT, LCID, DISPID *) override { return E_NOTIMPL; }
    HRESULT WINAPI Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS *, VARIANT *, EXCEPINFO *, UINT *) override {
        return E_NOTIMPL;
    }
    HRESULT WINAPI get_name(BSTR *name) override { return Copy(name_, name); }
    HRESULT WINAPI get_value(BSTR *value) override { return Copy(value_, value); }

private:
    virtual ~FoundAttribute() {
        SysFreeString(name_);
        SysFreeString(value_);
    }
    static HRESULT Copy(BSTR from, BSTR *to) {
        if (!to)
            return E_POINTER;
        *to = SysAllocString(from);
        return *to ? S_OK : E_OUTOFMEMORY;
    }

    LONG references_ = 1;
    BSTR name_, value_;
};

// The named attribute of an element through IXMLElement alone; 1 when found, with *current moved to it.
int FindAttributeByName(IXMLElement *element, const char *name, TextString *out, XmlNode **current) {
    TextString copy;
    copy.Assign(name);
    BstrHolder wideName = copy.ToBstr();
    VARIANT value;
    VariantInit(&value);
    if (element->getAttribute(wideName.Get(), &value) != S_OK || V_VT(&value) != VT_BSTR || !V_BSTR(&value)) {
        VariantClear(&value);
        return 0;
    }
    if (out)
        out->Assign(static_cast<const wchar_t *>(V_BSTR(&value)));
    FoundAttribute *attribute = new (std::nothrow) FoundAttribute(wideName.Get(), V_BSTR(&value));
    VariantClear(&value);
    if (!attribute)
        return 0;
    MoveToNode(current, static_cast<IXMLAttribute *>(attribute));
    return 1;
}

// Appends child as the last child of parent. Some versions of the object model accept the index -1 ("at the
// end") and then do nothing with it; the child is then added with index 0, which those versions append.
int AppendChild(IXMLElement *parent, IXMLElement *child) {
    if (FAILED(parent->addChild(child, -1, -1)))
        return 0;
    ComRef<IXMLElement> attached;
    if (SUCCEEDED(child->get_parent(attached.Receive())) && attached)
        return 1;
    return SUCCEEDED(parent->addChild(child, 0, -1)) && SUCCEEDED(child->get_parent(attached.Receive())) &&
           attached;
}

// Goes through the items of one collection, as attributes or as child elements.
int SearchItems(IXMLElementCollection *items, int isAttribute, const char *name, XmlNodeCallback callback,
                void *context, XmlDocument *owner, TextString *out, XmlNode **current) {
    long count = 0;
    if (!items || FAILED(items->get_length(&count)))
        return -1;
    TextString itemName, text;
    for (long i = 0; i < count; ++i) {
        VARIANT empty;
        VariantInit(&empty);
        ComRef<IDispatch> item;
        if (FAILED(items->item(IndexArgument(i), empty, item.Receive())) || !item)
            continue;
        IUnknown *node = nullptr;
        if (isAttribute) {
            ComRef<IXMLAttribute> attribute(As<IXMLAttribute>(item.Get(), kIidXmlAttribute));
            if (!attribute)
                continue;
            BSTR value = nullptr;
            if (FAILED(attribute->get_name(&value)))
                value = nullptr;
            TakeBstr(value, itemName);
            value = nullptr;
            if (FAILED(attribute->get_value(&value)))
                value = nullptr;
            TakeBstr(value, text);
            node = attribute.Detach();
        } else {
            ComRef<IXMLElement> element(As<IXMLElement>(item.Get(), kIidXmlElement));
            if (!element)
                continue;
            ElementName(element.Get(), itemName);
            ElementText(element.Get(), text);
            node = element.Detach();
        }
        ComRef<IUnknown> held(node);
        if (name && itemName.CompareNoCase(name) == 0) {
            if (out)
                out->Assign(&text);
            MoveToNode(current, held.Detach());
            return 1;
        }
        if (callback && callback(isAttribute, node, itemName.Text(), text.Text(), context, owner) == 1)
            return 1;
    }
    return -1;
}
} // namespace

int LegacyBackEnd::Open(uint32_t options) {
    Close();
    options_ = options;
    pending_.Assign("");
    return CreateComObject(kClsidXmlDocument, kIidXmlDocument, document_.ReceiveVoid());
}

void LegacyBackEnd::Close() {
    document_.Reset();
}

int LegacyBackEnd::LoadText(const char *text) {
    if (!document_)
        return 0;
    // An empty text is no document; some versions take it without a word and keep the old one. Like any
    // refused text it leaves an empty document: a fresh one.
    if (!text || !*text || (!(options_ & kXmlAllowDtd) && HasDocumentType(text))) {
        ComRef<IXMLDocument> fresh;
        if (CreateComObject(kClsidXmlDocument, kIidXmlDocument, fresh.ReceiveVoid()))
            document_ = std::move(fresh);
        return 0;
    }
    return Parse(text);
}

int LegacyBackEnd::Parse(const char *text) {
    ComRef<IPersistStreamInit> persist(Persistence(document_.Get()));
    if (!persist)
        return 0;
    ComRef<MemoryStream> stream(new (std::nothrow) MemoryStream(text));
    if (!stream)
        return 0;
    HRESULT result = persist->Load(stream.Get());
    stream.Reset();
    return SUCCEEDED(result);
}

int LegacyBackEnd::LoadFile(const char *path) {
    return document_ && path && SUCCEEDED(document_->put_URL(BstrOf(path).Get()));
}

int LegacyBackEnd::NodeXml(XmlNode *, TextString &out) {
    out.Assign("");
    return 0;
}

int LegacyBackEnd::DocumentXml(TextString &out) {
    out.Assign("");
    ComRef<IPersistStreamInit> persist(document_ ? Persistence(document_.Get()) : nullptr);
    if (!persist)
        return 0;
    ComRef<MemoryStream> stream(new (std::nothrow) MemoryStream());
    if (!stream)
        return 0;
    HRESULT result = persist->Save(stream.Get(), TRUE);
    if (SUCCEEDED(result))
        out.Assign(&stream->Text());
    return SUCCEEDED(result);
}

int LegacyBackEnd::SaveFile(const char *path) {
    TextString xml;
    if (!path || !DocumentXml(xml))
        return 0;
    DiskFile file;
    if (!file.Open(path, DiskFile::WriteCreate, FILE_ATTRIBUTE_NORMAL, 0))
        return 0;
    int written = file.Write(static_cast<uint32_t>(xml.Length()), nullptr, xml.Text());
    return file.Close() && written;
}

int LegacyBackEnd::FindStep(const char *name, XmlNodeCallback callback, void *context, TextString *out,
                            XmlNode **current) {
    if (!document_ || !current) {
        Empty(out);
        return 0;
    }
    if (!*current) {
        ComRef<IXMLElement> root;
        if (FAILED(document_->get_root(root.Receive())) || !root) {
            Empty(out);
            return 0;
        }
        TextString rootName;
        ElementName(root.Get(), rootName);
        const int result = RootStep(
            root.Get(), rootName,
            [](XmlNode *node, TextString &text) { ElementText(static_cast<IXMLElement *>(node), text); },
            name, callback, context, out, current, owner_);
        if (*current == root.Get())
            root.Detach();
        return result;
    }
    ComRef<IXMLElement> element(As<IXMLElement>(*current, kIidXmlElement));
    ComRef<IXMLElement2> withAttributes(As<IXMLElement2>(*current, kIidXmlElement2));
    ComRef<IXMLElementCollection> attributes;
    if (withAttributes) {
        if (SUCCEEDED(withAttributes->get_attributes(attributes.Receive())) &&
            SearchItems(attributes.Get(), 1, name, callback, context, owner_, out, current) == 1)
            return 1;
    } else if (element && name && FindAttributeByName(element.Get(), name, out, current)) {
        // Without the list, callbacks cannot be shown the attributes; a named step still finds its one.
        return 1;
    }
    ComRef<IXMLElementCollection> children;
    if (element && SUCCEEDED(element->get_children(children.Receive())) &&
        SearchItems(children.Get(), 0, name, callback, context, owner_, out, current) == 1)
        return 1;
    Empty(out);
    return 0;
}

int LegacyBackEnd::CreateChild(XmlNode *parent, const char *name, const char *text, XmlNode **out) {
    if (out)
        *out = nullptr;
    if (!document_ || !IsPlainXmlName(name))
        return 0;
    ComRef<IXMLElement> created;
    if (parent) {
        ComRef<IXMLElement> parentElement(As<IXMLElement>(parent, kIidXmlElement));
        if (!parentElement)
            return 0;
        VARIANT type = IndexArgument(XMLELEMTYPE_ELEMENT);
        BstrHolder tag = BstrOf(name);
        VARIANT tagName;
        VariantInit(&tagName);
        V_VT(&tagName) = VT_BSTR;
        V_BSTR(&tagName) = tag.Get();
        if (FAILED(document_->createElement(type, tagName, created.Receive())) || !created)
            return 0;
        // Some versions create every element without a name (and cannot rename it); such an element is never
        // attached, so a failed creation leaves the document as it was.
        TextString createdName;
        ElementName(created.Get(), createdName);
        if (createdName.CompareNoCase(name) != 0) {
            created->put_tagName(tag.Get());
            ElementName(created.Get(), createdName);
            if (createdName.CompareNoCase(name) != 0)
                return 0;
        }
        if ((text && !SetText(created.Get(), text)) || !AppendChild(parentElement.Get(), created.Get()))
            return 0;
        if (out)
            *out = created.Detach();
        return 1;
    } else {
        // The root comes from a document text of its own; loading it would replace a root already there,
        // and a document has only one.
        ComRef<IXMLElement> root;
        if (SUCCEEDED(document_->get_root(root.Receive())) && root)
            return 0;
        TextString markup;
        if (!markup.Format("%s<%s></%s>", pending_.Text(), name, name) || !LoadText(markup.Text()) ||
            FAILED(document_->get_root(created.Receive())) || !created)
            return 0;
    }
    if (text && !SetText(created.Get(), text))
        return 0;
    if (out)
        *out = created.Detach();
    return 1;
}

int LegacyBackEnd::SetText(XmlNode *node, const char *text) {
    ComRef<IXMLElement> element(As<IXMLElement>(node, kIidXmlElement));
    if (!document_ || !element)
        return 0;
    ComRef<IXMLElementCollection> children;
    long count = 0;
    if (SUCCEEDED(element->get_children(children.Receive())) && children &&
        SUCCEEDED(children->get_length(&count))) {
        // The collection is live: always the first one, as often as there were children.
        for (long i = 0; i < count; ++i) {
            VARIANT empty;
            VariantInit(&empty);
            ComRef<IDispatch> item;
            if (FAILED(children->item(IndexArgument(0), empty, item.Receive())) || !item)
                break;
            ComRef<IXMLElement> child(As<IXMLElement>(item.Get(), kIidXmlElement));
            if (!child || FAILED(element->removeChild(child.Get())))
                break;
        }
    }
    VARIANT type = IndexArgument(XMLELEMTYPE_TEXT);
    VARIANT none;
    VariantInit(&none);
    ComRef<IXMLElement> textElement;
    if (FAILED(document_->createElement(type, none, textElement.Receive())) || !textElement ||
        FAILED(textElement->put_text(BstrOf(text).Get())))
        return 0;
    return AppendChild(element.Get(), textElement.Get());
}

int LegacyBackEnd::SetAttribute(XmlNode *node, const char *name, const char *text) {
    ComRef<IXMLElement> element(As<IXMLElement>(node, kIidXmlElement));
    if (!element || !IsPlainXmlName(name))
        return 0;
    BstrHolder value = BstrOf(text);
    VARIANT argument;
    VariantInit(&argument);
    V_VT(&argument) = VT_BSTR;
    V_BSTR(&argument) = value.Get();
    return SUCCEEDED(element->setAttribute(BstrOf(name).Get(), argument));
}

int LegacyBackEnd::AddProcessingInstruction(const char *target, const char *data) {
    if (!document_ || !target || !*target)
        return 0;
    return data ? pending_.Format("<?%s %s?>", target, data) : pending_.Format("<?%s?>", target);
}

int LegacyBackEnd::RemoveChild(XmlNode *parent, XmlNode *child) {
    if (!document_)
        return 0;
    if (!parent) {
        // The object model cannot take its root away; an empty text resets the whole document.
        pending_.Assign("");
        ComRef<IXMLElement> root;
        // Success only when the root is really gone: not every version takes an empty text.
        return Parse("") && (FAILED(document_->get_root(root.Receive())) || !root);
    }
    ComRef<IXMLElement> parentElement(As<IXMLElement>(parent, kIidXmlElement));
    ComRef<IXMLElement> childElement(As<IXMLElement>(child, kIidXmlElement));
    return parentElement && childElement && SUCCEEDED(parentElement->removeChild(childElement.Get()));
}
