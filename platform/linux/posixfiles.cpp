// Files and the working directory on POSIX systems.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
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

// The text of the link at path, or the system's error number.
int ReadLink(const CString& path, CString& text) {
    // Grows until the text fits: the size lstat reports may be 0 or already stale.
    std::vector<char> buffer(256);
    for (;;) {
        const ssize_t size = ::readlink(path.c_str(), buffer.data(), buffer.size());
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

}  // namespace

std::unique_ptr<CPlatformFile> CQtPlatform::OpenFile(const CString& path, FileMode mode,
                                                     int& error) {
    const int flags = mode == FileMode::Read ? O_RDONLY : (O_WRONLY | O_CREAT | O_TRUNC);
    // Non-blocking open: a FIFO in the list's place must not hang the program.
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC | O_NONBLOCK, 0666);
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
    std::vector<char> name(pathPrefix.begin(), pathPrefix.end());
    for (char c : CString("XXXXXX")) name.push_back(c);
    name.push_back('\0');
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) {
        error = errno;
        return nullptr;
    }
    // mkstemp makes the file private, which it stays while written: ReplaceFile gives it the
    // permissions of the file it replaces, which may be narrower than a new file's.
    path = name.data();
    return std::make_unique<CPosixFile>(fd);
}

int CQtPlatform::ResolveSavePath(const CString& path, CString& target) {
    target = path;
    for (int hops = 0;; ++hops) {
        struct stat st {};
        if (::lstat(target.c_str(), &st) != 0) {
            // Nothing there (a new file, or where a dangling link leads): the save creates it.
            if (errno == ENOENT) return 0;
            return errno;
        }
        if (!S_ISLNK(st.st_mode)) return 0;
        if (hops == kMaxLinkHops) return ELOOP;
        CString text;
        if (const int error = ReadLink(target, text)) return error;
        if (text.empty()) return ENOENT;
        // A relative link leads from the directory that holds it, not from ours.
        target = text.front() == '/' ? text : DirectoryOf(target) + "/" + text;
    }
}

int CQtPlatform::ReplaceFile(const CString& from, const CString& to) {
    // The new file keeps what the old one had: a list shared through its group stays shared, a
    // private one stays private.
    struct stat st {};
    mode_t mode;
    if (::stat(to.c_str(), &st) == 0) {
        // Only root may give a file away (EPERM otherwise), and an owner from outside this
        // user namespace cannot be named (EINVAL): then the file stays ours. The owner goes
        // first, as changing it drops the set-ID bits the mode then puts back.
        if (::chown(from.c_str(), st.st_uid, st.st_gid) != 0 && errno != EPERM && errno != EINVAL)
            return errno;
        mode = st.st_mode & 07777;
    } else if (errno == ENOENT) {
        mode = NewFileMode();
    } else {
        return errno;
    }
    if (::chmod(from.c_str(), mode) != 0) return errno;
    if (::rename(from.c_str(), to.c_str()) != 0) return errno;
    // The rename itself must reach the disk too, or a crash could bring the old name back.
    const int dir = ::open(DirectoryOf(to).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return 0;
}

int CQtPlatform::DeleteFile(const CString& path) { return ::unlink(path.c_str()) == 0 ? 0 : errno; }

CString CQtPlatform::JoinPath(const CString& strDirectory, const CString& strName) const {
    return strDirectory + "/" + strName;
}

bool CQtPlatform::IsAbsolutePath(const CString& strPath) const {
    return !strPath.empty() && strPath.front() == '/';
}

CString CQtPlatform::GetCurrentDirectory() {
    // Grows until the path fits: working directories have no practical length limit.
    std::vector<char> buffer(256);
    for (;;) {
        if (::getcwd(buffer.data(), buffer.size()) != nullptr) return buffer.data();
        if (errno != ERANGE || buffer.size() > (1u << 20)) return {};
        buffer.resize(buffer.size() * 2);
    }
}
