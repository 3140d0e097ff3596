// The message loop of the Win32 backend. A request to end from outside comes as the system's
// own messages (WM_CLOSE, or the end of the session), which the dialog handles as ever.

#include "framework/win32/win32loop.h"

#include <set>

#include "framework/backend.h"
#include "framework/wnd.h"

namespace {

std::set<HWND> g_dialogs;

}  // namespace

void Win32Dispatch(MSG& msg) {
    HWND hRoot = msg.hwnd != nullptr ? ::GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
    if (hRoot != nullptr && g_dialogs.count(hRoot) != 0 && ::IsDialogMessageA(hRoot, &msg)) return;
    ::TranslateMessage(&msg);
    ::DispatchMessageA(&msg);
}

void Win32RememberDialog(HWND hDialog) { g_dialogs.insert(hDialog); }

void Win32ForgetDialog(HWND hDialog) { g_dialogs.erase(hDialog); }

bool Win32PumpMessage() {
    MSG msg;
    const BOOL bGot = ::GetMessageA(&msg, nullptr, 0, 0);
    if (bGot == 0) {
        ::PostQuitMessage(static_cast<int>(msg.wParam));
        return false;
    }
    if (bGot == -1) return false;
    Win32Dispatch(msg);
    return true;
}

void AfxPostQuitMessage(int nExitCode) { ::PostQuitMessage(nExitCode); }

void AfxBeginEndWatch() {}
void AfxEndEndWatch() {}
bool AfxEndRequested() { return false; }
void AfxSetEndInterrupt(void (*)()) {}

bool AfxWaitServing(std::function<void()> work) {
    work();
    return true;
}

int AfxRunMessageLoop(CWnd& /*mainWnd*/) {
    MSG msg;
    for (;;) {
        const BOOL bGot = ::GetMessageA(&msg, nullptr, 0, 0);
        if (bGot == 0) return static_cast<int>(msg.wParam);
        if (bGot == -1) return -1;
        Win32Dispatch(msg);
    }
}
