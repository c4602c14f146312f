// XmlBackEnd: the path walks both back ends share, built on their FindStep.
#include "update/XmlBackEnd.h"
#include "base/ComRef.h"
#include "base/TextString.h"
#include <cstring>

int HasDocumentType(const char *text) {
    return text && strstr(text, "<!DOCTYPE") != nullptr;
}

int IsPlainXmlName(const char *name) {
    if (!name || !*name)
        return 0;
    for (const char *c = name; *c; ++c) {
        if (strchr(" \t\r\n<>&\"'/=?!;,()[]{}", *c))
            return 0;
    }
    return 1;
}

void MoveToNode(XmlNode **current, XmlNode *node) {
    ComRef<XmlNode> previous(*current);
    *current = node;
}

void SplitXmlPath(const char *path, TextString &copy, std::vector<const char *> &steps) {
    steps.clear();
    if (!path || !*path || !copy.Assign(path))
        return;
    // All tokens are taken before the walk starts: the tokenizer's state is per thread, and a callback may
    // read paths of its own.
    for (char *step = copy.Tokenize(1, "\\"); step; step = copy.Tokenize(0, "\\"))
        steps.push_back(step);
}

int XmlBackEnd::ReadValue(const char *path, TextString &out, XmlNode *base) {
    if (!IsOpen())
        return 0;
    TextString copy;
    std::vector<const char *> steps;
    SplitXmlPath(path, copy, steps);
    if (steps.empty())
        return 0;
    ComRef<XmlNode> current = ComRef<XmlNode>::Share(base);
    int found = 1;
    for (const char *step : steps) {
        if (!FindStep(step, nullptr, nullptr, &out, current.InOut())) {
            found = 0;
            break;
        }
    }
    return found;
}

int XmlBackEnd::ForEachChild(const char *path, XmlNodeCallback callback, void *context, XmlNode *base) {
    if (!IsOpen())
        return 0;
    TextString copy;
    std::vector<const char *> steps;
    SplitXmlPath(path, copy, steps);
    ComRef<XmlNode> current = ComRef<XmlNode>::Share(base);
    int result = 1;
    for (const char *step : steps) {
        if (!FindStep(step, nullptr, nullptr, nullptr, current.InOut())) {
            result = 0;
            break;
        }
    }
    if (result)
        result = FindStep(nullptr, callback, context, nullptr, current.InOut());
    return result;
}

int XmlBackEnd::RootStep(XmlNode *root, const TextString &rootName, void (*textOf)(XmlNode *, TextString &),
                         const char *name, XmlNodeCallback callback, void *context, TextString *out,
                         XmlNode **current, XmlDocument *owner) {
    TextString text;
    const int match = name && rootName.CompareNoCase(name) == 0;
    if (callback || (match && out))
        textOf(root, text);
    int result = match;
    if (callback)
        result = callback(0, root, rootName.Text(), text.Text(), context, owner) == 1;
    if (out) {
        if (result)
            out->Assign(&text);
        else
            out->Assign("");
    }
    if (match)
        *current = root;
    return result;
}
