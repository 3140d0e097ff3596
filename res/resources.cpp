#include "resources.h"

#include "resource.h"
#include "version.h"

namespace {

constexpr DWORD TS = kStyleTabStop;

}  // namespace

const CDialogTemplate& KeepAliveDialogTemplate() {
    static const CDialogTemplate tmpl{
        IDD_KEEPALIVE_DIALOG,
        "Quorvane by Harrowbecks Software, Inc.",
        296,
        98,
        "MS Sans Serif",
        8,
        kStyleAppWindow,
        {
            {IDC_DELAY, CtrlKind::Edit, "", 29, 14, 35, 14, TS},
            {IDC_SOUND, CtrlKind::CheckBox, "Sound", 7, 34, 37, 11, TS},
            {IDC_CYCLE, CtrlKind::CheckBox, "Cycle on No Contact", 45, 34, 86, 9, TS},
            {IDC_NEW_SERVER, CtrlKind::Edit, "", 7, 60, 100, 14, TS},
            {IDC_ADD, CtrlKind::PushButton, "&Add ->", 117, 51, 50, 14, TS},
            {IDC_REMOVE, CtrlKind::PushButton, "<- &Remove", 117, 71, 50, 14, TS},
            {IDOK, CtrlKind::DefPushButton, "OK", 239, 7, 50, 14, TS},
            {IDC_ABOUT, CtrlKind::PushButton, "About...", 239, 26, 50, 14, TS},
            {IDC_SERVER_LIST, CtrlKind::ListBox, "", 176, 44, 113, 47, TS | kStyleLeftScrollBar},
            {IDCANCEL, CtrlKind::PushButton, "E&xit", 175, 7, 50, 14, TS},
            {IDC_STATIC, CtrlKind::Static, "Delay:", 7, 17, 21, 8, 0},
            {IDC_STATIC, CtrlKind::Static, "seconds", 66, 17, 29, 8, 0},
            {IDC_STATIC, CtrlKind::Static, "Server List:", 177, 33, 40, 10, 0},
            {IDC_STATIC, CtrlKind::Static, "New Server:", 7, 49, 42, 10, 0},
        }};
    return tmpl;
}

const CDialogTemplate& AboutBoxTemplate() {
    static const CDialogTemplate tmpl{
        IDD_ABOUTBOX,
        "About Quorvane",
        217,
        66,
        "MS Sans Serif",
        8,
        0,
        {
            {IDC_STATIC, CtrlKind::Icon, "", 11, 17, 21, 20, 0, IDI_MAIN},
            {IDC_STATIC, CtrlKind::Static, "Quorvane Version 1.0.1", 40, 10, 119, 8,
             kStyleNoPrefix},
            {IDC_STATIC, CtrlKind::Static,
             "Keeps network connections up by pinging a known server list.\n"
             "Copyright (C) 2026 Harrowbecks Software, Inc.",
             39, 24, 150, 35, 0},
            {IDOK, CtrlKind::DefPushButton, "OK", 178, 7, 32, 14, TS},
        }};
    return tmpl;
}

CString LoadResString(UINT nID) {
    switch (nID) {
        case IDS_SOCKETS_INIT_FAILED:
            return "Windows sockets initialization failed.";
        default:
            return {};
    }
}
