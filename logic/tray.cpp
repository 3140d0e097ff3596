// The notification-area icon: its pictures and the clicks on it.

#include <cstring>

#include "base/platform.h"
#include "framework/winapp.h"
#include "logic/keepalivedlg.h"
#include "res/resource.h"

namespace {

constexpr int kTrayIconSize = 16;

}  // namespace

BOOL CKeepAliveDlg::NotifyTray(DWORD dwMessage, UINT uID, HICON hIcon, const char* pszTip) {
    CNotifyIconData tnd;
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
               AfxLoadString(IDS_TRAY_TIP).c_str());
}

void CKeepAliveDlg::ShowInFront() {
    // A minimised window is shown by being restored.
    ShowWindow(IsIconic() ? SW_RESTORE : SW_SHOW);
    SetForegroundWindow();
}

LRESULT CKeepAliveDlg::OnTrayNotify(WPARAM /*wParam*/, LPARAM lParam) {
    if (!m_bTrayClicks) {
        // The dialog open for editing may have been minimised or buried under other windows
        // since, and without a taskbar the icon is the only way back to it: bring it in
        // front, and change nothing else.
        if (lParam == WM_LBUTTONDOWN && IsWindowVisible()) ShowInFront();
        return 0;
    }
    if (lParam == WM_LBUTTONDOWN) {
        // Open for editing: the cycle stops until OK.
        StopCycle();
        SetTrayIcon(IDI_IDLE);
        m_bTrayClicks = FALSE;
        m_strNewServer.clear();
        UpdateData(FALSE);
        ShowInFront();
        SendMessage(WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(IDC_DELAY)), TRUE);
    } else if (lParam == WM_RBUTTONDOWN) {
        m_bTrayClicks = FALSE;
        OnAbout();
        m_bTrayClicks = TRUE;
    }
    return 0;
}
