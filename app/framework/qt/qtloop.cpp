// The message loop of the Qt backend, and the way a request to end the process (SIGTERM,
// SIGINT) reaches the main window as a close request instead of killing it mid-handler.

#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <csignal>

#include "framework/backend.h"
#include "framework/wnd.h"

namespace {

int g_signalPipe[2] = {-1, -1};

extern "C" void OnEndSignal(int) {
    const char byte = 1;
    // Only async-signal-safe work here: the loop picks the byte up.
    [[maybe_unused]] const auto written = ::write(g_signalPipe[1], &byte, 1);
}

}  // namespace

void AfxPostQuitMessage(int nExitCode) {
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [nExitCode] { QCoreApplication::exit(nExitCode); },
        Qt::QueuedConnection);
}

int AfxRunMessageLoop(CWnd& mainWnd) {
    std::unique_ptr<QSocketNotifier> notifier;
    struct sigaction oldTerm {
    }, oldInt{};
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) == 0) {
        notifier = std::make_unique<QSocketNotifier>(g_signalPipe[0], QSocketNotifier::Read);
        QObject::connect(notifier.get(), &QSocketNotifier::activated, [&mainWnd] {
            char byte = 0;
            [[maybe_unused]] const auto got = ::read(g_signalPipe[0], &byte, 1);
            if (mainWnd.IsWindow())
                mainWnd.SendMessage(WM_CLOSE);
            else
                AfxPostQuitMessage(0);
        });
        struct sigaction action {};
        action.sa_handler = OnEndSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(SIGTERM, &action, &oldTerm);
        sigaction(SIGINT, &action, &oldInt);
    }

    const int code = QCoreApplication::exec();

    if (notifier) {
        sigaction(SIGTERM, &oldTerm, nullptr);
        sigaction(SIGINT, &oldInt, nullptr);
        notifier.reset();
        ::close(g_signalPipe[0]);
        ::close(g_signalPipe[1]);
        g_signalPipe[0] = g_signalPipe[1] = -1;
    }
    return code;
}
