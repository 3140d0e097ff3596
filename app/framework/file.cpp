#include "framework/file.h"

#include "framework/wnd.h"

namespace {

const char* TextOf(CFileException::Cause cause) {
    switch (cause) {
        case CFileException::fileNotFound:
            return "%1 was not found.";
        case CFileException::badPath:
            return "%1 contains an invalid path.";
        case CFileException::tooManyOpenFiles:
            return "%1 could not be opened because there are too many open files.";
        case CFileException::accessDenied:
            return "Access to %1 was denied.";
        case CFileException::invalidFile:
            return "An invalid file handle was associated with %1.";
        case CFileException::directoryFull:
            return "%1 could not be created because the directory is full.";
        case CFileException::badSeek:
            return "Seek failed on %1";
        case CFileException::hardIO:
            return "A hardware I/O error was reported while accessing %1.";
        case CFileException::sharingViolation:
            return "A sharing violation occurred while accessing %1.";
        case CFileException::lockViolation:
            return "A locking violation occurred while accessing %1.";
        case CFileException::diskFull:
            return "Disk full while accessing %1.";
        case CFileException::endOfFile:
            return "An attempt was made to access %1 past its end.";
        case CFileException::generic:
        default:
            return "An unexpected error occurred while accessing %1.";
    }
}

}  // namespace

CFileException::CFileException(int nOsError, CString strFileName)
    : m_cause(AfxFileErrorCause(nOsError)),
      m_lOsError(nOsError),
      m_strFileName(std::move(strFileName)) {}

CFileException::CFileException(Cause cause, CString strFileName)
    : m_cause(cause), m_lOsError(0), m_strFileName(std::move(strFileName)) {}

CString CFileException::GetErrorMessage() const {
    CString text = TextOf(m_cause);
    text.replace(text.find("%1"), 2, m_strFileName);
    return text;
}

void CFileException::ReportError(CPlatform& platform, CWnd* pOwner) const {
    platform.MessageBox(pOwner != nullptr && pOwner->IsWindow() ? pOwner : nullptr,
                        GetErrorMessage(), platform.GetAppName(), MB_OK | MB_ICONHAND);
}

CFile::CFile(CPlatform& platform) : m_platform(platform) {}

CFile::~CFile() { Abort(); }

CString CFile::FullPath(const CString& strPath) const {
    if (m_platform.IsAbsolutePath(strPath)) return strPath;
    return m_platform.JoinPath(m_platform.GetCurrentDirectory(), strPath);
}

BOOL CFile::Open(const CString& strPath, FileMode mode, CFileException* pError) {
    int error = 0;
    m_pFile = m_platform.OpenFile(strPath, mode, error);
    if (!m_pFile) {
        if (pError != nullptr) *pError = CFileException(error, FullPath(strPath));
        return FALSE;
    }
    m_strOpenedPath = strPath;
    m_strReportPath = FullPath(strPath);
    return TRUE;
}

BOOL CFile::OpenTemp(const CString& strPathPrefix, CFileException* pError) {
    int error = 0;
    CString path;
    m_pFile = m_platform.CreateTempFile(strPathPrefix, path, error);
    if (!m_pFile) {
        // No file was made, so the cause names the prefix: the caller knows it better.
        if (pError != nullptr) *pError = CFileException(error, FullPath(strPathPrefix));
        return FALSE;
    }
    m_strOpenedPath = path;
    m_strReportPath = FullPath(path);
    return TRUE;
}

void CFile::Throw(int nOsError) const { throw CFileException(nOsError, m_strReportPath); }

void CFile::ThrowNotOpen() const {
    throw CFileException(CFileException::invalidFile, m_strReportPath);
}

UINT CFile::Read(void* buffer, UINT nCount) {
    if (!m_pFile) ThrowNotOpen();
    std::size_t read = 0;
    if (const int error = m_pFile->Read(buffer, nCount, read)) Throw(error);
    return static_cast<UINT>(read);
}

void CFile::Write(const void* buffer, UINT nCount) {
    if (!m_pFile) ThrowNotOpen();
    if (const int error = m_pFile->Write(buffer, nCount)) Throw(error);
}

std::uint64_t CFile::GetLength() {
    if (!m_pFile) ThrowNotOpen();
    std::uint64_t length = 0;
    if (const int error = m_pFile->GetLength(length)) Throw(error);
    return length;
}

void CFile::Flush() {
    if (!m_pFile) ThrowNotOpen();
    if (const int error = m_pFile->Flush()) Throw(error);
}

void CFile::Close() {
    if (!m_pFile) return;
    const int error = m_pFile->Close();
    m_pFile.reset();
    if (error != 0) Throw(error);
}

void CFile::Abort() {
    if (!m_pFile) return;
    m_pFile->Close();
    m_pFile.reset();
}

void CFile::Replace(CPlatform& platform, const CString& from, const CString& to,
                    const CString& strReportPath) {
    if (const int error = platform.ReplaceFile(from, to))
        throw CFileException(error, strReportPath);
}
