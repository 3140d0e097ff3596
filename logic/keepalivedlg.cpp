#include "logic/keepalivedlg.h"

#include "base/platform.h"
#include "framework/file.h"
#include "logic/aboutdlg.h"
#include "res/resource.h"
#include "res/resources.h"

namespace {

constexpr UINT IDM_ABOUTBOX = 0x0010;
constexpr int kStandardIconSize = 32;

}  // namespace

CKeepAliveDlg::CKeepAliveDlg(CPlatform& platform, const CIcmpLibrary& icmp)
    : CDialog(KeepAliveDialogTemplate(), platform), m_icmp(icmp) {
    m_hIcon = platform.LoadIcon(IDI_MAIN, kStandardIconSize, kStandardIconSize);
}

CKeepAliveDlg::~CKeepAliveDlg() { Platform().DestroyIcon(m_hIcon); }

void CKeepAliveDlg::DoDataExchange(CDataExchange* pDX) {
    DDX_Control(pDX, IDC_SERVER_LIST, m_lbServers);
    DDX_Text(pDX, IDC_DELAY, m_nDelay);
    DDV_MinMaxInt(pDX, m_nDelay, kMinDelay, kMaxDelay);
    DDX_Text(pDX, IDC_NEW_SERVER, m_strNewServer);
    DDV_MaxChars(pDX, m_strNewServer, kMaxServerChars);
    DDX_Check(pDX, IDC_CYCLE, m_bCycleOnNoContact);
    DDX_Check(pDX, IDC_SOUND, m_bSound);
}

int CKeepAliveDlg::OnCreate() {
    SetTrayIcon(IDI_IDLE, NIM_ADD);
    m_bTrayClicks = TRUE;
    return 0;
}

BOOL CKeepAliveDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    SetIcon(m_hIcon, TRUE);
    SetIcon(m_hIcon, FALSE);
    LoadListFile();
    return TRUE;
}

void CKeepAliveDlg::OnOK() {
    // A field that failed validation keeps the dialog open for correction: nothing is saved
    // and the cycle keeps its state, so a bad value never reaches the file or the timer.
    if (!UpdateData(TRUE)) return;
    EndDialog(IDOK);
    // A failed save is said and OK goes on: a box that ended it here would leave the dialog
    // unreachable and the cycle stopped. The old file stays whole and the next OK tries again.
    try {
        SaveListFile();
    } catch (const CFileException& e) {
        e.ReportError(Platform(), this);
        // Closed while the box was open: the program is ending.
        if (!IsWindow()) return;
    }
    SetTrayIcon(IDI_MAIN);
    m_bTrayClicks = TRUE;
    StartCycle();
}

void CKeepAliveDlg::OnCancel() {
    StopCycle();
    DestroyWindow();
}

void CKeepAliveDlg::OnClose() { DestroyWindow(); }

void CKeepAliveDlg::OnDestroy() { NotifyTray(NIM_DELETE, TRAY_ICON_ID, nullptr, nullptr); }

void CKeepAliveDlg::OnSysCommand(UINT nID, LPARAM /*lParam*/) {
    if ((nID & 0xFFF0) == IDM_ABOUTBOX) OnAbout();
}

BOOL CKeepAliveDlg::OnCommand(WPARAM wParam, LPARAM /*lParam*/) {
    switch (static_cast<int>(wParam & 0xFFFF)) {
        case IDC_ADD:
            OnAdd();
            return TRUE;
        case IDC_REMOVE:
            OnRemove();
            return TRUE;
        case IDC_ABOUT:
            OnAbout();
            return TRUE;
        default:
            return FALSE;
    }
}

LRESULT CKeepAliveDlg::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_TRAYNOTIFY) return OnTrayNotify(wParam, lParam);
    if (message == WM_QUERYDRAGICON) return reinterpret_cast<LRESULT>(m_hIcon);
    return CDialog::WindowProc(message, wParam, lParam);
}

void CKeepAliveDlg::OnAbout() {
    CAboutDlg dlgAbout(Platform());
    SetForegroundWindow();
    dlgAbout.DoModal(this);
}

void CKeepAliveDlg::StartCycle() {
    m_nCurrent = m_lbServers.GetCount();
    m_bCycling = TRUE;
    // Unsigned arithmetic: the period is the delay in milliseconds as a 32-bit number.
    SetTimer(ID_PING_TIMER, static_cast<UINT>(m_nDelay) * 1000u);
}

void CKeepAliveDlg::StopCycle() {
    m_bCycling = FALSE;
    KillTimer(ID_PING_TIMER);
}
