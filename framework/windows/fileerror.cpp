// The framework's causes for the error codes of Windows (GetLastError).

#include "framework/file.h"

CFileException::Cause AfxFileErrorCause(int nOsError) {
    switch (static_cast<DWORD>(nOsError)) {
        case ERROR_FILE_NOT_FOUND:
            return CFileException::fileNotFound;
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_PATHNAME:
        case ERROR_FILENAME_EXCED_RANGE:
        case ERROR_INVALID_DRIVE:
        case ERROR_CANT_RESOLVE_FILENAME:
            return CFileException::badPath;
        case ERROR_TOO_MANY_OPEN_FILES:
            return CFileException::tooManyOpenFiles;
        case ERROR_ACCESS_DENIED:
        case ERROR_WRITE_PROTECT:
        case ERROR_CURRENT_DIRECTORY:
        // The old list could not be put aside (held open, or its rights forbid it).
        case ERROR_UNABLE_TO_REMOVE_REPLACED:
        case ERROR_UNABLE_TO_MOVE_REPLACEMENT:
        case ERROR_UNABLE_TO_MOVE_REPLACEMENT_2:
            return CFileException::accessDenied;
        case ERROR_INVALID_HANDLE:
            return CFileException::invalidFile;
        case ERROR_CANNOT_MAKE:
            return CFileException::directoryFull;
        case ERROR_SEEK:
        case ERROR_NEGATIVE_SEEK:
            return CFileException::badSeek;
        case ERROR_CRC:
        case ERROR_READ_FAULT:
        case ERROR_WRITE_FAULT:
        case ERROR_GEN_FAILURE:
        case ERROR_IO_DEVICE:
            return CFileException::hardIO;
        case ERROR_SHARING_VIOLATION:
            return CFileException::sharingViolation;
        case ERROR_LOCK_VIOLATION:
        case ERROR_DRIVE_LOCKED:
            return CFileException::lockViolation;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return CFileException::diskFull;
        case ERROR_HANDLE_EOF:
            return CFileException::endOfFile;
        default:
            return CFileException::generic;
    }
}
