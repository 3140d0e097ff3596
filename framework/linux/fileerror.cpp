// The framework's causes for the error numbers of a POSIX system (errno).

#include <cerrno>

#include "framework/file.h"

CFileException::Cause AfxFileErrorCause(int nOsError) {
    switch (nOsError) {
        case ENOENT:
            return CFileException::fileNotFound;
        case ENOTDIR:
        case ENAMETOOLONG:
        case ELOOP:
            return CFileException::badPath;
        case EMFILE:
        case ENFILE:
            return CFileException::tooManyOpenFiles;
        case EACCES:
        case EPERM:
        case EROFS:
            return CFileException::accessDenied;
        case EBADF:
            return CFileException::invalidFile;
        case ESPIPE:
            return CFileException::badSeek;
        case EIO:
            return CFileException::hardIO;
        case ETXTBSY:
        case EBUSY:
            return CFileException::sharingViolation;
        case EAGAIN:
        case EDEADLK:
        case ENOLCK:
            return CFileException::lockViolation;
        case ENOSPC:
        case EDQUOT:
        case EFBIG:
            return CFileException::diskFull;
        default:
            return CFileException::generic;
    }
}
