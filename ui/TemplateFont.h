// TemplateFont: the swap of a dialog template's old bitmap font for the system's message font, done on a
// copy of the template before the dialog is created, and the font look-up it rests on.
//
// Classes: TemplateFont.
#pragma once

#include "base/Win.h"

class TemplateFont {
public:
    enum { kFaceSize = 32 };

    // A copy of a dialog template (classic or extended) that asks for the old bitmap font, with the
    // system's message font put in; null when nothing is to be replaced. The caller frees the copy with
    // FreeTemplate. prefer: take "MS Shell Dlg 2" at 8 points when the message font is "Segoe UI".
    static void *ReplaceTemplateFont(const void *dialogTemplate, DWORD size, int prefer);
    static void FreeTemplate(void *dialogTemplate);

    // The steps of ReplaceTemplateFont on their own. LocateTemplateFont: byte offsets of the point-size
    // word and the face name (0 when the template sets no font or is cut short). ChooseTemplateFont: the
    // face and point size for a message font (0 when that font is not one we replace). RebuildTemplate:
    // the new block with face and pointSize put in.
    static int LocateTemplateFont(const void *dialogTemplate, DWORD size, DWORD *pointOffset,
                                  DWORD *faceOffset);
    static int ChooseTemplateFont(const char *messageFace, LONG messageHeight, int prefer, char *face,
                                  WORD *pointSize);
    static void *RebuildTemplate(const void *dialogTemplate, DWORD size, DWORD pointOffset, DWORD faceOffset,
                                 const char *face, WORD pointSize);

    // 1 when a font family of that face (at most 31 characters) is installed for the screen.
    static int FontInstalled(const char *face);

private:
    static int CALLBACK FontFound(const LOGFONTA *, const TEXTMETRICA *, DWORD, LPARAM context);
};
