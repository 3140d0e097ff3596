// The message loop of the Win32 backend, and the wait of a probe that keeps the program
// answering the system. A request to end from outside comes as the system's own messages
// (WM_CLOSE, or the end of the session), which the dialog handles as ever, or which end a wait.

#include "framework/windows/win32loop.h"

#include <set>
#include <vector>

#include "framework/backend.h"
#include "framework/windows/win32backend.h"
#include "framework/wnd.h"

namespace {

std::set<HWND> g_dialogs;
HWND g_hMainWnd = nullptr;  // while the main loop runs
bool g_bEndRequested = false;
bool g_bSessionEnded = false;

// The wait under way, on the user-interface thread, and what reached the handlers meanwhile.
bool g_bServing = false;
std::vector<MSG> g_held;
// Whatever comes, a wait holds no more than this; the rest of a flood is dropped.
constexpr std::size_t kMaxHeld = 512;
unsigned long g_nWakeups = 0;

// What wakes a wait: messages sent to this thread (the session's, other programs'), painting,
// and posted messages, among them a close request. Input and timer ticks are not in it: they
// stay queued for the handlers and must not keep the wait busy.
constexpr DWORD kServedWakeMask = QS_SENDMESSAGE | QS_PAINT | QS_POSTMESSAGE;
// A window that never validates itself would keep the painting loop going.
constexpr int kMaxPaintsPerWakeup = 64;

// One wake-up: the sent messages are handled inside PeekMessage itself, whatever it looks for;
// painting is done; a close request is taken out of the queue and held. All else stays queued.
// The close is looked for last: every look at the queue makes what is in it old to the next
// wait, so a close posted between two looks would otherwise wake nothing.
void ServeQueue() {
    MSG msg;
    for (int n = 0;
         n < kMaxPaintsPerWakeup && ::PeekMessageA(&msg, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE);
         ++n)
        ::DispatchMessageA(&msg);
    while (::PeekMessageA(&msg, nullptr, WM_CLOSE, WM_CLOSE, PM_REMOVE))
        Win32HoldDuringWait(msg.hwnd, msg.message, msg.wParam, msg.lParam);
}

// Serves the system until the event is signalled (true) or an end is requested (false).
bool ServeUntilSignalled(HANDLE hEvent) {
    while (!g_bEndRequested) {
        const DWORD dwWoken =
            ::MsgWaitForMultipleObjects(1, &hEvent, FALSE, INFINITE, kServedWakeMask);
        if (dwWoken == WAIT_OBJECT_0) return true;
        // The queue cannot be waited on: the system still signals the event in its own time
        // (an echo request's timeout), unserved meanwhile as a busy program would be.
        if (dwWoken != WAIT_OBJECT_0 + 1)
            return ::WaitForSingleObject(hEvent, INFINITE) == WAIT_OBJECT_0 && !g_bEndRequested;
        ++g_nWakeups;
        ServeQueue();
    }
    return false;
}

// What was held during the wait, posted again in the order it came; after an end request only
// the close, which ends the program.
void PostHeld() {
    std::vector<MSG> held;
    held.swap(g_held);
    for (const MSG& msg : held) {
        if (!g_bEndRequested || msg.message == WM_CLOSE)
            ::PostMessageA(msg.hwnd, msg.message, msg.wParam, msg.lParam);
    }
}

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

bool Win32HoldDuringWait(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (g_bEndRequested && message != WM_CLOSE) return true;
    if (!g_bServing) return false;
    if (message == WM_CLOSE && hWnd != nullptr && hWnd == g_hMainWnd) g_bEndRequested = true;
    for (const MSG& held : g_held) {
        if (held.hwnd == hWnd && held.message == message && held.wParam == wParam &&
            held.lParam == lParam)
            return true;
    }
    if (g_held.size() >= kMaxHeld) return true;
    MSG msg{};
    msg.hwnd = hWnd;
    msg.message = message;
    msg.wParam = wParam;
    msg.lParam = lParam;
    g_held.push_back(msg);
    return true;
}

void Win32EndSession() {
    g_bEndRequested = true;
    // Every window of ours is told; the main one is closed once. During start-up there is none
    // yet: start-up gives up once its box is closed.
    if (g_bSessionEnded || g_hMainWnd == nullptr || !::IsWindow(g_hMainWnd)) return;
    g_bSessionEnded = true;
    if (!Win32HoldDuringWait(g_hMainWnd, WM_CLOSE, 0, 0))
        ::SendMessageA(g_hMainWnd, WM_CLOSE, 0, 0);
}

unsigned long Win32WaitWakeups() { return g_nWakeups; }

void AfxPostQuitMessage(int nExitCode) { ::PostQuitMessage(nExitCode); }

// Nothing to watch: requests to end come as messages, which never kill the process.
void AfxBeginEndWatch() {}
void AfxEndEndWatch() {}
bool AfxEndRequested() { return g_bEndRequested; }

HANDLE AfxCreateEvent() { return ::CreateEventA(nullptr, TRUE, FALSE, nullptr); }

void AfxCloseEvent(HANDLE hEvent) {
    if (hEvent != nullptr) ::CloseHandle(hEvent);
}

void AfxSetEvent(HANDLE hEvent) {
    if (hEvent != nullptr) ::SetEvent(hEvent);
}

bool AfxWaitEvent(HANDLE hEvent, DWORD dwTimeoutMs) {
    return hEvent != nullptr && ::WaitForSingleObject(hEvent, dwTimeoutMs) == WAIT_OBJECT_0;
}

bool AfxWaitServing(HANDLE hEvent) {
    if (g_bEndRequested || hEvent == nullptr) return false;
    // Answered before anything needed waiting for: nothing served, nothing held.
    if (::WaitForSingleObject(hEvent, 0) == WAIT_OBJECT_0) return true;
    // Nothing of the program's runs during a wait, so a wait inside another is only the
    // system's doing: the outer one keeps what was held and posts it.
    if (g_bServing) return ServeUntilSignalled(hEvent);
    g_bServing = true;
    const bool bSignalled = ServeUntilSignalled(hEvent);
    g_bServing = false;
    PostHeld();
    return bSignalled;
}

int AfxRunMessageLoop(CWnd& mainWnd) {
    g_hMainWnd = Win32HwndOf(&mainWnd);
    MSG msg;
    int nCode = -1;
    for (;;) {
        const BOOL bGot = ::GetMessageA(&msg, nullptr, 0, 0);
        if (bGot == 0) {
            nCode = static_cast<int>(msg.wParam);
            break;
        }
        if (bGot == -1) break;
        Win32Dispatch(msg);
    }
    g_hMainWnd = nullptr;
    return nCode;
}
