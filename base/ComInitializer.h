// ComInitializer: starts COM on the calling thread and undoes exactly what it started; CreateComObject makes
// an object from a ProgID or a class id. Shared by the XML document and the WMI query.
//
// Classes: ComInitializer. Functions: CreateComObject.
#pragma once

#include "base/Win.h"
#include <objbase.h>

class ComInitializer {
public:
    ComInitializer() = default;
    ~ComInitializer() { Close(); }
    ComInitializer(const ComInitializer &) = delete;
    ComInitializer &operator=(const ComInitializer &) = delete;

    // Apartment-threaded, OLE1 DDE off; falls back to CoInitialize. Does nothing when already started.
    // 1 when this object holds a COM start on the calling thread (also when COM was already running in the
    // same mode: each start is balanced by Close).
    int Start();
    int Started() const { return started_; }
    // CoUninitialize once, when Start succeeded; must run on the thread that called Start.
    void Close();

private:
    int started_ = 0;
};

// An in-process, local or remote object of the class named by progId (text in the system code page, e.g.
// "Msxml2.DOMDocument.6.0") or by classId, asked for interfaceId. 1 with *out holding one reference,
// else 0 with *out cleared.
int CreateComObject(const char *progId, REFIID interfaceId, void **out);
int CreateComObject(REFCLSID classId, REFIID interfaceId, void **out);
