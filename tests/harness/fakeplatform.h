#pragma once
// A recording stand-in for the system services: boxes return at once and are recorded, the
// timer fires when the test says so, tray calls and icons are counted, library entries can be
// taken away.

#include <functional>
#include <map>
#include <set>
#include <vector>

#include "base/icmplib.h"
#include "base/platform.h"

// The system's error numbers the fake reports and the tests inject, as this platform's file
// layer gives them (errno, or Windows error codes).
struct CFakeError {
#ifdef _WIN32
    static constexpr int kNotFound = ERROR_FILE_NOT_FOUND;
    static constexpr int kAccessDenied = ERROR_ACCESS_DENIED;
    static constexpr int kIo = ERROR_READ_FAULT;
    static constexpr int kDiskFull = ERROR_DISK_FULL;
    static constexpr int kLoop = ERROR_CANT_RESOLVE_FILENAME;
#else
    static constexpr int kNotFound = 2;       // ENOENT
    static constexpr int kAccessDenied = 13;  // EACCES
    static constexpr int kIo = 5;             // EIO
    static constexpr int kDiskFull = 28;      // ENOSPC
    static constexpr int kLoop = 40;          // ELOOP
#endif
};

// The fake's icons: its own records behind the system's handle type.
inline const CIconRes* FakeIconOf(HICON icon) { return reinterpret_cast<const CIconRes*>(icon); }

class CFakePlatform : public CPlatform {
public:
    struct Box {
        CWnd* pOwner;
        CString strText;
        CString strCaption;
        UINT nType;
    };
    struct TrayCall {
        DWORD dwMessage;
        UINT uID;
        UINT uFlags;
        UINT uCallbackMessage;
        UINT nIconId;  // 0 when no icon was passed
        CString strTip;
    };
    // What a destination answers an echo request with.
    struct EchoAnswer {
        DWORD dwRoundTripMs = 0;
        DWORD dwStatus = 0;  // non-zero: an ICMP error instead (11003: host unreachable)
    };
    // One echo request as the ICMP entry point received it.
    struct EchoRequest {
        CString strDestination;  // dotted
        BYTE nTtl;               // 0 when no options were passed
        CString strPayload;      // every byte sent, terminator included
        DWORD nReplySize;
        DWORD nTimeoutMs;
    };

    // The ICMP entry points are plain functions: they act on the fake constructed last.
    CFakePlatform();
    ~CFakePlatform() override;

    // Settings a test may change before use.
    CString m_strAppName = "quorvane";
    bool m_bSocketsOk = true;
    bool m_bHasIcmpLibrary = true;
    std::set<CString> m_missingEntries;
    std::map<CString, std::uint32_t> m_hosts;
    // Runs inside each message box, as the user's or the system's doing while it is open.
    std::function<void(const Box&)> m_onBox;
    // ICMP: destinations (dotted) that answer; all others stay silent until the timeout.
    std::map<CString, EchoAnswer> m_echoAnswers;
    bool m_bIcmpCreateFails = false;
    bool m_bIcmpCloseFails = false;
    // Every send returns 0 and leaves the reply buffer as it was.
    bool m_bEchoLeavesBufferUntouched = false;
    // Runs inside each echo request, as what happens on the system while the probe blocks.
    std::function<void(const EchoRequest&)> m_onEcho;

    // What happened.
    std::vector<Box> m_boxes;
    std::vector<TrayCall> m_trayCalls;
    std::vector<CString> m_sounds;
    std::vector<DWORD> m_soundFlags;
    std::vector<EchoRequest> m_echoRequests;
    int m_nIcmpHandlesOpen = 0;  // opened and not closed yet
    int m_nRepliesParsed = 0;    // IcmpParseReplies calls
    DWORD m_dwLastError = 0;     // as the ICMP entry points left it
    // ICMP calls and sounds in order: "IcmpCreateFile", "PlaySound SonarSound",
    // "IcmpSendEcho2 10.1.2.3" ("IcmpSendEcho ..." from a library without it),
    // "IcmpCloseHandle".
    std::vector<CString> m_events;
    // Echo requests sent to one destination.
    int EchoCount(const CString& strDestination) const;
    // The three entry points as start-up binds them from this fake's library.
    CIcmpLibrary BoundIcmp();
    int m_nLiveIcons = 0;
    int m_nLibrariesLoaded = 0;
    int m_nLibrariesFreed = 0;

    // Files: contents by full path, the working directory, and faults on demand.
    CString m_strCwd = "/home/user";
    // Not 0: the working directory is gone (CheckCurrentDirectory's answer).
    int m_nCwdError = 0;
    std::map<CString, std::string> m_files;
    // Symbolic links: the text of each by full path; followed as the kernel does, 40 at most.
    std::map<CString, CString> m_links;
    // Every ReplaceFile as (from, to), full paths.
    std::vector<std::pair<CString, CString>> m_replaceCalls;
    bool m_bFailOpenRead = false;
    int m_nOpenReadError = 0;  // for opening an existing file to read
    bool m_bFailCreateTemp = false;
    int m_nCreateTempError = CFakeError::kAccessDenied;
    int m_nReadError = 0;         // for every read
    long m_nWriteFailAfter = -1;  // bytes accepted before writes fail with m_nWriteError
    int m_nWriteError = CFakeError::kDiskFull;
    int m_nFlushError = 0;
    int m_nCloseError = 0;
    int m_nReplaceError = 0;
    int m_nFilesOpen = 0;
    // The paths of the files open now: as on Windows, none of them can be deleted or replaced.
    std::multiset<CString> m_openPaths;
    CString FullPath(const CString& path) const;

    // One instance per list: every path claimed, whether another process holds the list (the
    // claim then fails and counts a show request sent), whether that holder answers, and the
    // holder's show request.
    std::vector<CString> m_instanceClaims;
    bool m_bInstanceHeldElsewhere = false;
    bool m_bHolderAnswers = true;
    int m_nShowRequestsSent = 0;
    std::function<void()> m_onShowRequest;

    // Timer state: the period of each running timer.
    std::map<std::pair<CWnd*, UINT_PTR>, UINT> m_timers;
    bool IsTimerRunning(CWnd& wnd, UINT_PTR id) const { return m_timers.count({&wnd, id}) != 0; }
    UINT TimerPeriod(CWnd& wnd, UINT_PTR id) const;
    // Delivers one tick of a running timer; false when it is not running.
    bool FireTimer(CWnd& wnd, UINT_PTR id);

    CString GetAppName() const override { return m_strAppName; }
    HMODULE LoadLibrary(const char* name) override;
    void* GetProcAddress(HMODULE module, const char* name) override;
    void FreeLibrary(HMODULE module) override;
    BOOL SocketInit() override { return m_bSocketsOk ? TRUE : FALSE; }
    std::optional<std::uint32_t> GetHostByName(const CString& name) override;
    DWORD GetLastError() const override { return m_dwLastError; }
    void SetTimer(CWnd& wnd, UINT_PTR id, UINT elapseMs) override;
    void KillTimer(CWnd& wnd, UINT_PTR id) override;
    BOOL ShellNotifyIcon(DWORD message, const CNotifyIconData& data) override;
    HICON LoadIcon(UINT resourceId, int cx, int cy) override;
    void DestroyIcon(HICON icon) override;
    BOOL PlaySound(const char* name, DWORD flags) override;
    int MessageBox(CWnd* owner, const CString& text, const CString& caption, UINT type) override;
    std::unique_ptr<CPlatformFile> OpenFile(const CString& path, FileMode mode,
                                            int& error) override;
    std::unique_ptr<CPlatformFile> CreateTempFile(const CString& pathPrefix, CString& path,
                                                  int& error) override;
    int ResolveSavePath(const CString& path, CString& target) override;
    int ReplaceFile(const CString& from, const CString& to) override;
    int DeleteFile(const CString& path) override;
    CString GetCurrentDirectory() override { return m_strCwd; }
    int CheckCurrentDirectory() override { return m_nCwdError; }
    InstanceClaim ClaimInstance(const CString& strListPath,
                                std::function<void()> onShowRequest) override;
    // Paths as on a POSIX system.
    CString JoinPath(const CString& strDirectory, const CString& strName) const override {
        return strDirectory + "/" + strName;
    }
    bool IsAbsolutePath(const CString& strPath) const override {
        return !strPath.empty() && strPath.front() == '/';
    }
};
