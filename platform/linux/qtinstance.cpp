// One instance per list on the Linux desktop: a lock on the list's directory says who holds
// it, and a local socket named after the directory carries a later start's request to show
// the dialog. Plain sockets: the toolkit's network module would cost every instance its
// memory for this one connection.

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QThread>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "framework/linux/qtbackend.h"
#include "platform/linux/qtplatform.h"

namespace {

// The holder takes the lock before it listens: a start in between waits for the socket.
constexpr int kHolderListensMs = 5000;
constexpr int kRetryMs = 50;

// Per user and directory, in the temporary directory; a hash, as a socket's path is short
// and the list's directory may be long.
void InstanceSocketAddress(const QString& directory, sockaddr_un& address) {
    const QByteArray hash =
        QCryptographicHash::hash(QFile::encodeName(directory), QCryptographicHash::Sha256)
            .toHex()
            .left(32);
    const QByteArray name = "/quorvane-" + QByteArray::number(::getuid()) + "-" + hash;
    QByteArray path = QFile::encodeName(QDir::tempPath()) + name;
    if (path.size() >= static_cast<qsizetype>(sizeof address.sun_path)) path = "/tmp" + name;
    address = sockaddr_un{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.constData(), static_cast<std::size_t>(path.size()));
}

// Connecting is the request; the holder hangs up once it has taken it.
bool AskHolderToShow(const sockaddr_un& address) {
    const QDeadlineTimer deadline(kHolderListensMs);
    for (;;) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) return false;
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
            pollfd hangUp{fd, POLLIN, 0};
            const int nMs = static_cast<int>(std::max<qint64>(deadline.remainingTime(), 0));
            const bool bTaken = ::poll(&hangUp, 1, nMs) == 1;
            ::close(fd);
            return bTaken;
        }
        ::close(fd);
        if (deadline.hasExpired()) return false;
        QThread::msleep(kRetryMs);
    }
}

}  // namespace

BOOL CQtPlatform::ClaimInstance(const CString& strListPath, std::function<void()> onShowRequest) {
    // The directory as the file system knows it, so two spellings of one folder are one list.
    const QString directory =
        QFileInfo(QString::fromStdString(strListPath)).absoluteDir().canonicalPath();
    if (directory.isEmpty()) return TRUE;
    const int fdLock =
        ::open(QFile::encodeName(directory).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fdLock < 0) return TRUE;
    sockaddr_un address;
    InstanceSocketAddress(directory, address);
    // The kernel lets go of the lock when its holder ends, however it ends: a killed holder
    // leaves none behind. A directory that takes no lock is not shared.
    if (::flock(fdLock, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fdLock);
        if (error != EWOULDBLOCK) return TRUE;
        if (!AskHolderToShow(address))
            std::fprintf(stderr,
                         "%s: another instance runs on the list in %s but does not answer\n",
                         GetAppName().c_str(), QFile::encodeName(directory).constData());
        return FALSE;
    }
    m_nInstanceLock = fdLock;

    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return TRUE;
    // A socket a killed holder left behind would refuse the name; only the lock's holder
    // gets here.
    ::unlink(address.sun_path);
    const mode_t previous = ::umask(077);
    const bool bBound =
        ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::umask(previous);
    if (!bBound || ::listen(fd, 8) != 0) {
        std::fprintf(stderr, "%s: a second start cannot reach this one: %s: %s\n",
                     GetAppName().c_str(), address.sun_path, std::strerror(errno));
        ::close(fd);
        return TRUE;
    }
    m_nInstanceSocket = fd;
    m_strInstanceSocket = address.sun_path;
    m_pInstanceNotifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    QObject::connect(m_pInstanceNotifier.get(), &QSocketNotifier::activated,
                     [fd, onShowRequest = std::move(onShowRequest)] {
                         int client;
                         while ((client = ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC)) >= 0) {
                             ::close(client);
                             // As a click: held while a probe waits.
                             QtDeliver(onShowRequest);
                         }
                     });
    return TRUE;
}

void CQtPlatform::ReleaseInstance() {
    m_pInstanceNotifier.reset();
    if (m_nInstanceSocket >= 0) {
        ::close(m_nInstanceSocket);
        ::unlink(m_strInstanceSocket.c_str());
    }
    m_nInstanceSocket = -1;
    if (m_nInstanceLock >= 0) ::close(m_nInstanceLock);
    m_nInstanceLock = -1;
}
