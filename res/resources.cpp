#include "resources.h"

#include "dialogstyles.h"
#include "resource.h"
#include "version.h"

namespace {

// What the backends without the system's dialog manager need to know of the styles.
DWORD FlagsOf(CtrlKind kind, DWORD dwStyle, DWORD dwExStyle) {
    DWORD flags = 0;
    if ((dwStyle & WS_TABSTOP) != 0) flags |= kStyleTabStop;
    if ((dwExStyle & WS_EX_LEFTSCROLLBAR) != 0) flags |= kStyleLeftScrollBar;
    if (kind == CtrlKind::Static && (dwStyle & SS_NOPREFIX) != 0) flags |= kStyleNoPrefix;
    return flags;
}

CDialogItem Control(CtrlKind kind, const char* pszText, int nID, int x, int y, int cx, int cy,
                    DWORD dwStyle, DWORD dwExStyle) {
    return {nID, kind,    pszText,  x, y, cx, cy, FlagsOf(kind, dwStyle, dwExStyle),
            0,   dwStyle, dwExStyle};
}

CDialogItem Icon(UINT nIconId, int nID, int x, int y, int cx, int cy, DWORD dwStyle,
                 DWORD dwExStyle) {
    return {nID,      CtrlKind::Icon,
            "",       x,
            y,        cx,
            cy,       FlagsOf(CtrlKind::Icon, dwStyle, dwExStyle),
            nIconId,  dwStyle,
            dwExStyle};
}

// The template with what screen readers are told of its controls.
CDialogTemplate WithAccessible(CDialogTemplate tmpl) {
#define QV_DIALOG_BEGIN(id, x, y, cx, cy, style, exstyle, caption, points, font)
#define QV_CONTROL(kind, text, id, x, y, cx, cy, style, exstyle)
#define QV_ICON(iconId, id, x, y, cx, cy, style, exstyle)
#define QV_DIALOG_END()
#define QV_ACCESSIBLE(dialogId, id, labelId, nameId, descriptionId) \
    if (tmpl.nID == (dialogId)) tmpl.accessible.push_back({id, labelId, nameId, descriptionId});
#include "dialogs.def"
#undef QV_DIALOG_BEGIN
#undef QV_CONTROL
#undef QV_ICON
#undef QV_DIALOG_END
#undef QV_ACCESSIBLE
    return tmpl;
}

const CDialogTemplate* Find(UINT nID) {
    // Every template is made once, the first time it is asked for.
    switch (nID) {
#define QV_DIALOG_BEGIN(id, x, y, cx, cy, style, exstyle, caption, points, font) \
    case id: {                                                                   \
        static const CDialogTemplate tmpl = WithAccessible(                                   \
            {id, caption, cx, cy, font, points,                                               \
             ((exstyle)&WS_EX_APPWINDOW) != 0 ? kStyleAppWindow : 0,                          \
             {
#define QV_CONTROL(kind, text, id, x, y, cx, cy, style, exstyle) \
    Control(CtrlKind::kind, text, id, x, y, cx, cy, style, exstyle),
#define QV_ICON(iconId, id, x, y, cx, cy, style, exstyle) \
    Icon(iconId, id, x, y, cx, cy, style, exstyle),
#define QV_DIALOG_END() \
    }                   \
    , {}                \
    });                 \
    return &tmpl;       \
    }
#define QV_ACCESSIBLE(dialogId, id, labelId, nameId, descriptionId)
#include "dialogs.def"
#undef QV_DIALOG_BEGIN
#undef QV_CONTROL
#undef QV_ICON
#undef QV_DIALOG_END
#undef QV_ACCESSIBLE
        default:
            return nullptr;
    }
}

}  // namespace

const CDialogTemplate& KeepAliveDialogTemplate() { return *Find(IDD_KEEPALIVE_DIALOG); }

const CDialogTemplate& AboutBoxTemplate() { return *Find(IDD_ABOUTBOX); }

const CDialogTemplate* FindDialogTemplate(UINT nID) { return Find(nID); }

CString LoadResString(UINT nID) {
    switch (nID) {
#define QV_STRING(id, text) \
    case id:                \
        return text;
#include "strings.def"
#undef QV_STRING
        default:
            return {};
    }
}
