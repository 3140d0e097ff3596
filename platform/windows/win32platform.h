#pragma once
// The system services on Windows: the Win32 API itself, Winsock, the system's ICMP.DLL.
//
// Supports: Windows 7 and later and Wine, 32 and 64 bits; Winsock 1.1, the sound and IDNA
// bound at run time from the system directory only (framework/windows/win32syslib.h); IPv4 names by
// gethostbyname, non-ASCII ones by their IDNA form from the ANSI code page (base/inet.h);
// timers within the system's bounds (10 ms to about 24 days); the notification icon with the
// shell's first record, added again when the taskbar restarts; icons at the size of the
// monitor's scale (the per-monitor functions bound at run time, the screen's scale where they
// are missing), followed when the program's window is told its scale changed; paths in UTF-8
// inside, wide and long (\\?\) toward the system; files replaced atomically (ReplaceFileW,
// write-through); one instance per list file and user (a named mutex in the session's namespace,
// owned by the user, and a registered message to a window of the user's own). Does not: IPv6; names
// the code page cannot spell; under Wine, symbolic links to save through and the rights a file is
// given (its tests say so and skip).

#include <functional>
#include <map>

#include "base/platform.h"

// The list this process holds, with the hidden window later starts ask through; let go with
// the platform (in win32instance.cpp).
class CWin32InstanceClaim {
public:
    CWin32InstanceClaim() = default;
    ~CWin32InstanceClaim();
    CWin32InstanceClaim(const CWin32InstanceClaim&) = delete;
    CWin32InstanceClaim& operator=(const CWin32InstanceClaim&) = delete;

    HANDLE m_hMutex = nullptr;
    HWND m_hWnd = nullptr;
    UINT m_uShowRequest = 0;
    std::function<void()> m_onShowRequest;
};

class CWin32Platform : public CPlatform {
public:
    CWin32Platform();
    ~CWin32Platform() override;
    CWin32Platform(const CWin32Platform&) = delete;
    CWin32Platform& operator=(const CWin32Platform&) = delete;

    CString GetAppName() const override;
    HMODULE LoadLibrary(const char* name) override;
    void* GetProcAddress(HMODULE module, const char* name) override;
    void FreeLibrary(HMODULE module) override;
    DWORD GetLastError() const override;
    BOOL SocketInit() override;
    std::optional<std::uint32_t> GetHostByName(const CString& name) override;
    // The ASCII name a lookup of name asks the resolver for (base/inet.h), or nothing.
    std::optional<CString> LookupForm(const CString& name);
    void SetTimer(CWnd& wnd, UINT_PTR id, UINT elapseMs) override;
    void KillTimer(CWnd& wnd, UINT_PTR id) override;
    // The icon's size is the one at 96 dpi: 16 loads at the small-icon size of the taskbar's
    // monitor, any other at the scale of the program's window (the system's before it exists).
    BOOL ShellNotifyIcon(DWORD message, const CNotifyIconData& data) override;
    HICON LoadIcon(UINT resourceId, int cx, int cy) override;
    void DestroyIcon(HICON icon) override;
    BOOL PlaySound(const char* name, DWORD flags) override;
    int MessageBox(CWnd* owner, const CString& text, const CString& caption, UINT type) override;

    // Files, in win32files.cpp.
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

    // One instance per list, in win32instance.cpp.
    InstanceClaim ClaimInstance(const CString& strListPath,
                                std::function<void()> onShowRequest) override;

private:
    // The shell forgets every icon when it restarts; the one last given is given again.
    static LRESULT CALLBACK TrayWindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam,
                                           UINT_PTR uIdSubclass, DWORD_PTR dwRefData);
    void KeepTrayRecord(DWORD message, const NOTIFYICONDATAA& record);
    // A new scale for the program's window (WM_DPICHANGED): the tray picture and the window's
    // own icons loaded again at its sizes.
    void OnDpiChanged(HWND hWnd, UINT uDpi);

    // Icons, in win32desktop.cpp: the resource each icon handed out came from, so that a
    // change of scale can load it again; and those the platform set on the window itself.
    HICON LoadIconAtSize(UINT resourceId, int cx, int cy);
    std::map<HICON, UINT> m_iconResources;
    UINT m_uTrayIconResource = 0;
    HICON m_hWindowIcons[2] = {};  // big, small: ours once the scale changed, else null

    // Winsock and the sound, loaded from the system directory when first needed.
    bool BindWinsock();
    bool BindSound();

    HMODULE m_hWinsock = nullptr;
    decltype(&::WSAStartup) m_pfnWSAStartup = nullptr;
    decltype(&::WSACleanup) m_pfnWSACleanup = nullptr;
    decltype(&::gethostbyname) m_pfnGetHostByName = nullptr;
    // IDNA, bound on the first name that needs it.
    bool BindIdn();
    HMODULE m_hIdn = nullptr;
    decltype(&::IdnToAscii) m_pfnIdnToAscii = nullptr;
    bool m_bSocketsStarted = false;
    HMODULE m_hSound = nullptr;
    decltype(&::PlaySoundA) m_pfnPlaySound = nullptr;
    NOTIFYICONDATAA m_trayRecord{};  // hWnd null while there is no icon
    UINT m_uTaskbarCreated = 0;
    CWin32InstanceClaim m_instance;
};
