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

// Events that a wait watches: manual-reset, made unsignalled, signalled once what they stand
// for is over (an echo request's answer) by the system, or on Linux by the platform's own
// facilities. Null when none can be had; closing null is harmless.
HANDLE AfxCreateEvent();
void AfxCloseEvent(HANDLE hEvent);
// On Linux only on the user-interface thread: a wait for the event (AfxWaitServing) then ends.
void AfxSetEvent(HANDLE hEvent);
// Waits for the event up to dwTimeoutMs without serving anything: true once it is signalled.
// On Linux nothing can signal it meanwhile, so this only tells whether it already is.
bool AfxWaitEvent(HANDLE hEvent, DWORD dwTimeoutMs);

// Waits, without a thread of its own, until the event is signalled, while this, the
// user-interface thread, goes on serving the system: painting, the tray host, the window
// manager and the session. Input meant for the program's handlers that comes meanwhile
// (clicks, keys, the tray's clicks, timer ticks) is held and reaches them after the handler
// that waits has returned, in the order it came, so no handler runs inside another; a request
// repeated meanwhile (the same click on the icon) is held once, and a flood is cut short. A
// close request for the main window, or the end of the session, ends the wait at once: the
// request itself comes once the handler has returned, what was held is dropped,
// AfxEndRequested becomes true and false is returned; whatever the event stands for may then
// still be under way. Once an end was requested every later call returns false at once. True
// when the event was signalled; an event signalled already returns at once.
bool AfxWaitServing(HANDLE hEvent);

// Runs the message loop until a quit message; returns its code.
int AfxRunMessageLoop(CWnd& mainWnd);
