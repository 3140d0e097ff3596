// One instance per list on the Linux desktop: a lock on the list's directory says who holds
// it, and a local socket named after the directory carries a later start's request to show
// the dialog.

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>
#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "framework/qt/qtbackend.h"
#include "qt/qtplatform.h"

namespace {

// The holder takes the lock before it listens: a start in between waits for the socket.
constexpr int kHolderListensMs = 5000;
constexpr int kRetryMs = 50;

// Per user and directory; a hash, as a socket's path is short and the directory may be long.
QString InstanceName(const QString& directory) {
    const QByteArray hash =
        QCryptographicHash::hash(QFile::encodeName(directory), QCryptographicHash::Sha256);
    return QStringLiteral("quorvane-%1-%2")
        .arg(::getuid())
        .arg(QString::fromLatin1(hash.toHex().left(32)));
}

// Connecting is the request; the holder hangs up once it has taken it.
bool AskHolderToShow(const QString& name) {
    const QDeadlineTimer deadline(kHolderListensMs);
    QLocalSocket socket;
    for (;;) {
        socket.connectToServer(name);
        if (socket.waitForConnected(kRetryMs)) break;
        if (deadline.hasExpired()) return false;
        QThread::msleep(kRetryMs);
    }
    if (socket.state() != QLocalSocket::UnconnectedState)
        socket.waitForDisconnected(static_cast<int>(std::max<qint64>(deadline.remainingTime(), 0)));
    return true;
}

}  // namespace

BOOL CQtPlatform::ClaimInstance(const CString& strListPath, std::function<void()> onShowRequest) {
    // The directory as the file system knows it, so two spellings of one folder are one list.
    const QString directory =
        QFileInfo(QString::fromStdString(strListPath)).absoluteDir().canonicalPath();
    if (directory.isEmpty()) return TRUE;
    const int fd =
        ::open(QFile::encodeName(directory).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return TRUE;
    const QString name = InstanceName(directory);
    // The kernel lets go of the lock when its holder ends, however it ends: a killed holder
    // leaves none behind. A directory that takes no lock is not shared.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        if (error != EWOULDBLOCK) return TRUE;
        if (!AskHolderToShow(name))
            std::fprintf(stderr,
                         "%s: another instance runs on the list in %s but does not answer\n",
                         GetAppName().c_str(), QFile::encodeName(directory).constData());
        return FALSE;
    }
    m_nInstanceLock = fd;

    // A socket file a killed holder left behind would refuse the name.
    QLocalServer::removeServer(name);
    m_pInstanceServer = std::make_unique<QLocalServer>();
    m_pInstanceServer->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_pInstanceServer->listen(name)) {
        std::fprintf(stderr, "%s: a second start cannot reach this one: %s\n", GetAppName().c_str(),
                     m_pInstanceServer->errorString().toLocal8Bit().constData());
        return TRUE;
    }
    QLocalServer* pServer = m_pInstanceServer.get();
    QObject::connect(pServer, &QLocalServer::newConnection, pServer,
                     [pServer, onShowRequest = std::move(onShowRequest)] {
                         while (QLocalSocket* pSocket = pServer->nextPendingConnection()) {
                             QObject::connect(pSocket, &QLocalSocket::disconnected, pSocket,
                                              &QObject::deleteLater);
                             pSocket->disconnectFromServer();
                             // As a click: held while a probe waits.
                             QtDeliver(onShowRequest);
                         }
                     });
    return TRUE;
}

void CQtPlatform::ReleaseInstance() {
    m_pInstanceServer.reset();
    if (m_nInstanceLock >= 0) ::close(m_nInstanceLock);
    m_nInstanceLock = -1;
}
