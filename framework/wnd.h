#pragma once
// A window of the program: a dialog, or one control inside a dialog. Messages reach it through
// SendMessage and are dispatched to its handlers as the system's dialog framework would.
// Every operation on a window that is gone does nothing and reports failure, so a handler that
// outlives its window (closed from inside a message box it shows) never crashes.

#include <memory>
#include <set>

#include "base/wintypes.h"
#include "framework/backend.h"

class CPlatform;

class CWnd {
public:
    CWnd() = default;
    explicit CWnd(CPlatform& platform) : m_pPlatform(&platform) {}
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;
    virtual ~CWnd();

    // Non-null while the window exists.
    const void* GetSafeHwnd() const;
    bool IsWindow() const { return GetSafeHwnd() != nullptr; }

    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);

    BOOL ShowWindow(int nCmdShow);
    BOOL IsWindowVisible() const;
    // Minimised (a minimised window still counts as visible).
    BOOL IsIconic() const;
    BOOL SetForegroundWindow();
    virtual BOOL DestroyWindow();

    void SetWindowText(const CString& text);
    CString GetWindowText() const;
    HICON SetIcon(HICON icon, BOOL bBigIcon);

    // Controls of a dialog; null when there is no such control or the dialog is gone.
    CWnd* GetDlgItem(int nID) const;
    int GetDlgCtrlID() const { return m_nID; }
    void SetFocus();

    UINT_PTR SetTimer(UINT_PTR nIDEvent, UINT nElapse);
    BOOL KillTimer(UINT_PTR nIDEvent);

    // The main window's destruction ends the message loop.
    void SetMainWindow(bool bMain) { m_bMainWindow = bMain; }

protected:
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);

    virtual int OnCreate() { return 0; }
    virtual void OnDestroy() {}
    virtual void OnClose() { DestroyWindow(); }
    virtual void OnTimer(UINT_PTR /*nIDEvent*/) {}
    virtual void OnSysCommand(UINT /*nID*/, LPARAM /*lParam*/) {}
    virtual BOOL OnCommand(WPARAM /*wParam*/, LPARAM /*lParam*/) { return FALSE; }
    // A control wrapper was bound to its dialog's control.
    virtual void OnAttached() {}

    // Native window of a dialog, or of the dialog that holds this control.
    CWndImpl* Impl() const;

    CPlatform* m_pPlatform = nullptr;
    std::unique_ptr<CWndImpl> m_pImpl;
    bool m_bDestroyed = false;

    // Controls: the dialog they belong to and their template id.
    CWnd* m_pOwnerDlg = nullptr;
    int m_nID = 0;

private:
    friend class CDialog;
    bool m_bMainWindow = false;
    std::set<UINT_PTR> m_timers;
    mutable std::set<std::unique_ptr<CWnd>> m_controls;  // wrappers handed out by GetDlgItem
};
