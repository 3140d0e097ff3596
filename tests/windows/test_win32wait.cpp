// A probe's wait on the real Win32 backend, under Wine: the dialog's thread waits for the
// request's event while it answers the system, and what the program's handlers would get
// meanwhile reaches them only after the handler that waits has returned. Another thread of this
// process stands in for the other programs, the session, and the system that signals the event
// once the answer is in: to the window it is the same.
//
// An end request lasts for the rest of the process, so each case that makes one runs as a
// CTest test of its own (doctest's --test-case).

#include <doctest/doctest.h>

#include <functional>
#include <vector>

#include "framework/dialog.h"
#include "framework/windows/win32backend.h"
#include "framework/windows/win32loop.h"
#include "platform/windows/win32platform.h"
#include "res/resource.h"
#include "res/resources.h"

namespace {

// Starts a wait when it arrives, as a timer tick starts a probe.
constexpr UINT kStartWait = WM_APP + 1;
constexpr UINT kTrayMessage = WM_APP + 100;

struct CHandled {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    bool bDuringWait;
};

// The program's main dialog as far as the wait goes: it records every handler it runs.
class CWaitDlg : public CDialog {
public:
    explicit CWaitDlg(CPlatform& platform) : CDialog(KeepAliveDialogTemplate(), platform) {}
    ~CWaitDlg() override {
        for (HANDLE hEvent : m_events) AfxCloseEvent(hEvent);
    }

    // Each wait's event, made as a probe makes it for its request, unsignalled; the first is
    // handed to the stand-in for the system once the wait is about to start.
    std::vector<HANDLE> m_events;
    HANDLE volatile m_hFirstEvent = nullptr;
    HANDLE m_hStarted = nullptr;
    // What the handler that waits saw: each wait's result and the time it took.
    std::vector<bool> m_results;
    std::vector<DWORD> m_waitMs;
    int m_nWaits = 1;
    bool m_bEndRequestedAfter = false;
    std::vector<CHandled> m_handled;
    volatile bool m_bClosed = false;

    std::vector<CHandled> Handled(UINT message) const {
        std::vector<CHandled> found;
        for (const CHandled& h : m_handled) {
            if (h.message == message) found.push_back(h);
        }
        return found;
    }

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message == kStartWait) {
            m_bWaiting = true;
            for (int n = 0; n < m_nWaits; ++n) {
                const HANDLE hEvent = AfxCreateEvent();
                m_events.push_back(hEvent);
                if (n == 0) {
                    m_hFirstEvent = hEvent;
                    if (m_hStarted != nullptr) ::SetEvent(m_hStarted);
                }
                const DWORD dwStart = ::GetTickCount();
                m_results.push_back(AfxWaitServing(hEvent));
                m_waitMs.push_back(::GetTickCount() - dwStart);
            }
            m_bEndRequestedAfter = AfxEndRequested();
            m_bWaiting = false;
            return 0;
        }
        if (message == WM_TIMER || message == WM_COMMAND || message == WM_CLOSE ||
            message == kTrayMessage)
            m_handled.push_back({message, wParam, lParam, m_bWaiting});
        return CDialog::WindowProc(message, wParam, lParam);
    }
    void OnClose() override {
        m_bClosed = true;
        DestroyWindow();
    }

private:
    bool m_bWaiting = false;
};

// A thread that acts on the dialog from outside while the test's thread runs the message loop.
class CHelper {
public:
    explicit CHelper(std::function<void()> act) : m_act(std::move(act)) {
        m_hThread = ::CreateThread(nullptr, 0, &Run, this, 0, nullptr);
    }
    ~CHelper() { Join(); }
    CHelper(const CHelper&) = delete;
    CHelper& operator=(const CHelper&) = delete;
    bool Started() const { return m_hThread != nullptr; }
    // What it found is read only once it is done.
    void Join() {
        if (m_hThread == nullptr) return;
        ::WaitForSingleObject(m_hThread, 30000);
        ::CloseHandle(m_hThread);
        m_hThread = nullptr;
    }

private:
    static DWORD WINAPI Run(void* pParam) {
        static_cast<CHelper*>(pParam)->m_act();
        return 0;
    }
    std::function<void()> m_act;
    HANDLE m_hThread = nullptr;
};

class CEvent {
public:
    CEvent() : m_h(::CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
    ~CEvent() { ::CloseHandle(m_h); }
    CEvent(const CEvent&) = delete;
    CEvent& operator=(const CEvent&) = delete;
    HANDLE Get() const { return m_h; }
    void Set() { ::SetEvent(m_h); }
    bool Wait(DWORD dwMs) { return ::WaitForSingleObject(m_h, dwMs) == WAIT_OBJECT_0; }

private:
    HANDLE m_h;
};

// The milliseconds a message sent from this thread took to be answered; -1 when it was not
// within a second.
long AnswerMs(HWND hWnd, UINT message, WPARAM wParam, DWORD_PTR& dwResult) {
    const DWORD dwStart = ::GetTickCount();
    if (!::SendMessageTimeoutA(hWnd, message, wParam, 0, SMTO_NORMAL, 1000, &dwResult)) return -1;
    return static_cast<long>(::GetTickCount() - dwStart);
}

bool NeedsPainting(HWND hWnd) {
    if (::GetUpdateRect(hWnd, nullptr, FALSE)) return true;
    for (HWND hChild = ::GetWindow(hWnd, GW_CHILD); hChild != nullptr;
         hChild = ::GetWindow(hChild, GW_HWNDNEXT)) {
        if (::GetUpdateRect(hChild, nullptr, FALSE)) return true;
    }
    return false;
}

// Runs the main loop of the dialog, as the program does, until the dialog is gone.
int RunMainLoop(CWaitDlg& dlg) {
    dlg.SetMainWindow(true);
    return AfxRunMessageLoop(dlg);
}

}  // namespace

TEST_CASE(
    "a probe's wait answers the system and holds what the handlers would get until it is over") {
    CWin32Platform platform;
    CWaitDlg dlg(platform);
    REQUIRE(dlg.Create());
    dlg.ShowWindow(SW_SHOW);
    HWND hDlg = Win32HwndOf(&dlg);
    CEvent started;
    dlg.m_hStarted = started.Get();

    long nNullMs = -1;
    long nQueryMs = -1;
    DWORD_PTR dwQuery = 0;
    bool bPainted = false;
    bool bSentClickReturned = false;
    unsigned long nWakeupsHeld = 0;
    DWORD dwSignalledAfterMs = 0;
    CHelper helper([&] {
        if (!started.Wait(5000)) return;
        const DWORD dwStart = ::GetTickCount();
        DWORD_PTR dwResult = 0;
        nNullMs = AnswerMs(hDlg, WM_NULL, 0, dwResult);
        nQueryMs = AnswerMs(hDlg, WM_QUERYENDSESSION, 0, dwQuery);
        ::RedrawWindow(hDlg, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
        for (int n = 0; n < 200 && !(bPainted = !NeedsPainting(hDlg)); ++n) ::Sleep(5);

        // What the handlers get, in the order it comes: posted (a tray that posts, a queued
        // command), sent without waiting (Wine's tray), and a button clicked by another
        // program, whose command comes from the button itself.
        ::PostMessageA(hDlg, kTrayMessage, 128, WM_LBUTTONDOWN);
        ::PostMessageA(hDlg, WM_COMMAND, IDC_ADD, 0);
        // Clicked again and again, the icon's button still counts once.
        for (int n = 0; n < 3; ++n) ::SendNotifyMessageA(hDlg, kTrayMessage, 128, WM_RBUTTONDOWN);
        bSentClickReturned = ::SendMessageTimeoutA(::GetDlgItem(hDlg, IDC_REMOVE), BM_CLICK, 0, 0,
                                                   SMTO_NORMAL, 1000, &dwResult) != 0;
        // Held input and a timer ticking every 10 ms must not keep the wait busy.
        const unsigned long nBefore = Win32WaitWakeups();
        ::Sleep(300);
        nWakeupsHeld = Win32WaitWakeups() - nBefore;
        // The answer is in: the system signals the request's event.
        dwSignalledAfterMs = ::GetTickCount() - dwStart;
        AfxSetEvent(dlg.m_hFirstEvent);
        ::Sleep(100);
        ::PostMessageA(hDlg, WM_CLOSE, 0, 0);
    });
    REQUIRE(helper.Started());
    dlg.SetTimer(1, 10);
    ::PostMessageA(hDlg, kStartWait, 0, 0);
    CHECK(RunMainLoop(dlg) == 0);
    helper.Join();

    REQUIRE(dlg.m_results.size() == 1);
    CHECK(dlg.m_results[0]);
    CHECK_FALSE(AfxEndRequested());
    // It waited for the event, and no longer: everything above was served meanwhile.
    CHECK(dwSignalledAfterMs >= 300);
    CHECK(dlg.m_waitMs[0] + 50 >= dwSignalledAfterMs);
    CHECK(dlg.m_waitMs[0] < dwSignalledAfterMs + 1000);
    CHECK(nNullMs >= 0);
    CHECK(nNullMs < 100);
    CHECK(nQueryMs >= 0);
    CHECK(nQueryMs < 100);
    CHECK(dwQuery == TRUE);
    CHECK(bPainted);
    CHECK(bSentClickReturned);
    CHECK(nWakeupsHeld <= 3);

    // Nothing reached a handler during the wait; afterwards all of it, in order.
    for (const CHandled& h : dlg.m_handled) CHECK_FALSE(h.bDuringWait);
    std::vector<CHandled> order;
    for (const CHandled& h : dlg.m_handled) {
        if (h.message != WM_TIMER) order.push_back(h);
    }
    REQUIRE(order.size() == 5);
    CHECK(order[0].message == kTrayMessage);
    CHECK(order[0].lParam == WM_LBUTTONDOWN);
    CHECK(order[1].message == WM_COMMAND);
    CHECK(LOWORD(order[1].wParam) == IDC_ADD);
    CHECK(order[2].message == kTrayMessage);
    CHECK(order[2].lParam == WM_RBUTTONDOWN);
    CHECK(order[3].message == WM_COMMAND);
    CHECK(LOWORD(order[3].wParam) == IDC_REMOVE);
    CHECK(order[4].message == WM_CLOSE);
    CHECK_FALSE(dlg.Handled(WM_TIMER).empty());
}

TEST_CASE("an event signalled already ends the wait at once, with nothing served or held") {
    CWin32Platform platform;
    CWaitDlg dlg(platform);
    REQUIRE(dlg.Create());
    HWND hDlg = Win32HwndOf(&dlg);
    // The usual case on a near host: the answer is in before the wait begins.
    const HANDLE hEvent = AfxCreateEvent();
    REQUIRE(hEvent != nullptr);
    AfxSetEvent(hEvent);
    ::PostMessageA(hDlg, kTrayMessage, 128, WM_LBUTTONDOWN);
    ::PostMessageA(hDlg, WM_CLOSE, 0, 0);
    const unsigned long nBefore = Win32WaitWakeups();
    CHECK(AfxWaitServing(hEvent));
    CHECK(AfxWaitServing(hEvent));
    CHECK(Win32WaitWakeups() == nBefore);
    CHECK(AfxWaitEvent(hEvent, 0));
    AfxCloseEvent(hEvent);
    // Nor is the close taken for an end: it reaches the dialog in the main loop, in order.
    CHECK(RunMainLoop(dlg) == 0);
    CHECK_FALSE(AfxEndRequested());
    REQUIRE(dlg.m_handled.size() == 2);
    CHECK(dlg.m_handled[0].message == kTrayMessage);
    CHECK(dlg.m_handled[1].message == WM_CLOSE);
    // Without an event there is nothing to wait for.
    CHECK_FALSE(AfxWaitServing(nullptr));
    CHECK_FALSE(AfxWaitEvent(nullptr, 0));
}

TEST_CASE("a close request ends the wait at once; the event is not waited for after it") {
    // Loaded only here, so that whether it goes tells what FreeLibrary did.
    REQUIRE(::GetModuleHandleA("icmp.dll") == nullptr);
    CWin32Platform platform;
    HMODULE hIcmp = platform.LoadLibrary("icmp.dll");
    REQUIRE(hIcmp != nullptr);

    CWaitDlg dlg(platform);
    REQUIRE(dlg.Create());
    HWND hDlg = Win32HwndOf(&dlg);
    CEvent started;
    dlg.m_hStarted = started.Get();
    dlg.m_nWaits = 2;
    // As taskkill does it: posted to the hidden main window while the request waits, after
    // right clicks on the icon, posted by one tray and sent by another. The system never
    // signals the event meanwhile.
    CHelper helper([&] {
        if (!started.Wait(5000)) return;
        for (int n = 0; n < 3; ++n) {
            ::PostMessageA(hDlg, kTrayMessage, 128, WM_RBUTTONDOWN);
            ::SendNotifyMessageA(hDlg, kTrayMessage, 128, WM_RBUTTONDOWN);
        }
        ::PostMessageA(hDlg, WM_CLOSE, 0, 0);
    });
    REQUIRE(helper.Started());
    const DWORD dwStart = ::GetTickCount();
    ::PostMessageA(hDlg, kStartWait, 0, 0);
    CHECK(RunMainLoop(dlg) == 0);
    const DWORD dwLoopMs = ::GetTickCount() - dwStart;
    helper.Join();

    // The wait gave up at once, and the next one did not wait at all; the close came after.
    REQUIRE(dlg.m_events.size() == 2);
    CHECK(dlg.m_results == std::vector<bool>{false, false});
    CHECK(dlg.m_waitMs[0] < 1000);
    CHECK(dlg.m_waitMs[1] < 100);
    CHECK(dwLoopMs < 2000);
    for (HANDLE hEvent : dlg.m_events) CHECK_FALSE(AfxWaitEvent(hEvent, 0));
    CHECK(dlg.m_bEndRequestedAfter);
    CHECK(AfxEndRequested());
    const std::vector<CHandled> closes = dlg.Handled(WM_CLOSE);
    CHECK(closes.size() == 1);
    for (const CHandled& h : closes) CHECK_FALSE(h.bDuringWait);
    CHECK(dlg.m_bClosed);
    // The clicks that came with it were dropped: no box opens that the end would wait behind.
    CHECK(dlg.Handled(kTrayMessage).empty());

    // The request given up runs nothing of the library's: it goes at once.
    platform.FreeLibrary(hIcmp);
    CHECK(::GetModuleHandleA("icmp.dll") == nullptr);
    // The system signals the event late, once it let go of the request's buffer: a wait for
    // that is bounded, and sees it.
    CHECK_FALSE(AfxWaitEvent(dlg.m_events[0], 50));
    CHelper late([&] {
        ::Sleep(100);
        AfxSetEvent(dlg.m_events[0]);
    });
    REQUIRE(late.Started());
    CHECK(AfxWaitEvent(dlg.m_events[0], 5000));
    late.Join();
    // And a wait after the end still does not wait for it.
    CHECK_FALSE(AfxWaitServing(dlg.m_events[0]));
}

TEST_CASE("the end of the session closes the main window before it is answered") {
    CWin32Platform platform;
    CWaitDlg dlg(platform);
    REQUIRE(dlg.Create());
    HWND hDlg = Win32HwndOf(&dlg);
    long nQueryMs = -1;
    long nEndMs = -1;
    DWORD_PTR dwQuery = 0;
    bool bClosedWhenAnswered = false;
    CHelper helper([&] {
        // The loop runs once the dialog answers.
        DWORD_PTR dwResult = 0;
        for (int n = 0; n < 100 && AnswerMs(hDlg, WM_NULL, 0, dwResult) < 0; ++n) ::Sleep(10);
        nQueryMs = AnswerMs(hDlg, WM_QUERYENDSESSION, 0, dwQuery);
        nEndMs = AnswerMs(hDlg, WM_ENDSESSION, TRUE, dwResult);
        bClosedWhenAnswered = dlg.m_bClosed;
    });
    REQUIRE(helper.Started());
    CHECK(RunMainLoop(dlg) == 0);
    helper.Join();

    CHECK(nQueryMs >= 0);
    CHECK(dwQuery == TRUE);
    CHECK(nEndMs >= 0);
    CHECK(bClosedWhenAnswered);
    CHECK(AfxEndRequested());
    // A probe after that waits for nothing, not even an answer that is in already.
    const HANDLE hEvent = AfxCreateEvent();
    REQUIRE(hEvent != nullptr);
    AfxSetEvent(hEvent);
    CHECK_FALSE(AfxWaitServing(hEvent));
    AfxCloseEvent(hEvent);
}
