#pragma once
// The system services on the Linux desktop: Qt for timers, tray, sound and boxes, POSIX for
// name resolution, and the program's own ICMP facility standing in for the system library.

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

    // Files, in qtfiles.cpp.
    std::unique_ptr<CPlatformFile> OpenFile(const CString& path, FileMode mode,
                                            int& error) override;
    std::unique_ptr<CPlatformFile> CreateTempFile(const CString& pathPrefix, CString& path,
                                                  int& error) override;
    int ResolveSavePath(const CString& path, CString& target) override;
    int ReplaceFile(const CString& from, const CString& to) override;
    int DeleteFile(const CString& path) override;
    CString GetCurrentDirectory() override;
    CString JoinPath(const CString& strDirectory, const CString& strName) const override;
    bool IsAbsolutePath(const CString& strPath) const override;

    // One instance per list, in qtinstance.cpp.
    BOOL ClaimInstance(const CString& strListPath, std::function<void()> onShowRequest) override;

private:
    void ReleaseInstance();

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
    // The lock on the list's directory, and the socket later starts ask through.
    int m_nInstanceLock = -1;
    int m_nInstanceSocket = -1;
    CString m_strInstanceSocket;
    std::unique_ptr<QSocketNotifier> m_pInstanceNotifier;
};
