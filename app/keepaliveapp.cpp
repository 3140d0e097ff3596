#include "app/keepaliveapp.h"

#include "base/platform.h"
#include "base/strutil.h"
#include "framework/winapp.h"
#include "logic/keepalivedlg.h"
#include "logic/listfile.h"
#include "res/resource.h"

CKeepAliveDlg* g_pMainDlg = nullptr;

void CKeepAliveApp::StartupError(const CString& text, const CString& caption, UINT nType) {
    m_platform.MessageBox(nullptr, text, caption, MB_OK | nType);
}

BOOL CKeepAliveApp::InitInstance() {
    // Two instances on one list would double the traffic and overwrite each other's saves:
    // a second start opens the first one's dialog instead, and ends. One that cannot ask the
    // first ends too, but as a failure, so whoever started it can tell.
    const CString listPath = m_platform.JoinPath(m_platform.GetCurrentDirectory(), kListFileName);
    switch (m_platform.ClaimInstance(listPath, [this] { OnShowRequest(); })) {
        case InstanceClaim::Held:
            break;
        case InstanceClaim::Handed:
            return FALSE;
        case InstanceClaim::Failed:
            m_bClaimFailed = true;
            return FALSE;
    }

    if (!m_platform.SocketInit()) {
        StartupError(AfxLoadString(IDS_SOCKETS_INIT_FAILED), m_platform.GetAppName(),
                     MB_ICONEXCLAMATION);
        return FALSE;
    }

    // A folder removed under the program leaves nowhere to keep the list: it runs without one,
    // and the box says where it was, as it does for a list that cannot be read.
    if (const int error = m_platform.CheckCurrentDirectory())
        StartupError(FormatString(AfxLoadString(IDS_NO_WORKING_DIRECTORY),
                                  {m_platform.GetCurrentDirectory(), listPath}),
                     m_platform.GetAppName(), MB_ICONEXCLAMATION);

    g_pMainDlg = new CKeepAliveDlg(m_platform, *this);
    g_pMainDlg->Create(nullptr);
    m_pMainWnd = g_pMainDlg;

    // Until all three entry points are bound the dialog's probes do nothing, so a tick that
    // comes while a box below is open sends no request.
    const char* pszMissing = Bind(m_platform);
    if (pszMissing == kIcmpLibraryName) {
        const CString reason = m_platform.GetLoadLibraryError();
        StartupError(reason.empty() ? AfxLoadString(IDS_ICMP_LOAD_FAILED) : reason,
                     AfxLoadString(IDS_SONAR_ERROR), MB_ICONHAND);
        return FALSE;
    }
    if (pszMissing != nullptr) {
        StartupError(FormatString(AfxLoadString(IDS_ICMP_ENTRY_MISSING), {pszMissing}),
                     AfxLoadString(IDS_SONAR_ERROR), MB_ICONHAND);
        return FALSE;
    }
    return TRUE;
}

void CKeepAliveApp::OnShowRequest() {
    if (g_pMainDlg != nullptr && g_pMainDlg->IsWindow())
        g_pMainDlg->SendMessage(WM_TRAYNOTIFY, TRAY_ICON_ID, WM_LBUTTONDOWN);
}

int CKeepAliveApp::Run() {
    const int nExitCode = AfxWinMain(*this);
    return m_bClaimFailed ? kExitClaimFailed : nExitCode;
}

int CKeepAliveApp::ExitInstance() {
    delete g_pMainDlg;
    g_pMainDlg = nullptr;
    m_pMainWnd = nullptr;
    m_pfnIcmpCreateFile = nullptr;
    m_pfnIcmpCloseHandle = nullptr;
    m_pfnIcmpSendEcho = nullptr;
    m_pfnIcmpSendEcho2 = nullptr;
    m_pfnIcmpParseReplies = nullptr;
    m_platform.FreeLibrary(m_hIcmpLib);
    m_hIcmpLib = nullptr;
    return CWinApp::ExitInstance();
}
