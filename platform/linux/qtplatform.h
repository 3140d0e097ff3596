#pragma once
// The system services on the Linux desktop: Qt for timers, tray, sound and boxes, POSIX for
// files and name resolution, and the program's own ICMP facility standing in for the system
// library.
//
// Supports: echo requests on ICMP datagram sockets where net.ipv4.ping_group_range lets the
// user open them, raw sockets with cap_net_raw otherwise (said at start-up when neither);
// IPv4 names by getaddrinfo, non-ASCII ones by their IDNA form from UTF-8 (base/inet.h);
// timers from 10 ms to INT_MAX ms, precise; the tray through StatusNotifier hosts on the
// session bus (X11 and Wayland) and XEmbed trays on X11, following hosts as they come and go;
// the sound from a module loaded on the first request; files replaced atomically after fsync,
// links followed, in the working directory taken once at start-up (held open, so a save never
// lands elsewhere when it is removed); one instance per list file and user (a lock file and a
// local socket in a directory only the user can use: $XDG_RUNTIME_DIR/quorvane, else
// /run/user/UID/quorvane, else /tmp/quorvane-UID).
// Does not: IPv6; a sound without its module or the multimedia libraries (the probes go on
// silently, said once on stderr); an icon before a tray host runs (the cycle runs meanwhile);
// message boxes under the offscreen platform (written to stderr).

#include <map>
#include <memory>
#include <set>
#include <utility>

#include "base/platform.h"

class CQtSound;
class CQtTray;
class QSocketNotifier;
class QTimer;

class CQtPlatform : public CPlatform {
public:
    CQtPlatform();
    ~CQtPlatform() override;

    CString GetAppName() const override;
    HMODULE LoadLibrary(const char* name) override;
    CString GetLoadLibraryError() const override;
    void* GetProcAddress(HMODULE module, const char* name) override;
    void FreeLibrary(HMODULE module) override;
    DWORD GetLastError() const override;
    BOOL SocketInit() override;
    std::optional<std::uint32_t> GetHostByName(const CString& name) override;
    // The ASCII name a lookup of name asks the resolver for (base/inet.h), or nothing.
    static std::optional<CString> LookupForm(const CString& name);
    void SetTimer(CWnd& wnd, UINT_PTR id, UINT elapseMs) override;
    void KillTimer(CWnd& wnd, UINT_PTR id) override;
    BOOL ShellNotifyIcon(DWORD message, const CNotifyIconData& data) override;
    HICON LoadIcon(UINT resourceId, int cx, int cy) override;
    void DestroyIcon(HICON icon) override;
    BOOL PlaySound(const char* name, DWORD flags) override;
    int MessageBox(CWnd* owner, const CString& text, const CString& caption, UINT type) override;

    // Files, in posixfiles.cpp.
    std::unique_ptr<CPlatformFile> OpenFile(const CString& path, FileMode mode,
                                            int& error) override;
    std::unique_ptr<CPlatformFile> CreateTempFile(const CString& pathPrefix, CString& path,
                                                  int& error) override;
    int ResolveSavePath(const CString& path, CString& target) override;
    int ReplaceFile(const CString& from, const CString& to) override;
    int DeleteFile(const CString& path) override;
    CString GetCurrentDirectory() override;
    int CheckCurrentDirectory() override;
    CString JoinPath(const CString& strDirectory, const CString& strName) const override;
    bool IsAbsolutePath(const CString& strPath) const override;

    // One instance per list, in qtinstance.cpp.
    InstanceClaim ClaimInstance(const CString& strListPath,
                                std::function<void()> onShowRequest) override;

private:
    void ReleaseInstance();
    // The working directory, taken once by the constructor.
    void TakeWorkingDirectory();
    // Where a path leads for the *at system calls: the start-up directory's descriptor and the
    // name for a file directly in it, the path itself otherwise.
    struct CAt {
        int dir;
        const char* name;
    };
    CAt At(const CString& path) const;

    std::map<std::pair<CWnd*, UINT_PTR>, std::unique_ptr<QTimer>> m_timers;
    // Ticks that came and wait to be delivered.
    std::set<std::pair<CWnd*, UINT_PTR>> m_heldTicks;
    CString m_strLoadLibraryError;
    // The sound module's player, made on the first request and destroyed with the platform,
    // while the toolkit is still there.
    struct CSoundPlayer {
        CQtSound* pSound = nullptr;
        bool (*pfnPlay)(CQtSound*, const char*) = nullptr;
        void (*pfnDestroy)(CQtSound*) = nullptr;
        CSoundPlayer() = default;
        CSoundPlayer(const CSoundPlayer&) = delete;
        CSoundPlayer& operator=(const CSoundPlayer&) = delete;
        ~CSoundPlayer() {
            if (pSound != nullptr) pfnDestroy(pSound);
        }
    };
    bool m_bSoundLoaded = false;
    CSoundPlayer m_sound;
    // The notification icon, made on the first request.
    std::unique_ptr<CQtTray> m_pTray;
    // The working directory taken at start-up: its path, and the directory itself.
    CString m_strStartDir;
    int m_nStartDir = -1;
    // The lock on the list, and the socket later starts ask through (its name in the
    // directory where this user's starts meet).
    int m_nInstanceLock = -1;
    int m_nInstanceSocket = -1;
    int m_nInstanceDir = -1;
    CString m_strInstanceSocket;
    std::unique_ptr<QSocketNotifier> m_pInstanceNotifier;
};
