// Files and the working directory on Windows. Errors are the system's own codes
// (GetLastError), which the framework turns into its messages.

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/windows/win32path.h"
#include "platform/windows/win32platform.h"

namespace {

int LastError() { return static_cast<int>(GetLastError()); }

class CWin32File : public CPlatformFile {
public:
    explicit CWin32File(HANDLE hFile) : m_hFile(hFile) {}
    ~CWin32File() override { Close(); }
    CWin32File(const CWin32File&) = delete;
    CWin32File& operator=(const CWin32File&) = delete;

    int Read(void* buffer, std::size_t count, std::size_t& read) override {
        read = 0;
        // One call reads at most what a DWORD counts; the caller asks again for the rest.
        const DWORD ask = static_cast<DWORD>(std::min<std::size_t>(count, MAXDWORD));
        DWORD got = 0;
        if (!ReadFile(m_hFile, buffer, ask, &got, nullptr)) return LastError();
        read = got;
        return 0;
    }
    int Write(const void* buffer, std::size_t count) override {
        const char* p = static_cast<const char*>(buffer);
        while (count > 0) {
            const DWORD ask = static_cast<DWORD>(std::min<std::size_t>(count, MAXDWORD));
            DWORD put = 0;
            if (!WriteFile(m_hFile, p, ask, &put, nullptr)) return LastError();
            // Success with nothing written would loop for ever.
            if (put == 0) return ERROR_WRITE_FAULT;
            p += put;
            count -= put;
        }
        return 0;
    }
    int GetLength(std::uint64_t& length) override {
        LARGE_INTEGER size{};
        if (!GetFileSizeEx(m_hFile, &size)) return LastError();
        length = static_cast<std::uint64_t>(size.QuadPart);
        return 0;
    }
    int Flush() override { return FlushFileBuffers(m_hFile) ? 0 : LastError(); }
    int Close() override {
        if (m_hFile == INVALID_HANDLE_VALUE) return 0;
        const HANDLE hFile = m_hFile;
        m_hFile = INVALID_HANDLE_VALUE;
        // The handle is gone even when the call fails: never a second time.
        return CloseHandle(hFile) ? 0 : LastError();
    }

private:
    HANDLE m_hFile;
};

// Only plain disk files: a device (NUL, CON, COM1, even as "NUL.Lst") or a pipe named like
// the list would never end or block the program. 0 or the error to report.
int CheckDiskFile(HANDLE hFile) {
    SetLastError(NO_ERROR);
    if (GetFileType(hFile) != FILE_TYPE_DISK)
        return GetLastError() != NO_ERROR ? LastError() : ERROR_BAD_FILE_TYPE;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(hFile, &info)) return LastError();
    // As the system answers a directory opened as a file.
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return ERROR_ACCESS_DENIED;
    return 0;
}

// The opened file as the platform's, or null with error set when it is not a plain disk file.
std::unique_ptr<CPlatformFile> Adopt(HANDLE hFile, int& error) {
    if (hFile == INVALID_HANDLE_VALUE) {
        error = LastError();
        return nullptr;
    }
    if (const int refused = CheckDiskFile(hFile)) {
        CloseHandle(hFile);
        error = refused;
        return nullptr;
    }
    return std::make_unique<CWin32File>(hFile);
}

// A few characters for a temporary name, different on every call: uniqueness itself comes
// from CREATE_NEW, these only make a clash unlikely.
CString TempSuffix(unsigned attempt) {
    LARGE_INTEGER counter{};
    QueryPerformanceCounter(&counter);
    // splitmix64: every input bit reaches every output character.
    std::uint64_t z = static_cast<std::uint64_t>(counter.QuadPart) ^
                      (static_cast<std::uint64_t>(GetCurrentProcessId()) << 32) ^
                      (0x9E3779B97F4A7C15ull * (attempt + 1));
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    CString suffix;
    for (int i = 0; i < 6; ++i) {
        suffix += kChars[z % (sizeof(kChars) - 1)];
        z /= sizeof(kChars) - 1;
    }
    return suffix;
}

constexpr unsigned kMaxTempAttempts = 100;

// What the user may have set on the list and a save keeps.
constexpr DWORD kKeptAttributes =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// One rename, through to the disk before it returns: the old list or the new one, never
// neither.
int MoveInPlace(const std::wstring& from, const std::wstring& to) {
    return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
               ? 0
               : LastError();
}

// Reading, writing, renaming and deleting: all the program does with the file, nothing to
// execute.
constexpr DWORD kOwnerRights = FILE_GENERIC_READ | FILE_GENERIC_WRITE | DELETE;

// A security descriptor whose only entry grants the current user everything: the file it
// makes is nobody else's to read, whatever its folder would pass on.
class COwnerOnly {
public:
    // 0 or the system's error.
    int Build() {
        HANDLE hToken = nullptr;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &hToken)) return LastError();
        DWORD size = 0;
        GetTokenInformation(hToken, TokenUser, nullptr, 0, &size);
        m_user.resize(size);
        const bool bGot =
            size > 0 && GetTokenInformation(hToken, TokenUser, m_user.data(), size, &size);
        const int error = bGot ? 0 : LastError();
        CloseHandle(hToken);
        if (!bGot) return error != 0 ? error : ERROR_INVALID_SID;
        PSID sid = reinterpret_cast<TOKEN_USER*>(m_user.data())->User.Sid;
        m_acl.resize(sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(sid));
        auto* acl = reinterpret_cast<ACL*>(m_acl.data());
        if (!InitializeAcl(acl, static_cast<DWORD>(m_acl.size()), ACL_REVISION) ||
            !AddAccessAllowedAce(acl, ACL_REVISION, kOwnerRights, sid) ||
            !InitializeSecurityDescriptor(&m_descriptor, SECURITY_DESCRIPTOR_REVISION) ||
            !SetSecurityDescriptorDacl(&m_descriptor, TRUE, acl, FALSE) ||
            // Protected: the folder's inheritable entries are not added to it.
            !SetSecurityDescriptorControl(&m_descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED))
            return LastError();
        return 0;
    }
    SECURITY_ATTRIBUTES Attributes() {
        return SECURITY_ATTRIBUTES{sizeof(SECURITY_ATTRIBUTES), &m_descriptor, FALSE};
    }

private:
    std::vector<unsigned char> m_user;
    std::vector<unsigned char> m_acl;
    SECURITY_DESCRIPTOR m_descriptor{};
};

// The system's record of a symbolic link or a junction (ntifs.h, not in the SDK's headers):
// the names follow the fixed part, at offsets in bytes.
struct CLinkReparse {
    ULONG ReparseTag;
    USHORT ReparseDataLength;
    USHORT Reserved;
    USHORT SubstituteNameOffset;
    USHORT SubstituteNameLength;
    USHORT PrintNameOffset;
    USHORT PrintNameLength;
};
constexpr ULONG kSymlinkRelative = 1;  // SYMLINK_FLAG_RELATIVE

// As many links as the system follows in one path.
constexpr int kMaxLinkHops = 63;

CString DirectoryOf(const CString& path) {
    const auto separator = path.find_last_of("\\/");
    return separator == CString::npos ? CString() : path.substr(0, separator);
}

// The text of the link at path, or the system's error number; ERROR_NOT_A_REPARSE_POINT when
// it is a reparse point of another kind (a cloud file, say: a file as any other).
int ReadLink(const CString& path, CString& text) {
    const HANDLE hLink =
        CreateFileW(SystemPath(path).c_str(), FILE_READ_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (hLink == INVALID_HANDLE_VALUE) return LastError();
    std::vector<unsigned char> buffer(MAXIMUM_REPARSE_DATA_BUFFER_SIZE);
    DWORD size = 0;
    const BOOL bRead = DeviceIoControl(hLink, FSCTL_GET_REPARSE_POINT, nullptr, 0, buffer.data(),
                                       static_cast<DWORD>(buffer.size()), &size, nullptr);
    const int error = bRead ? 0 : LastError();
    CloseHandle(hLink);
    if (error != 0) return error;
    CLinkReparse link{};
    if (size < sizeof(link)) return ERROR_NOT_A_REPARSE_POINT;
    std::memcpy(&link, buffer.data(), sizeof(link));
    // A link's names start after its flags; a junction has none.
    std::size_t names = sizeof(link);
    ULONG flags = 0;
    if (link.ReparseTag == IO_REPARSE_TAG_SYMLINK) {
        if (size < names + sizeof(flags)) return ERROR_NOT_A_REPARSE_POINT;
        std::memcpy(&flags, buffer.data() + names, sizeof(flags));
        names += sizeof(flags);
    } else if (link.ReparseTag != IO_REPARSE_TAG_MOUNT_POINT) {
        return ERROR_NOT_A_REPARSE_POINT;
    }
    // The name shown to users where there is one, else the system's own (\??\C:\...).
    const bool bPrint = link.PrintNameLength > 0;
    const std::size_t offset = names + (bPrint ? link.PrintNameOffset : link.SubstituteNameOffset);
    const std::size_t length = bPrint ? link.PrintNameLength : link.SubstituteNameLength;
    if (offset + length > size) return ERROR_NOT_A_REPARSE_POINT;
    std::wstring name(length / sizeof(wchar_t), L'\0');
    std::memcpy(&name[0], buffer.data() + offset, name.size() * sizeof(wchar_t));
    if (name.compare(0, 4, L"\\??\\") == 0) name[1] = L'\\';
    if (name.empty()) return ERROR_NOT_A_REPARSE_POINT;
    // A relative link leads from the folder that holds it, not from ours.
    text = (flags & kSymlinkRelative) != 0 ? DirectoryOf(path) + "\\" + WideToUtf8(name)
                                           : ReadablePath(name);
    return 0;
}

// Where a link at path that leads to nothing would lead, in target (the save creates it);
// path itself when it is no link. 0 or the system's error.
int DanglingLinkTarget(const CString& path, CString& target) {
    target = path;
    for (int hops = 0;; ++hops) {
        const DWORD attributes = GetFileAttributesW(SystemPath(target).c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES ||
            (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
            return 0;
        if (hops == kMaxLinkHops) return ERROR_CANT_RESOLVE_FILENAME;
        CString text;
        const int error = ReadLink(target, text);
        if (error == ERROR_NOT_A_REPARSE_POINT) return 0;
        if (error != 0) return error;
        target = text;
    }
}

// Puts source in place of the existing file at destination, which has the attributes given.
int ReplaceExisting(const std::wstring& source, const std::wstring& destination, DWORD attributes);

}  // namespace

std::unique_ptr<CPlatformFile> CWin32Platform::OpenFile(const CString& path, FileMode mode,
                                                        int& error) {
    const bool bRead = mode == FileMode::Read;
    // No sharing: while the list is read or written, no other program changes it under us.
    const HANDLE hFile =
        CreateFileW(SystemPath(path).c_str(), bRead ? GENERIC_READ : GENERIC_WRITE, 0, nullptr,
                    bRead ? OPEN_EXISTING : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    return Adopt(hFile, error);
}

std::unique_ptr<CPlatformFile> CWin32Platform::CreateTempFile(const CString& pathPrefix,
                                                              CString& path, int& error) {
    COwnerOnly security;
    if (const int refused = security.Build()) {
        error = refused;
        return nullptr;
    }
    for (unsigned attempt = 0; attempt < kMaxTempAttempts; ++attempt) {
        const CString candidate = pathPrefix + TempSuffix(attempt);
        SECURITY_ATTRIBUTES attributes = security.Attributes();
        const HANDLE hFile = CreateFileW(SystemPath(candidate).c_str(), GENERIC_WRITE, 0,
                                         &attributes, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (hFile == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS) continue;
        auto file = Adopt(hFile, error);
        if (file) path = candidate;
        return file;
    }
    error = ERROR_FILE_EXISTS;
    return nullptr;
}

int CWin32Platform::ResolveSavePath(const CString& path, CString& target) {
    target = path;
    // Opened as the system follows it, links and all (a directory too, so it can be
    // refused later with the right error); the handle's final name is where the text goes.
    const HANDLE hFile = CreateFileW(SystemPath(path).c_str(), 0,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (hFile == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        // Nothing there yet: the save creates it. A link that leads nowhere is followed too.
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            return DanglingLinkTarget(path, target);
        return static_cast<int>(error);
    }
    std::vector<wchar_t> buffer(MAX_PATH);
    DWORD size = 0;
    for (;;) {
        size = GetFinalPathNameByHandleW(hFile, buffer.data(), static_cast<DWORD>(buffer.size()),
                                         FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        // The answer is the size needed, its terminator included, whenever it does not fit.
        if (size == 0 || size < buffer.size()) break;
        buffer.resize(size);
    }
    const DWORD error = size == 0 ? GetLastError() : NO_ERROR;
    CloseHandle(hFile);
    // Some systems cannot name a file past MAX_PATH this way (Wine) or on some file systems:
    // a file that is no link is saved where it is all the same.
    if (error == ERROR_MORE_DATA || error == ERROR_NOT_SUPPORTED ||
        error == ERROR_INVALID_FUNCTION || error == ERROR_INVALID_PARAMETER) {
        const DWORD attributes = GetFileAttributesW(SystemPath(path).c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES &&
            (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
            return 0;
    }
    if (error != NO_ERROR) return static_cast<int>(error);
    const CString found = ReadablePath(std::wstring(buffer.data(), size));
    // The same file spelt otherwise (letter case) keeps the spelling the user knows.
    const std::wstring asGiven = Utf8ToWide(path), asFound = Utf8ToWide(found);
    if (CompareStringOrdinal(asGiven.c_str(), static_cast<int>(asGiven.size()), asFound.c_str(),
                             static_cast<int>(asFound.size()), TRUE) != CSTR_EQUAL)
        target = found;
    return 0;
}

int CWin32Platform::ReplaceFile(const CString& from, const CString& to) {
    const std::wstring source = SystemPath(from);
    const std::wstring destination = SystemPath(to);
    DWORD attributes = GetFileAttributesW(destination.c_str());
    bool bPlaceholder = false;
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND) return static_cast<int>(error);
        // A new list gets what any new file there gets, not the private rights it was written
        // under: an empty one is made the system's way and replaced as any list. Should the
        // program end in between, an empty list loads as none.
        const HANDLE hNew = CreateFileW(destination.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
        if (hNew == INVALID_HANDLE_VALUE) {
            if (GetLastError() != ERROR_FILE_EXISTS) return LastError();
        } else {
            CloseHandle(hNew);
            bPlaceholder = true;
        }
        attributes = GetFileAttributesW(destination.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) return LastError();
    }
    const int replaced = ReplaceExisting(source, destination, attributes);
    if (replaced != 0 && bPlaceholder) DeleteFileW(destination.c_str());
    return replaced;
}

namespace {

int ReplaceExisting(const std::wstring& source, const std::wstring& destination, DWORD attributes) {
    // Read-only is the user's word that the list stays as it is.
    if ((attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != 0)
        return ERROR_ACCESS_DENIED;
    // Held open by a program that does not let it be replaced: refused before anything is
    // moved (Wine's ReplaceFileW would leave a file of its own behind).
    const HANDLE hOld = CreateFileW(destination.c_str(), DELETE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (hOld == INVALID_HANDLE_VALUE) return LastError();
    CloseHandle(hOld);
    // The old file's attributes and rights go to the new text: ReplaceFileW keeps them, one
    // rename would drop them.
    if (!::ReplaceFileW(destination.c_str(), source.c_str(), nullptr, 0, nullptr, nullptr)) {
        const DWORD error = GetLastError();
        // The old file is gone and the new one is still under its temporary name: finish.
        if (error == ERROR_UNABLE_TO_MOVE_REPLACEMENT) return MoveInPlace(source, destination);
        // File systems that cannot do it (FAT, some shares) still rename.
        if (error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION ||
            error == ERROR_INVALID_PARAMETER) {
            if (const int moved = MoveInPlace(source, destination)) return moved;
        } else {
            return static_cast<int>(error);
        }
    }
    // Not every system carries the attributes over (Wine keeps the new file's): what the user
    // set is set again, and the text is marked changed for backups. The text is in place
    // whatever this answers.
    const DWORD kept = (attributes & kKeptAttributes) | FILE_ATTRIBUTE_ARCHIVE;
    const DWORD now = GetFileAttributesW(destination.c_str());
    if (now != INVALID_FILE_ATTRIBUTES &&
        (now & (kKeptAttributes | FILE_ATTRIBUTE_ARCHIVE)) != kept)
        SetFileAttributesW(destination.c_str(), (now & ~kKeptAttributes) | kept);
    return 0;
}

}  // namespace

int CWin32Platform::DeleteFile(const CString& path) {
    return DeleteFileW(SystemPath(path).c_str()) ? 0 : LastError();
}

CString CWin32Platform::GetCurrentDirectory() {
    // Grows until the path fits: the answer is the size needed whenever it does not.
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD size = GetCurrentDirectoryW(static_cast<DWORD>(buffer.size()), buffer.data());
        if (size == 0) return {};
        if (size < buffer.size()) return ReadablePath(std::wstring(buffer.data(), size));
        buffer.resize(size);
    }
}

int CWin32Platform::CheckCurrentDirectory() {
    // The system holds the working directory open and refuses to remove it while the process
    // runs, so it is read afresh each time and stays the one taken at start-up; under Wine a
    // Linux program may still remove it.
    const CString directory = GetCurrentDirectory();
    if (directory.empty()) return ERROR_PATH_NOT_FOUND;
    const DWORD attributes = GetFileAttributesW(SystemPath(directory).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) return 0;
    // Only a folder that is not there: one the user may not look at is still there.
    const int error = LastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? error : 0;
}

CString CWin32Platform::JoinPath(const CString& strDirectory, const CString& strName) const {
    // As is, even after a root's backslash: the system reads a doubled one as one.
    return strDirectory + "\\" + strName;
}

bool CWin32Platform::IsAbsolutePath(const CString& strPath) const {
    const auto isSeparator = [](char c) { return c == '\\' || c == '/'; };
    if (!strPath.empty() && isSeparator(strPath[0])) return true;
    // "C:name" is relative to that drive's own working directory.
    return strPath.size() >= 3 &&
           ((strPath[0] >= 'A' && strPath[0] <= 'Z') || (strPath[0] >= 'a' && strPath[0] <= 'z')) &&
           strPath[1] == ':' && isSeparator(strPath[2]);
}
