#pragma once
// The system services the program's logic calls, behind one narrow interface. The logic gets
// an instance through its constructors: the real one for the desktop it runs on, a recording
// fake in the tests. Nothing here names a toolkit type.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "base/wintypes.h"

class CWnd;

#ifndef _WIN32
// Module handle of a loaded library; null when the library could not be loaded.
struct CModule;
using HMODULE = CModule*;
#endif

// The notification-area record, filled afresh for every call: the system's 88-byte record,
// with the window as the program knows it.
struct CNotifyIconData {
    DWORD cbSize = 88;
    CWnd* hWnd = nullptr;
    UINT uID = 0;
    UINT uFlags = 0;
    UINT uCallbackMessage = 0;
    HICON hIcon = nullptr;
    char szTip[64] = {};
};

// An open file of the platform. Every call returns 0 or the system's error number.
class CPlatformFile {
public:
    virtual ~CPlatformFile() = default;
    virtual int Read(void* buffer, std::size_t count, std::size_t& read) = 0;
    virtual int Write(const void* buffer, std::size_t count) = 0;
    virtual int GetLength(std::uint64_t& length) = 0;
    // Makes what was written durable.
    virtual int Flush() = 0;
    virtual int Close() = 0;
};

// What a start found when it claimed its list (CPlatform::ClaimInstance).
enum class InstanceClaim {
    Held,    // this process holds the list now
    Handed,  // another process of this user holds it and has been asked to show its dialog
    Failed,  // another process holds it but could not be asked (said on stderr)
};

enum class FileMode {
    Read,         // existing file, read only
    CreateWrite,  // created or truncated, write only
};

class CPlatform {
public:
    virtual ~CPlatform() = default;

    // The program's name as the system knows it (the executable's file name without directory
    // and extension): the caption of the framework's own message boxes.
    virtual CString GetAppName() const = 0;

    // Library loading. Null when the library or the entry point is missing; freeing null is
    // harmless.
    virtual HMODULE LoadLibrary(const char* name) = 0;
    // Why the last LoadLibrary failed, when the system knows better than "missing"; empty
    // otherwise.
    virtual CString GetLoadLibraryError() const { return {}; }
    virtual void* GetProcAddress(HMODULE module, const char* name) = 0;
    virtual void FreeLibrary(HMODULE module) = 0;

    // The error the last failed entry point of a bound library left for this thread.
    virtual DWORD GetLastError() const = 0;

    // Sockets start-up: FALSE unless the socket layer is usable.
    virtual BOOL SocketInit() = 0;

    // Name resolution: the first IPv4 address of the host (network byte order), or nothing.
    virtual std::optional<std::uint32_t> GetHostByName(const CString& name) = 0;

    // Timers: one WM_TIMER to the window per elapsed period, on the user-interface thread,
    // until killed; setting the same id again replaces the timer.
    virtual void SetTimer(CWnd& wnd, UINT_PTR id, UINT elapseMs) = 0;
    virtual void KillTimer(CWnd& wnd, UINT_PTR id) = 0;

    // Notification icon: mouse events on it reach hWnd as uCallbackMessage with the mouse
    // message in lParam; the shell keeps its own copy of the icon.
    virtual BOOL ShellNotifyIcon(DWORD message, const CNotifyIconData& data) = 0;

    // Icons: a fresh handle per call, released with DestroyIcon. The size is the one at the
    // standard scale (16 the small icon, 32 the large one): a platform whose screens have other
    // scales loads the icon at that size scaled for the screen that shows it, and keeps the
    // tray's and the window's icons at their scale when it changes.
    virtual HICON LoadIcon(UINT resourceId, int cx, int cy) = 0;
    virtual void DestroyIcon(HICON icon) = 0;

    // Sound: starts the named clip of the program's resources and returns at once.
    virtual BOOL PlaySound(const char* name, DWORD flags) = 0;

    // Files and the working directory. OpenFile gives null and an error number when the file
    // cannot be opened. CreateTempFile makes a new, uniquely named file for writing next to
    // pathPrefix (the name is pathPrefix followed by a few characters) and reports its path;
    // only its owner may read it until ReplaceFile gives it its final permissions.
    virtual std::unique_ptr<CPlatformFile> OpenFile(const CString& path, FileMode mode,
                                                    int& error) = 0;
    virtual std::unique_ptr<CPlatformFile> CreateTempFile(const CString& pathPrefix, CString& path,
                                                          int& error) = 0;
    // The file that saving to path must replace so that a link there stays a link: where the
    // chain of links at path ends, which need not exist yet; path itself when it is no link.
    // Returns 0 or the system's error number (a loop gives ELOOP).
    virtual int ResolveSavePath(const CString& path, CString& target) = 0;
    // Atomically puts the file at from in place of to. It takes to's permissions and, where
    // the process may give it away, to's owner; with no file at to, those of a new file.
    virtual int ReplaceFile(const CString& from, const CString& to) = 0;
    virtual int DeleteFile(const CString& path) = 0;
    // The working directory as it was at start-up, taken once: the list is loaded from it and
    // saved to it however the process's own directory changes or vanishes meanwhile. Empty when
    // the system cannot tell.
    virtual CString GetCurrentDirectory() = 0;
    // 0 while that directory is still there, else the system's error number (a folder removed
    // since, or already gone when the program started).
    virtual int CheckCurrentDirectory() = 0;
    // Paths in the system's own way: a name inside a directory (joined with the system's
    // separator, as is, even after a separator that ends the directory), and whether a path
    // stands on its own rather than from the working directory.
    virtual CString JoinPath(const CString& strDirectory, const CString& strName) const = 0;
    virtual bool IsAbsolutePath(const CString& strPath) const = 0;

    // One instance per list file and user. Held when this process now holds the list at
    // strListPath (until it ends): onShowRequest then runs on the user-interface thread, as a
    // click on the icon would, each time another start of the same user asks. Handed when
    // another process of this user holds it and has been asked to show its dialog; Failed when
    // one holds it but could not be asked (it does not answer, or is not this user's). A holder
    // that is gone holds nothing; Held too when the system cannot tell (said on stderr where
    // that is because another user could interfere).
    virtual InstanceClaim ClaimInstance(const CString& strListPath,
                                        std::function<void()> onShowRequest) = 0;

    // Message boxes: modal; the program's windows keep getting their messages while open.
    virtual int MessageBox(CWnd* owner, const CString& text, const CString& caption, UINT type) = 0;
};
