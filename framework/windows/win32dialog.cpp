// Dialog windows of the Win32 backend: the system's dialog manager makes each one from the
// program's dialog resource of the same id, and every user action on it reaches the program's
// handlers as the window message they expect.

#include "framework/dialog.h"
#include "framework/winapp.h"
#include "framework/windows/win32accessible.h"
#include "framework/windows/win32backend.h"
#include "framework/windows/win32loop.h"
#include "res/resources.h"

namespace {

class CWin32DialogImpl : public CWndImpl {
public:
    CWin32DialogImpl(CWnd& owner, const CDialogTemplate& tmpl) : m_owner(owner), m_template(tmpl) {}
    ~CWin32DialogImpl() override {
        if (m_hWnd != nullptr) {
            Win32ForgetDialog(m_hWnd);
            Win32ClearAnnotations(m_hWnd, m_template);
            ::DestroyWindow(m_hWnd);
        }
    }
    CWin32DialogImpl(const CWin32DialogImpl&) = delete;
    CWin32DialogImpl& operator=(const CWin32DialogImpl&) = delete;

    bool Create(HWND hParent);
    HWND Hwnd() const { return m_hWnd; }

    void Show(int nCmdShow) override;
    bool IsVisible() const override { return ::IsWindowVisible(m_hWnd) != FALSE; }
    bool IsMinimized() const override { return IsVisible() && ::IsIconic(m_hWnd) != FALSE; }
    void SetForeground() override {
        // A hidden dialog has nothing to bring forward (the About box may ask for it).
        if (IsVisible()) ::SetForegroundWindow(m_hWnd);
    }
    void SetIcon(HICON icon, bool bBig) override {
        ::SendMessageA(m_hWnd, WM_SETICON, bBig ? ICON_BIG : ICON_SMALL,
                       reinterpret_cast<LPARAM>(icon));
    }
    void SetTitle(const CString& text) override { ::SetWindowTextA(m_hWnd, text.c_str()); }
    CString GetTitle() const override { return Win32WindowText(m_hWnd); }
    void Destroy() override;
    int RunModal() override;
    void EndModal(int nResult) override {
        m_nModalResult = nResult;
        m_bEndModal = true;
        // Wakes the loop if nothing else is waiting to be handled.
        ::PostMessageA(m_hWnd, WM_NULL, 0, 0);
    }

    bool HasItem(int id) const override { return id != -1 && Item(id) != nullptr; }
    CString GetItemText(int id) const override { return Win32WindowText(Item(id)); }
    void SetItemText(int id, const CString& text) override {
        ::SetDlgItemTextA(m_hWnd, id, text.c_str());
    }
    int GetItemCheck(int id) const override {
        return ::IsDlgButtonChecked(m_hWnd, id) == BST_CHECKED ? 1 : 0;
    }
    void SetItemCheck(int id, int nCheck) override {
        ::CheckDlgButton(m_hWnd, id, nCheck != 0 ? BST_CHECKED : BST_UNCHECKED);
    }
    void LimitItemText(int id, int nChars) override {
        ::SendDlgItemMessageA(m_hWnd, id, EM_LIMITTEXT, static_cast<WPARAM>(nChars), 0);
    }
    void FocusItem(int id) override;
    int GetFocusItem() const override {
        if (!IsVisible()) return m_hFocusOnShow != nullptr ? ::GetDlgCtrlID(m_hFocusOnShow) : 0;
        HWND hFocus = ::GetFocus();
        return hFocus != nullptr && ::IsChild(m_hWnd, hFocus) ? ::GetDlgCtrlID(hFocus) : 0;
    }
    bool IsItemTextSelectedWhole(int id) const override {
        DWORD dwStart = 0;
        DWORD dwEnd = 0;
        ::SendDlgItemMessageA(m_hWnd, id, EM_GETSEL, reinterpret_cast<WPARAM>(&dwStart),
                              reinterpret_cast<LPARAM>(&dwEnd));
        return dwStart == 0 && dwEnd == static_cast<DWORD>(::GetWindowTextLengthA(Item(id)));
    }

    // The framework keeps the entries in order; the control only mirrors them, each put at
    // the index the framework gave it.
    void ListInsert(int id, int nIndex, const CString& text) override {
        ::SendDlgItemMessageA(m_hWnd, id, LB_INSERTSTRING, static_cast<WPARAM>(nIndex),
                              reinterpret_cast<LPARAM>(text.c_str()));
    }
    void ListDelete(int id, int nIndex) override {
        ::SendDlgItemMessageA(m_hWnd, id, LB_DELETESTRING, static_cast<WPARAM>(nIndex), 0);
    }
    void ListReset(int id) override { ::SendDlgItemMessageA(m_hWnd, id, LB_RESETCONTENT, 0, 0); }
    void ListAssign(int id, const std::vector<CString>& entries) override;
    int ListGetCurSel(int id) const override {
        return static_cast<int>(::SendDlgItemMessageA(m_hWnd, id, LB_GETCURSEL, 0, 0));
    }
    void ListSetCurSel(int id, int nIndex) override {
        ::SendDlgItemMessageA(m_hWnd, id, LB_SETCURSEL, static_cast<WPARAM>(nIndex), 0);
    }

private:
    static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    // Messages that run one of the program's handlers.
    static bool IsForHandlers(UINT message, WPARAM wParam);
    HWND Item(int id) const { return ::GetDlgItem(m_hWnd, id); }
    // Where a template at 0, 0 goes: centred on its owner, or on the screen's work area.
    void Centre(HWND hParent);

    CWnd& m_owner;
    const CDialogTemplate& m_template;
    HWND m_hWnd = nullptr;
    HWND m_hModalOwner = nullptr;
    // The control that gets the focus when the hidden dialog is next shown.
    HWND m_hFocusOnShow = nullptr;
    bool m_bDestroyed = false;
    bool m_bInModalLoop = false;
    bool m_bEndModal = false;
    int m_nModalResult = IDCANCEL;
};

bool CWin32DialogImpl::Create(HWND hParent) {
    m_hWnd = ::CreateDialogParamA(Win32Instance(), MAKEINTRESOURCEA(m_template.nID), hParent,
                                  &DialogProc, reinterpret_cast<LPARAM>(this));
    if (m_hWnd == nullptr) return false;
    Win32RememberDialog(m_hWnd);
    // Without the system's accessibility the controls keep the names it gives them.
    Win32Annotate(m_hWnd, m_template);
    Centre(hParent);
    // Where the dialog manager would have put the focus at creation (see DialogProc).
    m_hFocusOnShow = ::GetNextDlgTabItem(m_hWnd, nullptr, FALSE);
    return true;
}

void CWin32DialogImpl::Show(int nCmdShow) {
    if (nCmdShow == SW_HIDE) {
        // The control that has the focus gets it back when the dialog is shown again.
        HWND hFocus = ::GetFocus();
        if (hFocus != nullptr && ::IsChild(m_hWnd, hFocus)) m_hFocusOnShow = hFocus;
        ::ShowWindow(m_hWnd, SW_HIDE);
        // The system moves the focus on with the activation; should a control keep it all the
        // same, its caret would go on blinking unseen.
        hFocus = ::GetFocus();
        if (hFocus != nullptr && (hFocus == m_hWnd || ::IsChild(m_hWnd, hFocus)))
            ::SetFocus(nullptr);
        return;
    }
    const bool bWasHidden = !IsVisible();
    ::ShowWindow(m_hWnd, nCmdShow);
    if (bWasHidden && m_hFocusOnShow != nullptr) {
        // Should the window still be hidden, FocusItem keeps the control waiting.
        const int id = ::GetDlgCtrlID(m_hFocusOnShow);
        m_hFocusOnShow = nullptr;
        FocusItem(id);
    }
}

void CWin32DialogImpl::FocusItem(int id) {
    HWND hItem = Item(id);
    if (hItem == nullptr) return;
    if (!IsVisible()) {
        // A hidden dialog holds no focus: it waits for the dialog to be shown. The text is
        // selected now, as it will be then.
        m_hFocusOnShow = hItem;
        if (::SendMessageA(hItem, WM_GETDLGCODE, 0, 0) & DLGC_HASSETSEL)
            ::SendMessageA(hItem, EM_SETSEL, 0, -1);
        return;
    }
    // Through the dialog manager, which also selects an edit's whole text.
    ::SendMessageA(m_hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(hItem), TRUE);
}

void CWin32DialogImpl::Centre(HWND hParent) {
    RECT work{};
    const HMONITOR hMonitor =
        ::MonitorFromWindow(hParent != nullptr ? hParent : m_hWnd, MONITOR_DEFAULTTOPRIMARY);
    MONITORINFO info{};
    info.cbSize = sizeof info;
    if (::GetMonitorInfoA(hMonitor, &info))
        work = info.rcWork;
    else
        ::SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    // A hidden owner still has its place, which is where the box belongs.
    RECT area = work;
    if (hParent != nullptr) ::GetWindowRect(hParent, &area);
    RECT rect{};
    ::GetWindowRect(m_hWnd, &rect);
    const LONG cx = rect.right - rect.left;
    const LONG cy = rect.bottom - rect.top;
    LONG x = area.left + (area.right - area.left - cx) / 2;
    LONG y = area.top + (area.bottom - area.top - cy) / 2;
    // Whole on the screen, the caption first.
    if (x + cx > work.right) x = work.right - cx;
    if (y + cy > work.bottom) y = work.bottom - cy;
    if (x < work.left) x = work.left;
    if (y < work.top) y = work.top;
    ::SetWindowPos(m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CWin32DialogImpl::ListAssign(int id, const std::vector<CString>& entries) {
    HWND hList = Item(id);
    if (hList == nullptr) return;
    // Entry by entry, the control grows its storage and redraws and resizes its scroll bar
    // each time: 200,000 servers took seconds. Room for all of them first, then one redraw.
    std::size_t nBytes = 0;
    for (const CString& entry : entries) nBytes += entry.size() + 1;
    const bool bShown = (::GetWindowLongA(hList, GWL_STYLE) & WS_VISIBLE) != 0;
    ::SendMessageA(hList, WM_SETREDRAW, FALSE, 0);
    ::SendMessageA(hList, LB_RESETCONTENT, 0, 0);
    ::SendMessageA(hList, LB_INITSTORAGE, static_cast<WPARAM>(entries.size()),
                   static_cast<LPARAM>(nBytes));
    // At the framework's index, as the control's own sorting orders by another rule.
    for (std::size_t i = 0; i < entries.size(); ++i)
        ::SendMessageA(hList, LB_INSERTSTRING, static_cast<WPARAM>(i),
                       reinterpret_cast<LPARAM>(entries[i].c_str()));
    ::SendMessageA(hList, WM_SETREDRAW, TRUE, 0);
    // Turning the redraw back on may show a control that was hidden.
    if (!bShown) ::ShowWindow(hList, SW_HIDE);
    ::InvalidateRect(hList, nullptr, TRUE);
}

void CWin32DialogImpl::Destroy() {
    m_bDestroyed = true;
    if (m_bInModalLoop) {
        m_bEndModal = true;
        m_nModalResult = IDCANCEL;
    }
    // The owner comes back before the box goes, so activation returns to it.
    if (m_hModalOwner != nullptr) {
        ::EnableWindow(m_hModalOwner, TRUE);
        m_hModalOwner = nullptr;
    }
    Show(SW_HIDE);
}

int CWin32DialogImpl::RunModal() {
    HWND hOwner = ::GetWindow(m_hWnd, GW_OWNER);
    if (hOwner != nullptr && ::IsWindowEnabled(hOwner)) {
        ::EnableWindow(hOwner, FALSE);
        m_hModalOwner = hOwner;
    }
    Show(SW_SHOW);
    ::SetForegroundWindow(m_hWnd);
    m_bInModalLoop = true;
    m_bEndModal = m_bDestroyed;
    while (!m_bEndModal) {
        if (!Win32PumpMessage()) break;  // the quit message stays for the outer loop
    }
    m_bInModalLoop = false;
    if (m_hModalOwner != nullptr) {
        ::EnableWindow(m_hModalOwner, TRUE);
        m_hModalOwner = nullptr;
    }
    return m_nModalResult;
}

INT_PTR CALLBACK CWin32DialogImpl::DialogProc(HWND hWnd, UINT message, WPARAM wParam,
                                              LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        ::SetWindowLongPtrA(hWnd, DWLP_USER, lParam);
        // The framework runs its own initialisation once creation has returned. No focus yet:
        // the dialog is made hidden, and a focused edit's caret would blink for as long as it
        // stays so (the main dialog sits in the tray for hours). Show gives it instead.
        return FALSE;
    }
    auto* self = reinterpret_cast<CWin32DialogImpl*>(::GetWindowLongPtrA(hWnd, DWLP_USER));
    if (self == nullptr || self->m_bDestroyed) return FALSE;
    return self->OnMessage(message, wParam, lParam);
}

bool CWin32DialogImpl::IsForHandlers(UINT message, WPARAM wParam) {
    switch (message) {
        case WM_COMMAND:
            // Clicks, Enter and Escape; the notifications controls send about themselves
            // (an edit changed, a list selection moved) are nobody's command.
            return HIWORD(wParam) == BN_CLICKED || HIWORD(wParam) == 1;
        case WM_CLOSE:
        case WM_TIMER:
        case WM_SYSCOMMAND:
            return true;
        default:
            // The program's own messages (the tray's among them).
            return message >= WM_APP && message <= 0xBFFF;
    }
}

INT_PTR CWin32DialogImpl::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    // A probe waits: whatever would run a handler now comes back after it (a click through a
    // control of ours, or a message another program sent).
    if (IsForHandlers(message, wParam) && Win32HoldDuringWait(m_hWnd, message, wParam, lParam)) {
        ::SetWindowLongPtrA(m_hWnd, DWLP_MSGRESULT, 0);
        return TRUE;
    }
    switch (message) {
        case WM_COMMAND:
            if (IsForHandlers(message, wParam))
                m_owner.SendMessage(WM_COMMAND, LOWORD(wParam), lParam);
            return TRUE;
        case WM_CLOSE:
            m_owner.SendMessage(WM_CLOSE);
            return TRUE;
        case WM_TIMER:
            m_owner.SendMessage(WM_TIMER, wParam, lParam);
            return TRUE;
        case WM_QUERYENDSESSION:
            // Nothing to save: the session may end whenever it likes.
            ::SetWindowLongPtrA(m_hWnd, DWLP_MSGRESULT, TRUE);
            return TRUE;
        case WM_ENDSESSION:
            // The process may be ended as soon as this returns.
            if (wParam != FALSE) Win32EndSession();
            return TRUE;
        case WM_SYSCOMMAND:
            // Seen by the program; moving the window and the like still get their default.
            m_owner.SendMessage(WM_SYSCOMMAND, wParam, lParam);
            return FALSE;
        case WM_QUERYDRAGICON:
            return static_cast<INT_PTR>(m_owner.SendMessage(WM_QUERYDRAGICON, wParam, lParam));
        default:
            // The program's own messages (the tray's among them).
            if (message >= WM_APP && message <= 0xBFFF) {
                ::SetWindowLongPtrA(m_hWnd, DWLP_MSGRESULT,
                                    m_owner.SendMessage(message, wParam, lParam));
                return TRUE;
            }
            return FALSE;
    }
}

}  // namespace

std::unique_ptr<CWndImpl> CreateDialogImpl(CWnd& owner, const CDialogTemplate& tmpl, CWnd* pParent,
                                           bool /*bModal*/) {
    // Modal or not, the window is the same; RunModal makes it modal while it runs.
    auto impl = std::make_unique<CWin32DialogImpl>(owner, tmpl);
    if (!impl->Create(Win32HwndOf(pParent))) return nullptr;
    return impl;
}

HWND Win32HwndOf(CWnd* pWnd) {
    if (pWnd == nullptr) return nullptr;
    auto* impl = dynamic_cast<CWin32DialogImpl*>(
        const_cast<CWndImpl*>(static_cast<const CWndImpl*>(pWnd->GetSafeHwnd())));
    if (impl == nullptr) return nullptr;
    return pWnd->GetDlgCtrlID() != 0 ? ::GetDlgItem(impl->Hwnd(), pWnd->GetDlgCtrlID())
                                     : impl->Hwnd();
}

HINSTANCE Win32Instance() { return ::GetModuleHandleA(nullptr); }

CString Win32WindowText(HWND hWnd) {
    if (hWnd == nullptr) return {};
    CString text(static_cast<std::size_t>(::GetWindowTextLengthA(hWnd)) + 1, '\0');
    const int n = ::GetWindowTextA(hWnd, &text[0], static_cast<int>(text.size()));
    text.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return text;
}

CString AfxLoadString(UINT nID) {
    // The STRINGTABLE of the executable; a program built without the resource script (some
    // tests) reads the same texts compiled in.
    char text[1024];
    const int n = ::LoadStringA(::GetModuleHandleA(nullptr), nID, text, sizeof text);
    return n > 0 ? CString(text, static_cast<std::size_t>(n)) : LoadResString(nID);
}
