#pragma once
// What the window layer needs from the toolkit underneath: one native dialog window with the
// controls of its template. One backend is compiled per platform; this header names no
// toolkit type.

#include <functional>
#include <memory>
#include <vector>

#include "base/wintypes.h"

class CWnd;
struct CDialogTemplate;

class CWndImpl {
public:
    virtual ~CWndImpl() = default;

    virtual void Show(int nCmdShow) = 0;
    virtual bool IsVisible() const = 0;
    // Shown but minimised by the user or the window manager.
    virtual bool IsMinimized() const = 0;
    virtual void SetForeground() = 0;
    virtual void SetIcon(HICON icon, bool bBig) = 0;
    virtual void SetTitle(const CString& text) = 0;
    virtual CString GetTitle() const = 0;
    // Hides the window and stops every event from it; the native object lives on until the
    // impl is deleted, so a handler still running on it never touches freed memory.
    virtual void Destroy() = 0;
    virtual int RunModal() = 0;
    virtual void EndModal(int nResult) = 0;

    // Controls, by template id.
    virtual bool HasItem(int id) const = 0;
    virtual CString GetItemText(int id) const = 0;
    virtual void SetItemText(int id, const CString& text) = 0;
    virtual int GetItemCheck(int id) const = 0;
    virtual void SetItemCheck(int id, int nCheck) = 0;
    virtual void LimitItemText(int id, int nChars) = 0;
    // Moves the focus; edits get all their text selected, as the dialog manager does.
    virtual void FocusItem(int id) = 0;
    virtual int GetFocusItem() const = 0;  // 0 when the focus is elsewhere
    virtual bool IsItemTextSelectedWhole(int id) const = 0;

    // List boxes: the framework keeps the model; the backend only mirrors it.
    virtual void ListInsert(int id, int nIndex, const CString& text) = 0;
    virtual void ListDelete(int id, int nIndex) = 0;
    virtual void ListReset(int id) = 0;
    // The whole list at once, in the order given, in place of what the control showed.
    virtual void ListAssign(int id, const std::vector<CString>& entries) {
        ListReset(id);
        for (std::size_t i = 0; i < entries.size(); ++i)
            ListInsert(id, static_cast<int>(i), entries[i]);
    }
    virtual int ListGetCurSel(int id) const = 0;
    virtual void ListSetCurSel(int id, int nIndex) = 0;
};

// Creates the native window for a dialog; events from it go to owner.SendMessage.
std::unique_ptr<CWndImpl> CreateDialogImpl(CWnd& owner, const CDialogTemplate& tmpl, CWnd* pParent,
                                           bool bModal);

// Ends the message loop once the current handler has returned.
void AfxPostQuitMessage(int nExitCode);

// Requests from outside to end the process (SIGTERM, SIGINT, SIGHUP on Linux): from
// AfxBeginEndWatch to AfxEndEndWatch such a request no longer kills the process. While the
// message loop runs it reaches the main window as WM_CLOSE; before that, during start-up, it
// closes any box that is open and AfxEndRequested tells the start-up code to give up.
void AfxBeginEndWatch();
void AfxEndEndWatch();
bool AfxEndRequested();

// Called at the very moment of an end request, whatever the program is doing, so that work
// blocking the loop (an echo request waiting for its answer) can be cut short. It runs in a
// signal handler: it may only do what is async-signal-safe. Null for none.
void AfxSetEndInterrupt(void (*pfnInterrupt)());

// Runs work on a thread of its own while this, the user-interface thread, goes on serving the
// system: painting, the tray host, the window manager and the session. Input meant for the
// program's handlers that comes meanwhile (clicks, keys, the tray's clicks, timer ticks) is
// held and reaches them after the handler that waits has returned, in the order it came, so
// no handler runs inside another; a request repeated meanwhile (the same click on the icon) is
// held once, and a flood is cut short. A close request for the main window, or the end of the
// session, ends the wait at once: the end interrupt is called, the request itself comes once
// the handler has returned, what was held is dropped, AfxEndRequested becomes true and false
// is returned. The work may then still be
// running, so it must own everything it touches; once an end was requested every later call
// returns false at once without running it. True when the work ran to its end.
bool AfxWaitServing(std::function<void()> work);

// Runs the message loop until a quit message; returns its code.
int AfxRunMessageLoop(CWnd& mainWnd);
