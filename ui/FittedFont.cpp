// FittedFont: the shrinking loop.
#include "ui/FittedFont.h"
#include <utility>

OwnedFont FittedFont::Create(HDC dc, LOGFONTA description, int start, int smallest, const Measure &measure,
                             int *height) {
    OwnedFont chosen;
    int chosenHeight = 0;
    for (int candidate = start > smallest ? start : smallest;; --candidate) {
        description.lfHeight = candidate;
        OwnedFont font(CreateFontIndirectA(&description));
        // A face the system cannot make at this height keeps the last one that worked.
        if (!font.IsValid())
            break;
        // Deselected by the next round before the previous candidate goes.
        chosen = std::move(font);
        chosenHeight = candidate;
        if (candidate <= smallest || !dc)
            break;
        Fit fit;
        {
            ScopedSelectObject selected(dc, chosen.Get());
            fit = measure(dc);
        }
        if (fit != kTooLarge)
            break;
    }
    if (height)
        *height = chosenHeight;
    return chosen;
}
