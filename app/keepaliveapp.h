#pragma once
// The application object: starts the sockets, creates the hidden main dialog and binds the
// ICMP library; tears both down at the end.

#include "base/icmplib.h"
#include "framework/winapp.h"

class CKeepAliveDlg;

class CKeepAliveApp : public CWinApp, public CIcmpLibrary {
public:
    explicit CKeepAliveApp(CPlatform& platform) : CWinApp(platform) {}

    BOOL InitInstance() override;
    int ExitInstance() override;
    // Runs the program (AfxWinMain) and gives the process's exit code: 0 for a start that
    // handed over to the instance already running on its list, kExitClaimFailed for one that
    // found the list held but could not ask its holder.
    int Run();
    static constexpr int kExitClaimFailed = 1;

private:
    // Shows a start-up failure with no owner.
    void StartupError(const CString& text, const CString& caption, UINT nType);
    // Another start on the same list: as a left click on the icon.
    void OnShowRequest();

    bool m_bClaimFailed = false;
};

// The main dialog, owned by the application object from InitInstance to ExitInstance.
extern CKeepAliveDlg* g_pMainDlg;
