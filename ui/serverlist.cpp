// Editing the server list: Add and Remove.

#include "framework/strutil.h"
#include "keepalivedlg.h"
#include "platform.h"
#include "resource.h"

namespace {

constexpr char kEntryError[] = "Quorvane Entry Error";

}  // namespace

void CKeepAliveDlg::OnAdd() {
    // A field that failed validation has its message and the focus; the New Server text was
    // not read, so there is nothing to add.
    if (!UpdateData(TRUE)) return;
    m_strNewServer = TrimWhiteSpace(m_strNewServer);
    if (m_strNewServer.empty()) {
        Platform().MessageBox(this, "You must enter a valid IP dot address or name.", kEntryError,
                              MB_OK);
    } else if (!ResolveAndPing(m_strNewServer)) {
        Platform().MessageBox(this,
                              "The IP dot address or name you entered is invalid or "
                              "unreachable.",
                              kEntryError, MB_OK);
    } else if (m_lbServers.FindStringExact(-1, m_strNewServer) != LB_ERR) {
        Platform().MessageBox(this, "That address is already in the list.", kEntryError, MB_OK);
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
        Platform().MessageBox(
            this, "Nothing is selected for removal. Select an item from the server list first.",
            "Quorvane Removal", MB_OK);
        return;
    }
    CString strServer;
    m_lbServers.GetText(nSelected, strServer);
    m_lbServers.DeleteString(nSelected);
    // Back into the edit for correction; the member is not changed.
    if (CWnd* edit = GetDlgItem(IDC_NEW_SERVER)) edit->SetWindowText(strServer);
    SendMessage(WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(IDC_NEW_SERVER)), TRUE);
}
