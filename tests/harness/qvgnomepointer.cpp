// The user's mouse on GNOME Shell's headless Wayland desktop, which has no input device: a
// pointer of the compositor's remote desktop interface (the one a remote desktop server uses),
// driven by the same lines as qvpointer on standard input, each answered with "ok" once the
// compositor has taken it.
//   move X Y        the pointer to X, Y on the screen given on the command line (WIDTH HEIGHT)
//   press BUTTON    release BUTTON    click BUTTON   (BUTTON: left, right)
// Without a screen cast stream to place it on, the pointer only moves by steps: each move first
// goes to the bottom right corner, where the screen stops it (the top left one is the hot
// corner, whose barrier holds the pointer), then back by what is left to X, Y. The remote
// desktop session lives as long as this program's connection.

#include <linux/input-event-codes.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QThread>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>

namespace {

const QString kService = QStringLiteral("org.gnome.Mutter.RemoteDesktop");

QDBusMessage Call(const QString& strPath, const QString& strInterface, const char* pszMethod,
                  const QVariantList& args = {}) {
    QDBusMessage call = QDBusMessage::createMethodCall(kService, strPath, strInterface,
                                                       QString::fromLatin1(pszMethod));
    call.setArguments(args);
    return QDBusConnection::sessionBus().call(call, QDBus::Block, 5000);
}

bool Button(const std::string& strName, int* pnCode) {
    if (strName == "left")
        *pnCode = BTN_LEFT;
    else if (strName == "right")
        *pnCode = BTN_RIGHT;
    else
        return false;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: " << argv[0] << " WIDTH HEIGHT" << std::endl;
        return 2;
    }
    const double width = std::strtod(argv[1], nullptr);
    const double height = std::strtod(argv[2], nullptr);
    QCoreApplication app(argc, argv);
    const QDBusMessage created =
        Call(QStringLiteral("/org/gnome/Mutter/RemoteDesktop"), kService, "CreateSession");
    if (created.type() != QDBusMessage::ReplyMessage) {
        std::cerr << "qvgnomepointer: no remote desktop session: "
                  << created.errorMessage().toStdString() << std::endl;
        return 1;
    }
    const QString strSession = created.arguments().value(0).value<QDBusObjectPath>().path();
    const QString strInterface = kService + QStringLiteral(".Session");
    if (Call(strSession, strInterface, "Start").type() != QDBusMessage::ReplyMessage) {
        std::cerr << "qvgnomepointer: the session does not start" << std::endl;
        return 1;
    }
    const auto ok = [&](const QDBusMessage& reply) {
        return reply.type() == QDBusMessage::ReplyMessage;
    };
    std::cout << "ok" << std::endl;

    std::string strLine;
    while (std::getline(std::cin, strLine)) {
        std::istringstream words(strLine);
        std::string strVerb, strArg;
        words >> strVerb;
        int nButton = 0;
        bool bOk = true;
        if (strVerb == "move") {
            double x = 0, y = 0;
            words >> x >> y;
            bOk = ok(Call(strSession, strInterface, "NotifyPointerMotionRelative",
                          {100000.0, 100000.0})) &&
                  ok(Call(strSession, strInterface, "NotifyPointerMotionRelative",
                          {x - (width - 1), y - (height - 1)}));
        } else if ((strVerb == "press" || strVerb == "release" || strVerb == "click") &&
                   (words >> strArg) && Button(strArg, &nButton)) {
            if (strVerb != "release")
                bOk = ok(Call(strSession, strInterface, "NotifyPointerButton", {nButton, true}));
            // A click as a hand makes it, not in the same instant.
            if (strVerb == "click") QThread::msleep(30);
            if (bOk && strVerb != "press")
                bOk = ok(Call(strSession, strInterface, "NotifyPointerButton", {nButton, false}));
        } else {
            std::cout << "bad command: " << strLine << std::endl;
            continue;
        }
        if (!bOk) return 1;
        std::cout << "ok" << std::endl;
    }
    Call(strSession, strInterface, "Stop");
    return 0;
}
