// The message loop of the Qt backend, and the way a request to end the process from outside
// (SIGTERM, SIGINT, SIGHUP) reaches the main window as a close request instead of killing it
// mid-handler.

#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <iterator>
#include <memory>

#include "framework/backend.h"
#include "framework/qt/qtbackend.h"
#include "framework/wnd.h"

namespace {

constexpr int kEndSignals[] = {SIGTERM, SIGINT, SIGHUP};

// What the signal handler touches: plain descriptors and lock-free atomics only.
int g_signalPipe[2] = {-1, -1};
volatile std::sig_atomic_t g_bEndRequested = 0;
std::atomic<void (*)()> g_pfnEndInterrupt{nullptr};
static_assert(std::atomic<void (*)()>::is_always_lock_free);

// The watch, on the user-interface thread.
struct CEndWatch {
    std::unique_ptr<QSocketNotifier> pNotifier;
    struct sigaction previous[std::size(kEndSignals)] = {};
    CWnd* pLoopWnd = nullptr;  // the main window while its message loop runs
};
CEndWatch* g_pEndWatch = nullptr;

extern "C" void OnEndSignal(int) {
    const int savedErrno = errno;
    g_bEndRequested = 1;
    if (auto pfn = g_pfnEndInterrupt.load()) pfn();
    const char byte = 1;
    // The loop picks the byte up; a full pipe already holds a request.
    [[maybe_unused]] const auto written = ::write(g_signalPipe[1], &byte, 1);
    errno = savedErrno;
}

void OnEndRequest() {
    char bytes[16];
    [[maybe_unused]] const auto got = ::read(g_signalPipe[0], bytes, sizeof bytes);
    CWnd* pWnd = g_pEndWatch != nullptr ? g_pEndWatch->pLoopWnd : nullptr;
    if (pWnd != nullptr && pWnd->IsWindow()) {
        // Closed as by the user; its destruction ends the loop.
        pWnd->SendMessage(WM_CLOSE);
    } else {
        // Start-up (a box is open) or the window already gone: leave every loop now.
        QCoreApplication::exit(0);
    }
}

}  // namespace

void AfxPostQuitMessage(int nExitCode) {
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [nExitCode] { QCoreApplication::exit(nExitCode); },
        Qt::QueuedConnection);
}

void AfxSetEndInterrupt(void (*pfnInterrupt)()) { g_pfnEndInterrupt.store(pfnInterrupt); }

bool AfxEndRequested() { return g_bEndRequested != 0; }

bool AfxWaitServing(std::function<void()> work) {
    work();
    return true;
}

void QtDeliver(std::function<void()> deliver) { deliver(); }

void QtCloseRequested(CWnd& /*wnd*/) {}

void AfxBeginEndWatch() {
    if (g_pEndWatch != nullptr) return;
    // Non-blocking on both ends: the handler must never wait, the reader drains what is there.
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_signalPipe) != 0)
        return;
    g_pEndWatch = new CEndWatch;
    g_pEndWatch->pNotifier =
        std::make_unique<QSocketNotifier>(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(g_pEndWatch->pNotifier.get(), &QSocketNotifier::activated, &OnEndRequest);
    struct sigaction action {};
    action.sa_handler = OnEndSignal;
    sigemptyset(&action.sa_mask);
    for (int signal : kEndSignals) sigaddset(&action.sa_mask, signal);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < std::size(kEndSignals); ++i)
        sigaction(kEndSignals[i], &action, &g_pEndWatch->previous[i]);
}

void AfxEndEndWatch() {
    if (g_pEndWatch == nullptr) return;
    for (std::size_t i = 0; i < std::size(kEndSignals); ++i)
        sigaction(kEndSignals[i], &g_pEndWatch->previous[i], nullptr);
    delete g_pEndWatch;
    g_pEndWatch = nullptr;
    ::close(g_signalPipe[0]);
    ::close(g_signalPipe[1]);
    g_signalPipe[0] = g_signalPipe[1] = -1;
}

int AfxRunMessageLoop(CWnd& mainWnd) {
    if (g_pEndWatch != nullptr) g_pEndWatch->pLoopWnd = &mainWnd;
    const int code = QCoreApplication::exec();
    if (g_pEndWatch != nullptr) g_pEndWatch->pLoopWnd = nullptr;
    return code;
}
