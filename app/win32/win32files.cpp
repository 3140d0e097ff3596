// Files and the working directory on Windows. Errors are the system's own codes
// (GetLastError), which the framework turns into its messages.

#include <algorithm>
#include <vector>

#include "win32/win32platform.h"

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

}  // namespace

std::unique_ptr<CPlatformFile> CWin32Platform::OpenFile(const CString& path, FileMode mode,
                                                        int& error) {
    const bool bRead = mode == FileMode::Read;
    // No sharing: while the list is read or written, no other program changes it under us.
    const HANDLE hFile =
        CreateFileA(path.c_str(), bRead ? GENERIC_READ : GENERIC_WRITE, 0, nullptr,
                    bRead ? OPEN_EXISTING : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    return Adopt(hFile, error);
}

std::unique_ptr<CPlatformFile> CWin32Platform::CreateTempFile(const CString& pathPrefix,
                                                              CString& path, int& error) {
    for (unsigned attempt = 0; attempt < kMaxTempAttempts; ++attempt) {
        const CString candidate = pathPrefix + TempSuffix(attempt);
        const HANDLE hFile = CreateFileA(candidate.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                         FILE_ATTRIBUTE_NORMAL, nullptr);
        if (hFile == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS) continue;
        auto file = Adopt(hFile, error);
        if (file) path = candidate;
        return file;
    }
    error = ERROR_FILE_EXISTS;
    return nullptr;
}

int CWin32Platform::ResolveSavePath(const CString& path, CString& target) {
    // The list is saved where it is: a link on Windows is none of the program's business.
    target = path;
    return 0;
}

int CWin32Platform::ReplaceFile(const CString& from, const CString& to) {
    // One rename, through to the disk before it returns: the old list or the new one, never
    // neither.
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
               ? 0
               : LastError();
}

int CWin32Platform::DeleteFile(const CString& path) {
    return DeleteFileA(path.c_str()) ? 0 : LastError();
}

CString CWin32Platform::GetCurrentDirectory() {
    // Grows until the path fits: the answer is the size needed whenever it does not.
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
        const DWORD size = GetCurrentDirectoryA(static_cast<DWORD>(buffer.size()), buffer.data());
        if (size == 0) return {};
        if (size < buffer.size()) return CString(buffer.data(), size);
        buffer.resize(size);
    }
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
