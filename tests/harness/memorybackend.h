#pragma once
// A window backend for the logic tests that keeps every control's state in memory and needs no
// toolkit, so the same tests run on every platform. Dialogs are never on a screen: showing
// one only marks it visible. A modal dialog's loop runs the hook below, as the user would act
// while it is open, and ends with what the hook sent (IDCANCEL when it ended nothing).

#include <functional>
#include <vector>

#include "base/wintypes.h"
#include "framework/backend.h"

class CWnd;

// The native window of a dialog of this backend.
class CMemoryWnd : public CWndImpl {
public:
    // What a test may ask beyond the window layer's own calls.
    virtual std::vector<CString> ListEntries(int id) const = 0;
    virtual void Minimize() = 0;              // as the user or the window manager would
    virtual int ForegroundCount() const = 0;  // how often it was brought to the front
    virtual UINT IconId() const = 0;          // the big icon set, 0 for none
    virtual bool IsModal() const = 0;
};

// The backend window of a dialog; null when it has none (never created, or gone).
CMemoryWnd* MemoryWndOf(CWnd& dialog);

// Runs inside every modal dialog's loop, with the dialog; null for none.
void MemorySetModalHook(std::function<void(CWnd& dialog)> hook);

// Runs inside every AfxWaitServing, as what arrives during a probe's wait, the answer in already;
// null for none. MemorySetEndRequested(true) there is a close of the main window meanwhile.
void MemorySetWaitHook(std::function<void()> hook);
void MemorySetEndRequested(bool bRequested);

// Whether the message loop was asked to end, and with which code (AfxPostQuitMessage).
bool MemoryQuitPosted(int* pnExitCode = nullptr);
void MemoryResetQuit();
