// Files and the working directory on POSIX systems.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "platform/linux/qtplatform.h"

namespace {

class CPosixFile : public CPlatformFile {
public:
    explicit CPosixFile(int fd) : m_fd(fd) {}
    ~CPosixFile() override { Close(); }

    int Read(void* buffer, std::size_t count, std::size_t& read) override {
        read = 0;
        for (;;) {
            const ssize_t got = ::read(m_fd, buffer, count);
            if (got >= 0) {
                read = static_cast<std::size_t>(got);
                return 0;
            }
            if (errno != EINTR) return errno;
        }
    }
    int Write(const void* buffer, std::size_t count) override {
        const char* p = static_cast<const char*>(buffer);
        while (count > 0) {
            const ssize_t put = ::write(m_fd, p, count);
            if (put < 0) {
                if (errno == EINTR) continue;
                return errno;
            }
            p += put;
            count -= static_cast<std::size_t>(put);
        }
        return 0;
    }
    int GetLength(std::uint64_t& length) override {
        struct stat st {};
        if (::fstat(m_fd, &st) != 0) return errno;
        length = static_cast<std::uint64_t>(st.st_size);
        return 0;
    }
    int Flush() override { return ::fsync(m_fd) == 0 ? 0 : errno; }
    int Close() override {
        if (m_fd < 0) return 0;
        const int fd = m_fd;
        m_fd = -1;
        // Linux releases the descriptor even when close reports an error: never retry.
        return ::close(fd) == 0 ? 0 : errno;
    }

private:
    int m_fd;
};

// As many links as the kernel follows in one path name.
constexpr int kMaxLinkHops = 40;

CString DirectoryOf(const CString& path) {
    const auto slash = path.rfind('/');
    if (slash == CString::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The text of the link at name in dir, or the system's error number.
int ReadLink(int dir, const char* name, CString& text) {
    // Grows until the text fits: the size lstat reports may be 0 or already stale.
    std::vector<char> buffer(256);
    for (;;) {
        const ssize_t size = ::readlinkat(dir, name, buffer.data(), buffer.size());
        if (size < 0) return errno;
        if (static_cast<std::size_t>(size) < buffer.size()) {
            text.assign(buffer.data(), static_cast<std::size_t>(size));
            return 0;
        }
        buffer.resize(buffer.size() * 2);
    }
}

mode_t NewFileMode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

// What a deleted directory's path reads as through /proc.
constexpr char kDeletedMark[] = " (deleted)";

}  // namespace

void CQtPlatform::TakeWorkingDirectory() {
    // The directory itself, held: files in it are reached through it, so a folder removed (or
    // put back under the same name) later never sends a save anywhere else.
    m_nStartDir = ::open(".", O_PATH | O_DIRECTORY | O_CLOEXEC);
    // Grows until the path fits: working directories have no practical length limit.
    std::vector<char> buffer(256);
    for (;;) {
        if (::getcwd(buffer.data(), buffer.size()) != nullptr) {
            m_strStartDir = buffer.data();
            return;
        }
        if (errno != ERANGE || buffer.size() > (1u << 20)) break;
        buffer.resize(buffer.size() * 2);
    }
    // Removed before the start: the kernel still knows the path it had, which is what the user
    // knows too.
    CString text;
    if (ReadLink(AT_FDCWD, "/proc/self/cwd", text) == 0 && !text.empty() && text.front() == '/') {
        const std::size_t markLength = std::strlen(kDeletedMark);
        if (text.size() > markLength &&
            text.compare(text.size() - markLength, markLength, kDeletedMark) == 0)
            text.resize(text.size() - markLength);
        m_strStartDir = text;
    }
    std::fprintf(stderr,
                 "%s: the working directory %s no longer exists: no list is loaded or saved\n",
                 GetAppName().c_str(), m_strStartDir.empty() ? "(unknown)" : m_strStartDir.c_str());
}

CQtPlatform::CAt CQtPlatform::At(const CString& path) const {
    // The list and its temporary files, as JoinPath names them.
    if (m_nStartDir >= 0 && !m_strStartDir.empty() && path.size() > m_strStartDir.size() + 1 &&
        path.compare(0, m_strStartDir.size(), m_strStartDir) == 0 &&
        path[m_strStartDir.size()] == '/' &&
        path.find('/', m_strStartDir.size() + 1) == CString::npos)
        return {m_nStartDir, path.c_str() + m_strStartDir.size() + 1};
    return {AT_FDCWD, path.c_str()};
}

std::unique_ptr<CPlatformFile> CQtPlatform::OpenFile(const CString& path, FileMode mode,
                                                     int& error) {
    const int flags = mode == FileMode::Read ? O_RDONLY : (O_WRONLY | O_CREAT | O_TRUNC);
    // Non-blocking open: a FIFO in the list's place must not hang the program.
    const CAt at = At(path);
    const int fd = ::openat(at.dir, at.name, flags | O_CLOEXEC | O_NONBLOCK, 0666);
    if (fd < 0) {
        error = errno;
        return nullptr;
    }
    struct stat st {};
    // Only regular files: a FIFO or a device named like the list would block or never end.
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<CPosixFile>(fd);
}

std::unique_ptr<CPlatformFile> CQtPlatform::CreateTempFile(const CString& pathPrefix, CString& path,
                                                           int& error) {
    // As mkstemp does, but inside the directory the path names, which may be the one held
    // since start-up. The file is private, which it stays while written: ReplaceFile gives it
    // the permissions of the file it replaces, which may be narrower than a new file's.
    static constexpr char kLetters[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device seed;
    std::mt19937 random(seed());
    std::uniform_int_distribution<std::size_t> pick(0, sizeof kLetters - 2);
    for (int attempt = 0; attempt < 100; ++attempt) {
        CString name = pathPrefix;
        for (int i = 0; i < 6; ++i) name += kLetters[pick(random)];
        const CAt at = At(name);
        const int fd = ::openat(at.dir, at.name, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) {
            path = name;
            return std::make_unique<CPosixFile>(fd);
        }
        if (errno != EEXIST) break;
    }
    error = errno;
    return nullptr;
}

int CQtPlatform::ResolveSavePath(const CString& path, CString& target) {
    target = path;
    for (int hops = 0;; ++hops) {
        struct stat st {};
        const CAt at = At(target);
        if (::fstatat(at.dir, at.name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            // Nothing there (a new file, or where a dangling link leads): the save creates it.
            if (errno == ENOENT) return 0;
            return errno;
        }
        if (!S_ISLNK(st.st_mode)) return 0;
        if (hops == kMaxLinkHops) return ELOOP;
        CString text;
        if (const int error = ReadLink(at.dir, at.name, text)) return error;
        if (text.empty()) return ENOENT;
        // A relative link leads from the directory that holds it, not from ours.
        target = text.front() == '/' ? text : DirectoryOf(target) + "/" + text;
    }
}

int CQtPlatform::ReplaceFile(const CString& from, const CString& to) {
    // The new file keeps what the old one had: a list shared through its group stays shared, a
    // private one stays private.
    const CAt atFrom = At(from);
    const CAt atTo = At(to);
    struct stat st {};
    mode_t mode;
    if (::fstatat(atTo.dir, atTo.name, &st, 0) == 0) {
        // Only root may give a file away (EPERM otherwise), and an owner from outside this
        // user namespace cannot be named (EINVAL): then the file stays ours. The owner goes
        // first, as changing it drops the set-ID bits the mode then puts back.
        if (::fchownat(atFrom.dir, atFrom.name, st.st_uid, st.st_gid, AT_SYMLINK_NOFOLLOW) != 0 &&
            errno != EPERM && errno != EINVAL)
            return errno;
        mode = st.st_mode & 07777;
    } else if (errno == ENOENT) {
        mode = NewFileMode();
    } else {
        return errno;
    }
    if (::fchmodat(atFrom.dir, atFrom.name, mode, 0) != 0) return errno;
    if (::renameat(atFrom.dir, atFrom.name, atTo.dir, atTo.name) != 0) return errno;
    // The rename itself must reach the disk too, or a crash could bring the old name back.
    const int dir = atTo.dir == AT_FDCWD
                        ? ::open(DirectoryOf(to).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)
                        : ::openat(atTo.dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return 0;
}

int CQtPlatform::DeleteFile(const CString& path) {
    const CAt at = At(path);
    return ::unlinkat(at.dir, at.name, 0) == 0 ? 0 : errno;
}

CString CQtPlatform::JoinPath(const CString& strDirectory, const CString& strName) const {
    // No directory is the working directory, never the root.
    return strDirectory.empty() ? strName : strDirectory + "/" + strName;
}

bool CQtPlatform::IsAbsolutePath(const CString& strPath) const {
    return !strPath.empty() && strPath.front() == '/';
}

CString CQtPlatform::GetCurrentDirectory() { return m_strStartDir; }

int CQtPlatform::CheckCurrentDirectory() {
    struct stat st {};
    if (m_nStartDir < 0) return m_strStartDir.empty() ? ENOENT : 0;
    if (::fstat(m_nStartDir, &st) != 0) return errno;
    // A removed directory keeps no link, not even its own ".".
    return st.st_nlink == 0 ? ENOENT : 0;
}
