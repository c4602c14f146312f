// OwnedImageList: the owner of an image list the program made. It sits in ui/ rather than beside the other
// owners in base/ScopedHandle.h because freeing an image list is comctl32's work.
//
// Classes: OwnedImageList (ScopedHandle<ImageListTraits>).
#pragma once

#include "base/ScopedHandle.h"
#include "base/Win.h"
#include <commctrl.h>

// A control that was given the list must have let go of it (or be gone) before the owner frees it.
struct ImageListTraits {
    typedef HIMAGELIST Handle;
    static HIMAGELIST Empty() { return nullptr; }
    static bool IsValid(HIMAGELIST list) { return list != nullptr; }
    static void Close(HIMAGELIST list) { ImageList_Destroy(list); }
};
typedef ScopedHandle<ImageListTraits> OwnedImageList;
