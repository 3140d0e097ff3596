// The notification-area icon: its pictures and the clicks on it.

#include <cstring>

#include "keepalivedlg.h"
#include "platform.h"

namespace {

constexpr char kTrayTip[] = "Quorvane";
constexpr int kTrayIconSize = 16;

}  // namespace

BOOL CKeepAliveDlg::NotifyTray(DWORD dwMessage, UINT uID, HICON hIcon, const char* pszTip) {
    NOTIFYICONDATA tnd;
    tnd.hWnd = this;
    tnd.uID = uID;
    tnd.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    tnd.uCallbackMessage = WM_TRAYNOTIFY;
    tnd.hIcon = hIcon;
    if (pszTip != nullptr) std::strncpy(tnd.szTip, pszTip, sizeof(tnd.szTip) - 1);
    const BOOL result = Platform().ShellNotifyIcon(dwMessage, tnd);
    // The shell keeps its own copy.
    if (hIcon != nullptr) Platform().DestroyIcon(hIcon);
    return result;
}

void CKeepAliveDlg::SetTrayIcon(UINT nIconId, DWORD dwMessage) {
    NotifyTray(dwMessage, TRAY_ICON_ID, Platform().LoadIcon(nIconId, kTrayIconSize, kTrayIconSize),
               kTrayTip);
}

LRESULT CKeepAliveDlg::OnTrayNotify(WPARAM /*wParam*/, LPARAM /*lParam*/) { return 0; }
