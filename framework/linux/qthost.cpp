#include "framework/linux/qthost.h"

#include <QGuiApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// While the display is probed, Qt's own complaints about a missing one are ours to report.
void QuietPlatformMessages(QtMsgType type, const QMessageLogContext& context,
                           const QString& message) {
    if (context.category != nullptr && std::strncmp(context.category, "qt.qpa", 6) == 0) return;
    if (type == QtFatalMsg) std::abort();
    std::fprintf(stderr, "%s\n", qPrintable(message));
}

bool EnvSet(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

}  // namespace

CQtHost::CQtHost(int& argc, char** argv, const char* pszName, const char* pszVersion) {
    QCoreApplication::setApplicationName(QString::fromUtf8(pszName));
    QCoreApplication::setApplicationVersion(QString::fromUtf8(pszVersion));
    const bool chosen = EnvSet("QT_QPA_PLATFORM");
    if (!chosen) {
        // The desktop's own platform first, the window-less one when it cannot be opened.
        qputenv("QT_QPA_PLATFORM", EnvSet("WAYLAND_DISPLAY") ? "wayland;xcb;offscreen"
                                   : EnvSet("DISPLAY")       ? "xcb;offscreen"
                                                             : "offscreen");
    }
    QtMessageHandler previous = qInstallMessageHandler(QuietPlatformMessages);
    m_app = std::make_unique<QApplication>(argc, argv);
    qInstallMessageHandler(previous);
    if (!chosen) qunsetenv("QT_QPA_PLATFORM");
    QApplication::setQuitOnLastWindowClosed(false);

    m_bHasDisplay = QGuiApplication::platformName() != QLatin1String("offscreen");
    if (!m_bHasDisplay && !chosen)
        std::fprintf(stderr, "%s: no display could be opened; running without windows.\n", pszName);
}
