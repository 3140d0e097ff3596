#pragma once
// The program's only window: settings, server list, keep-alive timer and tray icon.

#include "base/icmplib.h"
#include "framework/dialog.h"
#include "framework/listbox.h"

constexpr UINT ID_PING_TIMER = 1;
constexpr UINT WM_TRAYNOTIFY = WM_APP + 100;
constexpr UINT TRAY_ICON_ID = 128;

// The delay between probes in seconds, typed in or read from the list file, is kept within
// these bounds; a new server's text within this many characters.
constexpr int kMinDelay = 3;
constexpr int kMaxDelay = 3600;
constexpr int kMaxServerChars = 50;

class CKeepAliveDlg : public CDialog {
public:
    // icmp: the application's bound ICMP library; probes wait until it is bound.
    CKeepAliveDlg(CPlatform& platform, const CIcmpLibrary& icmp);
    ~CKeepAliveDlg() override;

    // Members, in the order the dialog exchanges and documents them.
    CListBox m_lbServers;
    int m_nDelay = 0;
    CString m_strNewServer;
    BOOL m_bCycleOnNoContact = FALSE;
    BOOL m_bSound = FALSE;
    HICON m_hIcon = nullptr;
    BOOL m_bTrayClicks = FALSE;
    BOOL m_bCycling = FALSE;
    int m_nCurrent = 0;
    CString m_strListPath;

    // Tray icon.
    BOOL NotifyTray(DWORD dwMessage, UINT uID, HICON hIcon, const char* pszTip);
    LRESULT OnTrayNotify(WPARAM wParam, LPARAM lParam);

    // List file.
    void LoadListFile();
    void SaveListFile();

    // Echo prober: the round-trip time in ms, or -1; ResolveAndPing rewrites a host name to
    // its dotted address.
    int TryPing(const CString& strAddress);
    BOOL ResolveAndPing(CString& strAddress);

    void OnAbout();
    void OnAdd();
    void OnRemove();

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;
    int OnCreate() override;
    void OnDestroy() override;
    void OnClose() override;
    void OnTimer(UINT_PTR nIDEvent) override;
    void OnSysCommand(UINT nID, LPARAM lParam) override;
    BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

    // Sets the tray picture to one of the icon resources, with the program's tip.
    void SetTrayIcon(UINT nIconId, DWORD dwMessage = NIM_MODIFY);
    // Shows the dialog, restored if it was minimised, in front of the other windows.
    void ShowInFront();
    // Starts the keep-alive cycle: the first tick probes entry 0.
    void StartCycle();
    void StopCycle();

    // One echo request's buffers and event, which may outlive the probe of an ending program.
    struct CEcho;
    // Sends the request and leaves its answers' count: false when the program is to end before
    // the answer came, with the request still under way.
    bool SendEcho(IPAddr destination, CEcho& echo, DWORD& dwReplies);

    const CIcmpLibrary& m_icmp;
};
