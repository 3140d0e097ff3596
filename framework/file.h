#pragma once
// Files as the dialog framework offers them: a failed open returns FALSE, with its cause when
// asked; an error after that is raised to the message dispatch, which shows the framework's
// file-error box and abandons the rest of the handler. Code that must go on after a failure
// catches and shows the same box with ReportError.

#include <cstdint>
#include <memory>

#include "base/platform.h"
#include "base/wintypes.h"

class CFileException {
public:
    enum Cause {
        generic,
        fileNotFound,
        badPath,
        tooManyOpenFiles,
        accessDenied,
        invalidFile,
        directoryFull,
        badSeek,
        hardIO,
        sharingViolation,
        lockViolation,
        diskFull,
        endOfFile,
    };

    CFileException() : CFileException(generic, CString()) {}
    // nOsError: the system's own error number (errno, or a Windows error code).
    CFileException(int nOsError, CString strFileName);
    CFileException(Cause cause, CString strFileName);

    // The framework's text for the cause, naming the file.
    CString GetErrorMessage() const;
    // The framework's file-error box, owned by pOwner while it is a window.
    void ReportError(CPlatform& platform, CWnd* pOwner) const;

    Cause m_cause;
    int m_lOsError;
    CString m_strFileName;
};

// The cause the framework reports for one of the system's error numbers; one definition per
// platform.
CFileException::Cause AfxFileErrorCause(int nOsError);

class CFile {
public:
    explicit CFile(CPlatform& platform);
    ~CFile();  // closes quietly if still open
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;

    // FALSE, without a message, when the file cannot be opened; pError then gets the cause.
    BOOL Open(const CString& strPath, FileMode mode, CFileException* pError = nullptr);
    // A new uniquely named file next to strPathPrefix, open for writing.
    BOOL OpenTemp(const CString& strPathPrefix, CFileException* pError = nullptr);

    UINT Read(void* buffer, UINT nCount);
    void Write(const void* buffer, UINT nCount);
    std::uint64_t GetLength();
    // Writes through to the disk.
    void Flush();
    void Close();
    // Closes without a word about errors: for giving up on a file already failing.
    void Abort();

    // The full path errors name; the opened path unless set otherwise.
    CString GetFilePath() const { return m_strReportPath; }
    void SetFilePath(const CString& strPath) { m_strReportPath = strPath; }
    // The path the file was opened under.
    CString GetOpenedPath() const { return m_strOpenedPath; }

    // Puts the closed file from in place of to; errors name strReportPath.
    static void Replace(CPlatform& platform, const CString& from, const CString& to,
                        const CString& strReportPath);

private:
    [[noreturn]] void Throw(int nOsError) const;
    [[noreturn]] void ThrowNotOpen() const;
    CString FullPath(const CString& strPath) const;

    CPlatform& m_platform;
    std::unique_ptr<CPlatformFile> m_pFile;
    CString m_strOpenedPath;
    CString m_strReportPath;
};
