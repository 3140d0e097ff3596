#include "framework/wnd.h"

#include "base/platform.h"
#include "framework/file.h"

CWnd::~CWnd() {
    // Timers must not outlive the window they are delivered to.
    if (m_pPlatform != nullptr) {
        for (UINT_PTR id : m_timers) m_pPlatform->KillTimer(*this, id);
    }
}

CWndImpl* CWnd::Impl() const {
    if (m_pOwnerDlg != nullptr) return m_pOwnerDlg->Impl();
    return m_bDestroyed ? nullptr : m_pImpl.get();
}

const void* CWnd::GetSafeHwnd() const {
    CWndImpl* impl = Impl();
    if (impl == nullptr) return nullptr;
    if (m_pOwnerDlg != nullptr && !impl->HasItem(m_nID)) return nullptr;
    return impl;
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    // WM_CREATE arrives while the window is being made, before it counts as existing.
    if (message != WM_CREATE && !IsWindow()) return 0;
    try {
        return WindowProc(message, wParam, lParam);
    } catch (const CFileException& e) {
        // The framework's file-error box; the rest of the handler is abandoned.
        CWnd* owner = m_pOwnerDlg != nullptr ? m_pOwnerDlg : this;
        if (owner->m_pPlatform != nullptr) e.ReportError(*owner->m_pPlatform, owner);
        return 0;
    }
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            return OnCreate();
        case WM_DESTROY:
            OnDestroy();
            return 0;
        case WM_CLOSE:
            OnClose();
            return 0;
        case WM_TIMER:
            OnTimer(static_cast<UINT_PTR>(wParam));
            return 0;
        case WM_SYSCOMMAND:
            OnSysCommand(static_cast<UINT>(wParam), lParam);
            return 0;
        case WM_COMMAND:
            return OnCommand(wParam, lParam);
        default:
            return 0;
    }
}

BOOL CWnd::ShowWindow(int nCmdShow) {
    CWndImpl* impl = Impl();
    if (impl == nullptr || m_pOwnerDlg != nullptr) return FALSE;
    const BOOL wasVisible = impl->IsVisible() ? TRUE : FALSE;
    impl->Show(nCmdShow);
    return wasVisible;
}

BOOL CWnd::IsWindowVisible() const {
    CWndImpl* impl = Impl();
    return impl != nullptr && m_pOwnerDlg == nullptr && impl->IsVisible() ? TRUE : FALSE;
}

BOOL CWnd::IsIconic() const {
    CWndImpl* impl = Impl();
    return impl != nullptr && m_pOwnerDlg == nullptr && impl->IsMinimized() ? TRUE : FALSE;
}

BOOL CWnd::SetForegroundWindow() {
    CWndImpl* impl = Impl();
    if (impl == nullptr) return FALSE;
    impl->SetForeground();
    return TRUE;
}

BOOL CWnd::DestroyWindow() {
    if (!IsWindow() || m_pOwnerDlg != nullptr) return FALSE;
    for (UINT_PTR id : m_timers) m_pPlatform->KillTimer(*this, id);
    m_timers.clear();
    WindowProc(WM_DESTROY, 0, 0);
    m_pImpl->Destroy();
    m_bDestroyed = true;
    if (m_bMainWindow) AfxPostQuitMessage(0);
    return TRUE;
}

void CWnd::SetWindowText(const CString& text) {
    CWndImpl* impl = Impl();
    if (impl == nullptr) return;
    if (m_pOwnerDlg != nullptr)
        impl->SetItemText(m_nID, text);
    else
        impl->SetTitle(text);
}

CString CWnd::GetWindowText() const {
    CWndImpl* impl = Impl();
    if (impl == nullptr) return {};
    return m_pOwnerDlg != nullptr ? impl->GetItemText(m_nID) : impl->GetTitle();
}

HICON CWnd::SetIcon(HICON icon, BOOL bBigIcon) {
    if (CWndImpl* impl = Impl()) impl->SetIcon(icon, bBigIcon != FALSE);
    return nullptr;
}

CWnd* CWnd::GetDlgItem(int nID) const {
    CWndImpl* impl = Impl();
    if (impl == nullptr || m_pOwnerDlg != nullptr || !impl->HasItem(nID)) return nullptr;
    for (const auto& control : m_controls) {
        if (control->m_nID == nID) return control.get();
    }
    auto control = std::make_unique<CWnd>();
    control->m_pOwnerDlg = const_cast<CWnd*>(this);
    control->m_nID = nID;
    return m_controls.insert(std::move(control)).first->get();
}

void CWnd::SetFocus() {
    CWndImpl* impl = Impl();
    if (impl != nullptr && m_pOwnerDlg != nullptr) impl->FocusItem(m_nID);
}

UINT_PTR CWnd::SetTimer(UINT_PTR nIDEvent, UINT nElapse) {
    if (!IsWindow() || m_pPlatform == nullptr) return 0;
    m_timers.insert(nIDEvent);
    m_pPlatform->SetTimer(*this, nIDEvent, nElapse);
    return nIDEvent;
}

BOOL CWnd::KillTimer(UINT_PTR nIDEvent) {
    if (m_pPlatform == nullptr || m_timers.erase(nIDEvent) == 0) return FALSE;
    m_pPlatform->KillTimer(*this, nIDEvent);
    return TRUE;
}
