#include "framework/dialog.h"

#include <string>

#include "base/platform.h"
#include "base/strutil.h"
#include "framework/afxres.h"
#include "framework/winapp.h"

namespace {

// Thrown by CDataExchange::Fail, caught by UpdateData: the framework's own way of abandoning
// an exchange halfway. It never leaves the framework.
struct CUserException {};

// The framework reads at most this many characters of an edit for a number.
constexpr int kNumberTextLimit = 31;

}  // namespace

bool AfxParseInt(const CString& text, int& value) {
    std::size_t i = 0;
    auto skipBlanks = [&] {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    };
    skipBlanks();
    const std::optional<int> parsed = ScanInt(text.data(), text.size(), i);
    if (!parsed) return false;
    skipBlanks();
    if (i != text.size()) return false;
    value = *parsed;
    return true;
}

CString AfxLeftChars(const CString& text, int n) {
    std::size_t i = 0;
    for (int count = 0; i < text.size(); ++i) {
        if (AfxIsCharStart(text[i])) {
            if (count == n) break;
            ++count;
        }
    }
    return text.substr(0, i);
}

int AfxCharCount(const CString& text) {
    int count = 0;
    for (char c : text) {
        if (AfxIsCharStart(c)) ++count;
    }
    return count;
}

void CDataExchange::PrepareCtrl(int nIDC) {
    m_idLastControl = nIDC;
    m_bEditLastControl = false;
}

void CDataExchange::PrepareEditCtrl(int nIDC) {
    PrepareCtrl(nIDC);
    m_bEditLastControl = true;
}

void CDataExchange::Fail() {
    if (m_bSaveAndValidate && m_idLastControl != 0) {
        if (CWnd* control = m_pDlgWnd->GetDlgItem(m_idLastControl)) control->SetFocus();
    }
    throw CUserException{};
}

void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& control) {
    pDX->m_pDlgWnd->AttachControl(control, nIDC);
}

void DDX_Text(CDataExchange* pDX, int nIDC, int& value) {
    pDX->PrepareEditCtrl(nIDC);
    CWnd* control = pDX->m_pDlgWnd->GetDlgItem(nIDC);
    if (control == nullptr) return;
    if (pDX->m_bSaveAndValidate) {
        int parsed = 0;
        if (!AfxParseInt(AfxLeftChars(control->GetWindowText(), kNumberTextLimit), parsed)) {
            pDX->m_pDlgWnd->AfxMessageBox(AfxLoadString(AFX_IDP_PARSE_INT), MB_ICONEXCLAMATION);
            pDX->Fail();
        }
        value = parsed;
    } else {
        control->SetWindowText(std::to_string(value));
    }
}

void DDX_Text(CDataExchange* pDX, int nIDC, CString& value) {
    pDX->PrepareEditCtrl(nIDC);
    CWnd* control = pDX->m_pDlgWnd->GetDlgItem(nIDC);
    if (control == nullptr) return;
    if (pDX->m_bSaveAndValidate)
        value = control->GetWindowText();
    else
        control->SetWindowText(value);
}

void DDX_Check(CDataExchange* pDX, int nIDC, BOOL& value) {
    pDX->PrepareCtrl(nIDC);
    CDialog& dlg = *pDX->m_pDlgWnd;
    if (pDX->m_bSaveAndValidate)
        value = dlg.GetItemCheck(nIDC);
    else
        dlg.SetItemCheck(nIDC, value);
}

void DDV_MinMaxInt(CDataExchange* pDX, int value, int minVal, int maxVal) {
    if (!pDX->m_bSaveAndValidate || (value >= minVal && value <= maxVal)) return;
    pDX->m_pDlgWnd->AfxMessageBox(FormatString(AfxLoadString(AFX_IDP_PARSE_INT_RANGE),
                                               {std::to_string(minVal), std::to_string(maxVal)}),
                                  MB_ICONEXCLAMATION);
    pDX->Fail();
}

void DDV_MaxChars(CDataExchange* pDX, const CString& value, int nChars) {
    if (!pDX->m_bSaveAndValidate) {
        pDX->m_pDlgWnd->LimitItemText(pDX->m_idLastControl, nChars);
        return;
    }
    if (AfxCharCount(value) <= nChars) return;
    pDX->m_pDlgWnd->AfxMessageBox(
        FormatString(AfxLoadString(AFX_IDP_PARSE_STRING_SIZE), {std::to_string(nChars)}),
        MB_ICONEXCLAMATION);
    pDX->Fail();
}

CDialog::CDialog(const CDialogTemplate& tmpl, CPlatform& platform)
    : CWnd(platform), m_template(tmpl) {}

BOOL CDialog::CreateImpl(CWnd* pParentWnd, bool bModal) {
    m_bModal = bModal;
    m_bDestroyed = false;
    m_pImpl = CreateDialogImpl(*this, m_template, pParentWnd, bModal);
    if (!m_pImpl) return FALSE;
    if (SendMessage(WM_CREATE) == -1) {
        m_pImpl->Destroy();
        m_bDestroyed = true;
        return FALSE;
    }
    SendMessage(WM_INITDIALOG);
    return IsWindow() ? TRUE : FALSE;
}

BOOL CDialog::Create(CWnd* pParentWnd) { return CreateImpl(pParentWnd, false); }

int CDialog::DoModal(CWnd* pParentWnd) {
    if (!CreateImpl(pParentWnd, true)) return -1;
    const int result = m_pImpl->RunModal();
    DestroyWindow();
    return result;
}

void CDialog::EndDialog(int nResult) {
    CWndImpl* impl = Impl();
    if (impl == nullptr) return;
    if (m_bModal)
        impl->EndModal(nResult);
    else
        impl->Show(SW_HIDE);
}

BOOL CDialog::UpdateData(BOOL bSaveAndValidate) {
    if (!IsWindow()) return FALSE;
    CDataExchange dx(*this, bSaveAndValidate);
    try {
        DoDataExchange(&dx);
    } catch (const CUserException&) {
        return FALSE;
    }
    return TRUE;
}

int CDialog::AfxMessageBox(const CString& text, UINT nType) {
    return m_pPlatform->MessageBox(this, text, m_pPlatform->GetAppName(), nType);
}

void CDialog::AttachControl(CWnd& control, int nIDC) {
    if (control.m_pOwnerDlg == this && control.m_nID == nIDC) return;
    control.m_pOwnerDlg = this;
    control.m_nID = nIDC;
    control.OnAttached();
}

int CDialog::GetItemCheck(int nIDC) const {
    CWndImpl* impl = Impl();
    return impl != nullptr && impl->HasItem(nIDC) ? impl->GetItemCheck(nIDC) : 0;
}

void CDialog::SetItemCheck(int nIDC, int nCheck) {
    CWndImpl* impl = Impl();
    if (impl != nullptr && impl->HasItem(nIDC)) impl->SetItemCheck(nIDC, nCheck);
}

void CDialog::LimitItemText(int nIDC, int nChars) {
    CWndImpl* impl = Impl();
    if (impl != nullptr && impl->HasItem(nIDC)) impl->LimitItemText(nIDC, nChars);
}

BOOL CDialog::OnInitDialog() {
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::OnOK() {
    if (!UpdateData(TRUE)) return;
    EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

void CDialog::OnClose() {
    // The dialog manager turns a close request into Cancel.
    SendMessage(WM_COMMAND, IDCANCEL);
}

LRESULT CDialog::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) return OnInitDialog();
    if (message == WM_NEXTDLGCTL) {
        // wParam is the control to focus (lParam TRUE), as the dialog manager takes it.
        if (lParam != 0) {
            if (auto* control = reinterpret_cast<CWnd*>(wParam)) control->SetFocus();
        }
        return 0;
    }
    if (message == WM_COMMAND) {
        if (OnCommand(wParam, lParam)) return 0;
        switch (static_cast<int>(wParam & 0xFFFF)) {
            case IDOK:
                OnOK();
                return 0;
            case IDCANCEL:
                OnCancel();
                return 0;
            default:
                return 0;
        }
    }
    return CWnd::WindowProc(message, wParam, lParam);
}
