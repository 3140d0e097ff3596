// Editing the server list: Add and Remove.

#include "base/platform.h"
#include "base/strutil.h"
#include "framework/winapp.h"
#include "logic/keepalivedlg.h"
#include "res/resource.h"

void CKeepAliveDlg::OnAdd() {
    // A field that failed validation has its message and the focus; the New Server text was
    // not read, so there is nothing to add.
    if (!UpdateData(TRUE)) return;
    m_strNewServer = TrimWhiteSpace(m_strNewServer);
    if (m_strNewServer.empty()) {
        Platform().MessageBox(this, AfxLoadString(IDS_ENTER_SERVER), AfxLoadString(IDS_ENTRY_ERROR),
                              MB_OK);
    } else if (!ResolveAndPing(m_strNewServer)) {
        Platform().MessageBox(this, AfxLoadString(IDS_SERVER_UNREACHABLE),
                              AfxLoadString(IDS_ENTRY_ERROR), MB_OK);
    } else if (m_lbServers.FindStringExact(-1, m_strNewServer) != LB_ERR) {
        Platform().MessageBox(this, AfxLoadString(IDS_SERVER_IN_LIST),
                              AfxLoadString(IDS_ENTRY_ERROR), MB_OK);
    } else {
        m_lbServers.AddString(m_strNewServer);
        // The member keeps the added text; only the edit is emptied.
        if (CWnd* edit = GetDlgItem(IDC_NEW_SERVER)) edit->SetWindowText({});
    }
    SendMessage(WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(IDC_NEW_SERVER)), TRUE);
}

void CKeepAliveDlg::OnRemove() {
    const int nSelected = m_lbServers.GetCurSel();
    if (nSelected == LB_ERR) {
        Platform().MessageBox(this, AfxLoadString(IDS_NOTHING_SELECTED), AfxLoadString(IDS_REMOVAL),
                              MB_OK);
        return;
    }
    CString strServer;
    m_lbServers.GetText(nSelected, strServer);
    m_lbServers.DeleteString(nSelected);
    // Back into the edit for correction; the member is not changed.
    if (CWnd* edit = GetDlgItem(IDC_NEW_SERVER)) edit->SetWindowText(strServer);
    SendMessage(WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(IDC_NEW_SERVER)), TRUE);
}
