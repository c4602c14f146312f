// WmiQuery: one WQL query through COM, reading one text property of the first object returned.
//
// Classes: WmiQuery.
#pragma once

#include "base/Win.h"

class TextString;

class WmiQuery {
public:
    WmiQuery() = default;
    WmiQuery(const WmiQuery &) = delete;
    WmiQuery &operator=(const WmiQuery &) = delete;

    // Connects to nameSpace (e.g. "ROOT\CIMV2"), runs the WQL query and reads property of the first object
    // as text into out. 1 only when every step worked and the property holds a string; out is emptied on 0.
    // Starts and ends COM on the calling thread around the query.
    int Run(const char *nameSpace, const char *query, const char *property, TextString &out);
};
