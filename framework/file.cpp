#include "framework/file.h"

#include "base/strutil.h"
#include "framework/afxres.h"
#include "framework/winapp.h"
#include "framework/wnd.h"

namespace {

UINT MessageIdOf(CFileException::Cause cause) {
    switch (cause) {
        case CFileException::fileNotFound:
            return AFX_IDP_FILE_NOT_FOUND;
        case CFileException::badPath:
            return AFX_IDP_FILE_BAD_PATH;
        case CFileException::tooManyOpenFiles:
            return AFX_IDP_FILE_TOO_MANY_OPEN;
        case CFileException::accessDenied:
            return AFX_IDP_FILE_ACCESS_DENIED;
        case CFileException::invalidFile:
            return AFX_IDP_FILE_INVALID_FILE;
        case CFileException::directoryFull:
            return AFX_IDP_FILE_DIR_FULL;
        case CFileException::badSeek:
            return AFX_IDP_FILE_BAD_SEEK;
        case CFileException::hardIO:
            return AFX_IDP_FILE_HARD_IO;
        case CFileException::sharingViolation:
            return AFX_IDP_FILE_SHARING;
        case CFileException::lockViolation:
            return AFX_IDP_FILE_LOCKING;
        case CFileException::diskFull:
            return AFX_IDP_FILE_DISK_FULL;
        case CFileException::endOfFile:
            return AFX_IDP_FILE_EOF;
        case CFileException::generic:
        default:
            return AFX_IDP_FILE_GENERIC;
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
    return FormatString(AfxLoadString(MessageIdOf(m_cause)), {m_strFileName});
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
