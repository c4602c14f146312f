// FittedFont: the one rule by which painted texts are sized: the largest font of a face, from a start height
// down to a floor, whose text fits the space as the caller measures it.
//
// Classes: FittedFont.
#pragma once

#include "base/ScopedHandle.h"
#include "base/Win.h"
#include <functional>

class FittedFont {
public:
    // What measuring one candidate says.
    enum Fit : int { kTooLarge = 0, kFits = 1, kUnmeasurable = 2 };
    // Measures the text with the candidate, which is selected into dc meanwhile.
    typedef std::function<Fit(HDC dc)> Measure;

    // Creates description's font at the heights start, start - 1, ... (never below smallest, nor starting
    // below it) and takes the first that fits or cannot be measured, else the one at smallest; with no dc,
    // the first. height receives the chosen height. Empty when not even the first font could be made.
    static OwnedFont Create(HDC dc, LOGFONTA description, int start, int smallest, const Measure &measure,
                            int *height);
};
