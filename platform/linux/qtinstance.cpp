// One instance per list and user on the Linux desktop: a lock file says who holds a list, and a
// local socket beside it carries a later start's request to show the dialog. Both live in a
// directory only the user can use, so no other user can hold a list, listen in the holder's
// place or learn when the program starts; its name depends on nothing a start's environment
// may change (TMPDIR), so every start of the user finds the holder. Plain sockets: the
// toolkit's network module would cost every instance its memory for this one connection.

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

// What a later start's request is, to the held input.
const char kShowRequestKind = 0;

// The holder takes the lock before it listens: a start in between waits for the socket.
constexpr int kHolderListensMs = 5000;
constexpr int kRetryMs = 50;

// The directory name inside a runtime directory.
constexpr char kRuntimeName[] = "quorvane";

// Opens the directory name in at, and keeps it only when it is one this user alone can use:
// no link, ours, closed to group and others. Checked on the opened directory, so nothing can
// be swapped in between. -1, said on stderr, otherwise.
int OpenPrivateDirectory(const CString& app, int at, const QByteArray& name,
                         const QByteArray& shown) {
    const int fd = ::openat(at, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat st {};
    const char* why = nullptr;
    if (fd < 0) {
        const int error = errno;
        why = ::fstatat(at, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)
                  ? "is a symbolic link"
                  : std::strerror(error);
    } else if (::fstat(fd, &st) != 0) {
        why = std::strerror(errno);
    } else if (st.st_uid != ::geteuid()) {
        why = "belongs to another user";
    } else if ((st.st_mode & 077) != 0) {
        why = "is open to other users";
    }
    if (why == nullptr) return fd;
    if (fd >= 0) ::close(fd);
    std::fprintf(stderr, "%s: %s %s: not used to find another instance\n", app.c_str(),
                 shown.constData(), why);
    return -1;
}

// Makes the directory name in at, private from its first moment; one already there is
// checked as any other.
int MakePrivateDirectory(const CString& app, int at, const QByteArray& name,
                         const QByteArray& shown) {
    if (::mkdirat(at, name.constData(), 0700) == 0) {
        // A umask may have taken the owner's own rights.
        ::fchmodat(at, name.constData(), 0700, 0);
    }
    return OpenPrivateDirectory(app, at, name, shown);
}

// The directory where this user's starts meet, opened, and its path; -1 when there is none
// to trust. The session's runtime directory (the user's alone by design, removed at logout);
// the one the system keeps for the user when a start's environment does not name it; else a
// directory of our own in /tmp, which another user may have taken first.
int OpenMeetingDirectory(const CString& app, QByteArray& path) {
    const QByteArray uid = QByteArray::number(::geteuid());
    QList<QByteArray> runtimes;
    const QByteArray named = qgetenv("XDG_RUNTIME_DIR");
    if (named.startsWith('/')) runtimes << named;
    const QByteArray system = "/run/user/" + uid;
    struct stat st {};
    if (named != system && ::lstat(system.constData(), &st) == 0) runtimes << system;
    for (const QByteArray& runtime : runtimes) {
        const int parent = OpenPrivateDirectory(app, AT_FDCWD, runtime, runtime);
        if (parent < 0) continue;
        path = runtime + "/" + kRuntimeName;
        const int fd = MakePrivateDirectory(app, parent, kRuntimeName, path);
        ::close(parent);
        if (fd >= 0) return fd;
    }
    path = "/tmp/quorvane-" + uid;
    return MakePrivateDirectory(app, AT_FDCWD, path, path);
}

// The socket's address: its path in the meeting directory, or through the directory's
// descriptor when that path is too long for an address.
bool SocketAddress(const QByteArray& directory, int fdDirectory, const QByteArray& name,
                   sockaddr_un& address) {
    QByteArray path = directory + "/" + name;
    if (path.size() >= static_cast<qsizetype>(sizeof address.sun_path))
        path = "/proc/self/fd/" + QByteArray::number(fdDirectory) + "/" + name;
    if (path.size() >= static_cast<qsizetype>(sizeof address.sun_path)) return false;
    address = sockaddr_un{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.constData(), static_cast<std::size_t>(path.size()));
    return true;
}

// The user at the other end of a connected local socket; -1 when the system cannot tell.
long PeerUser(int fd) {
    ucred peer{};
    socklen_t size = sizeof peer;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0) return -1;
    return static_cast<long>(peer.uid);
}

// Connecting is the request; the holder hangs up once it has taken it. Only a holder of this
// user is asked: whatever else listens there learns nothing.
InstanceClaim AskHolderToShow(const CString& app, const sockaddr_un& address, const QString& list) {
    const QDeadlineTimer deadline(kHolderListensMs);
    for (;;) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) break;
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
            const long user = PeerUser(fd);
            if (user != static_cast<long>(::geteuid())) {
                ::close(fd);
                std::fprintf(stderr,
                             "%s: the instance socket %s belongs to user %ld, not to this one: "
                             "not asked\n",
                             app.c_str(), address.sun_path, user);
                return InstanceClaim::Failed;
            }
            pollfd hangUp{fd, POLLIN, 0};
            const int nMs = static_cast<int>(std::max<qint64>(deadline.remainingTime(), 0));
            const bool bTaken = ::poll(&hangUp, 1, nMs) == 1;
            ::close(fd);
            if (bTaken) return InstanceClaim::Handed;
            break;
        }
        ::close(fd);
        if (deadline.hasExpired()) break;
        QThread::msleep(kRetryMs);
    }
    std::fprintf(stderr, "%s: another instance runs on the list %s but does not answer\n",
                 app.c_str(), QFile::encodeName(list).constData());
    return InstanceClaim::Failed;
}

}  // namespace

InstanceClaim CQtPlatform::ClaimInstance(const CString& strListPath,
                                         std::function<void()> onShowRequest) {
    // The list as the file system knows it, so two spellings of one folder, or two links to
    // one file, are one list.
    const QFileInfo info(QFile::decodeName(QByteArray::fromStdString(strListPath)));
    QString list = info.canonicalFilePath();
    if (list.isEmpty()) {
        const QString directory = info.absoluteDir().canonicalPath();
        if (directory.isEmpty()) return InstanceClaim::Held;
        list = directory + "/" + info.fileName();
    }
    const QByteArray key =
        QCryptographicHash::hash(QFile::encodeName(list), QCryptographicHash::Sha256)
            .toHex()
            .left(32);
    const CString app = GetAppName();

    QByteArray directory;
    const int fdDirectory = OpenMeetingDirectory(app, directory);
    if (fdDirectory < 0) {
        std::fprintf(stderr, "%s: runs without looking for another instance on its list\n",
                     app.c_str());
        return InstanceClaim::Held;
    }
    const QByteArray socketName = key + ".sock";
    sockaddr_un address;
    const int fdLock = ::openat(fdDirectory, (key + ".lock").constData(),
                                O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fdLock < 0 || !SocketAddress(directory, fdDirectory, socketName, address)) {
        if (fdLock >= 0) ::close(fdLock);
        ::close(fdDirectory);
        return InstanceClaim::Held;
    }
    // The kernel lets go of the lock when its holder ends, however it ends: a killed holder
    // leaves none behind.
    if (::flock(fdLock, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fdLock);
        const InstanceClaim claim =
            error == EWOULDBLOCK ? AskHolderToShow(app, address, list) : InstanceClaim::Held;
        ::close(fdDirectory);
        return claim;
    }
    m_nInstanceLock = fdLock;
    m_nInstanceDir = fdDirectory;

    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return InstanceClaim::Held;
    // A socket a killed holder left behind would refuse the name; only the lock's holder
    // gets here.
    ::unlinkat(fdDirectory, socketName.constData(), 0);
    const mode_t previous = ::umask(077);
    const bool bBound =
        ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::umask(previous);
    if (!bBound || ::listen(fd, 8) != 0) {
        std::fprintf(stderr, "%s: a second start cannot reach this one: %s: %s\n", app.c_str(),
                     address.sun_path, std::strerror(errno));
        ::close(fd);
        return InstanceClaim::Held;
    }
    m_nInstanceSocket = fd;
    m_strInstanceSocket = socketName.toStdString();
    m_pInstanceNotifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    QObject::connect(m_pInstanceNotifier.get(), &QSocketNotifier::activated,
                     [fd, onShowRequest = std::move(onShowRequest)] {
                         int client;
                         while ((client = ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC)) >= 0) {
                             // Only this user's starts may open the dialog.
                             const bool bOurs = PeerUser(client) == static_cast<long>(::geteuid());
                             ::close(client);
                             // As a click: held while a probe waits, and however many
                             // starts asked meanwhile, shown once.
                             if (bOurs) QtDeliver(onShowRequest, &kShowRequestKind);
                         }
                     });
    return InstanceClaim::Held;
}

void CQtPlatform::ReleaseInstance() {
    m_pInstanceNotifier.reset();
    if (m_nInstanceSocket >= 0) {
        ::close(m_nInstanceSocket);
        ::unlinkat(m_nInstanceDir, m_strInstanceSocket.c_str(), 0);
    }
    m_nInstanceSocket = -1;
    if (m_nInstanceLock >= 0) ::close(m_nInstanceLock);
    m_nInstanceLock = -1;
    if (m_nInstanceDir >= 0) ::close(m_nInstanceDir);
    m_nInstanceDir = -1;
}
