// The message loop of the Qt backend, and the way a request to end the process from outside
// (SIGTERM, SIGINT, SIGHUP) reaches the main window as a close request instead of killing it
// mid-handler.

#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QPointer>
#include <QSocketNotifier>
#include <QWidget>
#include <QWindow>
#include <cerrno>
#include <csignal>
#include <deque>
#include <iterator>
#include <memory>
#include <new>
#include <vector>

#include "framework/backend.h"
#include "framework/linux/qtbackend.h"
#include "framework/wnd.h"

namespace {

constexpr int kEndSignals[] = {SIGTERM, SIGINT, SIGHUP};

// What the signal handler touches: plain descriptors and lock-free atomics only.
int g_signalPipe[2] = {-1, -1};
volatile std::sig_atomic_t g_bEndRequested = 0;

// The watch, on the user-interface thread.
struct CEndWatch {
    std::unique_ptr<QSocketNotifier> pNotifier;
    struct sigaction previous[std::size(kEndSignals)] = {};
    CWnd* pLoopWnd = nullptr;  // the main window while its message loop runs
};
CEndWatch* g_pEndWatch = nullptr;

// A probe's wait, and what came for the program meanwhile (user-interface thread): the user's
// input to its windows and what the toolkit had for its handlers, in the order they came.
struct CHeld {
    // What it is, for those that count once however often they come; null for the others.
    const void* pKind = nullptr;
    // The window a held pointer move goes to: a run of them to one window keeps the last.
    const QObject* pMoveTo = nullptr;
    std::function<void()> deliver;
};
bool g_bWaiting = false;
bool g_bDelivering = false;
// The loops of the waits under way, innermost last: an end request ends them all.
std::vector<QEventLoop*> g_waitLoops;
std::deque<CHeld> g_held;
// Whatever comes, a wait of 15 s holds no more than this; the rest of a flood is dropped.
constexpr std::size_t kMaxHeld = 512;
// An end request that came during a wait: it goes before anything held, which it drops.
std::function<void()> g_pendingEnd;

void Hold(CHeld held) {
    if (held.pKind != nullptr) {
        for (const CHeld& other : g_held) {
            if (other.pKind == held.pKind) return;
        }
    }
    if (held.pMoveTo != nullptr && !g_held.empty() && g_held.back().pMoveTo == held.pMoveTo) {
        g_held.back() = std::move(held);
        return;
    }
    if (g_held.size() < kMaxHeld) g_held.push_back(std::move(held));
}

void DeliverHeld() {
    if (g_bDelivering) return;
    g_bDelivering = true;
    // One held thing may wait in turn (a held tick probes): what comes then queues up behind
    // the rest, and this goes on once it has returned.
    while (!g_held.empty() && !g_bWaiting) {
        std::function<void()> deliver = std::move(g_held.front().deliver);
        g_held.pop_front();
        deliver();
    }
    g_bDelivering = false;
}

bool IsUserInput(QEvent::Type type) {
    switch (type) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseMove:
        case QEvent::Wheel:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
        case QEvent::TouchCancel:
        case QEvent::TabletPress:
        case QEvent::TabletMove:
        case QEvent::TabletRelease:
            return true;
        default:
            return false;
    }
}

// The toolkit's own XEmbed icon: a click on it becomes a request of its own, delivered (and
// held) as one, so its input is not held as input too.
bool IsTrayIconWindow(QObject* pReceiver) {
    auto* pWindow = static_cast<QWindow*>(pReceiver);
    if (pWindow->handle() == nullptr) return false;
    const QWidget* pWidget = QWidget::find(pWindow->winId());
    return pWidget != nullptr && pWidget->inherits("QSystemTrayIconSys");
}

// Keeps the user's input away from the program's windows while a probe waits, to hand it to
// them afterwards as it came. The toolkit's own holding of input would hold a close request
// from the window manager too.
class CInputHold : public QObject {
protected:
    bool eventFilter(QObject* pReceiver, QEvent* pEvent) override {
        if (!pReceiver->isWindowType() || !IsUserInput(pEvent->type())) return false;
        if (IsTrayIconWindow(pReceiver)) return false;
        const bool bMove = pEvent->type() == QEvent::MouseMove;
        Hold({nullptr, bMove ? pReceiver : nullptr,
              [pWindow = QPointer<QObject>(pReceiver),
               pCopy = std::shared_ptr<QEvent>(pEvent->clone())] {
                  if (pWindow) QCoreApplication::sendEvent(pWindow, pCopy.get());
              }});
        return true;
    }
};

void EndWaits() {
    for (QEventLoop* pLoop : g_waitLoops) pLoop->quit();
}

// What an event of this backend is: signalled by the platform's watches, which run on this
// thread inside a wait.
struct CQtEvent {
    bool m_bSet = false;
    QEventLoop* m_pWaitLoop = nullptr;  // the wait for it under way
};

CQtEvent* EventOf(HANDLE hEvent) { return static_cast<CQtEvent*>(hEvent); }

extern "C" void OnEndSignal(int) {
    const int savedErrno = errno;
    g_bEndRequested = 1;
    const char byte = 1;
    // The loop picks the byte up; a full pipe already holds a request.
    [[maybe_unused]] const auto written = ::write(g_signalPipe[1], &byte, 1);
    errno = savedErrno;
}

void OnEndRequest() {
    char bytes[16];
    [[maybe_unused]] const auto got = ::read(g_signalPipe[0], bytes, sizeof bytes);
    CWnd* pWnd = g_pEndWatch != nullptr ? g_pEndWatch->pLoopWnd : nullptr;
    // The echo under way is not waited for.
    EndWaits();
    if (pWnd != nullptr && pWnd->IsWindow()) {
        // Closed as by the user, once a probe under way has given up; its destruction ends
        // the loop.
        QtDeliverEnd([pWnd] {
            if (pWnd->IsWindow()) pWnd->SendMessage(WM_CLOSE);
        });
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

bool AfxEndRequested() { return g_bEndRequested != 0; }

HANDLE AfxCreateEvent() { return new (std::nothrow) CQtEvent; }

void AfxCloseEvent(HANDLE hEvent) { delete EventOf(hEvent); }

bool AfxWaitEvent(HANDLE hEvent, DWORD /*dwTimeoutMs*/) {
    return hEvent != nullptr && EventOf(hEvent)->m_bSet;
}

void AfxSetEvent(HANDLE hEvent) {
    CQtEvent* pEvent = EventOf(hEvent);
    if (pEvent == nullptr) return;
    pEvent->m_bSet = true;
    if (pEvent->m_pWaitLoop != nullptr) pEvent->m_pWaitLoop->quit();
}

bool AfxWaitServing(HANDLE hEvent) {
    CQtEvent* pEvent = EventOf(hEvent);
    if (g_bEndRequested != 0 || pEvent == nullptr) return false;
    // Answered before anything needed waiting for: no loop, nothing held.
    if (pEvent->m_bSet) return true;
    QEventLoop loop;
    pEvent->m_pWaitLoop = &loop;
    g_waitLoops.push_back(&loop);
    const bool bOuter = !g_bWaiting;
    g_bWaiting = true;
    // Everything but the user's input runs meanwhile: the tray host's requests, repaints, the
    // window manager, the session, and the watch that signals the event.
    CInputHold hold;
    if (bOuter) QCoreApplication::instance()->installEventFilter(&hold);
    // Ends with the event, an end request, or when every loop is told to end (the program
    // goes): the event is not waited for then.
    loop.exec();
    if (bOuter) QCoreApplication::instance()->removeEventFilter(&hold);
    g_waitLoops.pop_back();
    pEvent->m_pWaitLoop = nullptr;
    if (!bOuter) return pEvent->m_bSet && g_bEndRequested == 0;
    g_bWaiting = false;
    if (g_pendingEnd) {
        // Once the handler that waited has returned, and before anything the user did
        // meanwhile: a held click must not open a box that the end then waits behind.
        g_held.clear();
        QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(g_pendingEnd),
                                  Qt::QueuedConnection);
        g_pendingEnd = nullptr;
    } else if (!g_held.empty()) {
        QMetaObject::invokeMethod(QCoreApplication::instance(), &DeliverHeld, Qt::QueuedConnection);
    }
    return pEvent->m_bSet && g_bEndRequested == 0;
}

void QtDeliver(std::function<void()> deliver, const void* pKind) {
    // What held input brings about as it is handed over belongs to it, and comes now.
    if (g_bWaiting || (!g_held.empty() && !g_bDelivering))
        Hold({pKind, nullptr, std::move(deliver)});
    else
        deliver();
}

void QtDeliverEnd(std::function<void()> end) {
    // Whatever the user did meanwhile is moot once the program is to end.
    g_held.clear();
    if (g_bWaiting)
        g_pendingEnd = std::move(end);
    else
        end();
}

bool QtCloseRequested(CWnd& wnd) {
    if (g_pEndWatch == nullptr || &wnd != g_pEndWatch->pLoopWnd) return false;
    if (g_bWaiting) {
        g_bEndRequested = 1;
        EndWaits();
    }
    return true;
}

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
