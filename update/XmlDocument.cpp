// XmlDocument: chooses the back end and walks paths over it.
#include "update/XmlDocument.h"
#include "base/ComRef.h"
#include "base/TextString.h"
#include <utility>

int XmlDocument::Init(uint32_t options) {
    if (active_)
        active_->Close();
    active_ = nullptr;
    // Whether COM starts does not matter here: a thread already in another apartment can still create the
    // parser, and when it cannot, opening the back ends says so.
    com_.Start();
    if (!(options & kXmlLegacyOnly) && dom_.Open(options))
        active_ = &dom_;
    else if (legacy_.Open(options))
        active_ = &legacy_;
    return active_ != nullptr;
}

int XmlDocument::LoadText(const char *text) {
    return active_ ? active_->LoadText(text) : 0;
}

int XmlDocument::LoadUtf8(const char *text) {
    if (active_ == &dom_)
        return dom_.LoadUtf8(text);
    // The older object model reads its stream as bytes and decodes them itself.
    return active_ ? active_->LoadText(text) : 0;
}

int XmlDocument::ReadValue(const char *path, TextString &out, XmlNode *base) {
    return active_ ? active_->ReadValue(path, out, base) : 0;
}

int XmlDocument::ForEachChild(const char *path, XmlNodeCallback callback, void *context, XmlNode *base) {
    return active_ ? active_->ForEachChild(path, callback, context, base) : 0;
}

XmlNode *XmlDocument::FindOrCreatePath(const char *path, XmlNode *base) {
    if (!active_)
        return nullptr;
    TextString copy;
    std::vector<const char *> steps;
    SplitXmlPath(path, copy, steps);
    ComRef<XmlNode> current = ComRef<XmlNode>::Share(base);
    for (const char *step : steps) {
        if (active_->FindStep(step, nullptr, nullptr, nullptr, current.InOut()))
            continue;
        ComRef<XmlNode> created;
        if (!active_->CreateChild(current.Get(), step, nullptr, created.Receive()))
            return nullptr;
        current = std::move(created);
    }
    return current.Detach();
}

void XmlDocument::Close() {
    active_ = nullptr;
    dom_.Close();
    legacy_.Close();
    // Only after every interface of the parser is released.
    com_.Close();
}

void XmlDocument::ReleaseNode(XmlNode *node) {
    ComRef<XmlNode> given(node); // given back as it goes
}
