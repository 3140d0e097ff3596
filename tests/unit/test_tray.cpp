// The tray icon: the records handed to the shell and what clicks on the icon do.

#include <doctest/doctest.h>

#include <memory>
#include <vector>

#include "harness/fakeplatform.h"
#include "logic/keepalivedlg.h"
#include "harness/memorybackend.h"
#include "res/resource.h"

struct CTestTray {
    CTestTray();
    ~CTestTray();

    void Click(UINT mouse) { m_dlg->SendMessage(WM_TRAYNOTIFY, TRAY_ICON_ID, mouse); }

    std::unique_ptr<CFakePlatform> m_platform;
    CIcmpLibrary m_icmp;
    std::unique_ptr<CKeepAliveDlg> m_dlg;
};

CTestTray::CTestTray() {
    m_platform = std::make_unique<CFakePlatform>();
    m_platform->m_files["/home/user/Quorvane.Lst"] = "10\r\n0\r\n0\r\n10.0.0.1\r\n";
    m_dlg = std::make_unique<CKeepAliveDlg>(*m_platform, m_icmp);
    REQUIRE(m_dlg->Create());
    CHECK(m_dlg->m_bCycling);
}

CTestTray::~CTestTray() {
    MemorySetModalHook(nullptr);
    m_dlg->DestroyWindow();
    CHECK(m_platform->m_trayCalls.back().dwMessage == NIM_DELETE);
    CHECK(m_platform->m_trayCalls.back().nIconId == 0u);
    m_dlg.reset();
    CHECK(m_platform->m_nLiveIcons == 0);
    m_platform.reset();
}

TEST_CASE_FIXTURE(CTestTray, "the records handed to the shell, and the tip cut to 63 characters") {
    const auto& add = m_platform->m_trayCalls.front();
    CHECK(add.dwMessage == NIM_ADD);
    CHECK(add.uID == 128u);
    CHECK(add.uFlags == UINT(NIF_MESSAGE | NIF_ICON | NIF_TIP));
    CHECK(add.uCallbackMessage == 0x8064u);
    CHECK(add.nIconId == UINT(IDI_IDLE));
    CHECK(add.strTip == CString("Quorvane"));
    // A tip longer than the record holds is cut to 63 characters.
    m_dlg->NotifyTray(NIM_MODIFY, TRAY_ICON_ID, nullptr, CString(100, 't').c_str());
    CHECK(m_platform->m_trayCalls.back().strTip == CString(63, 't'));
}

TEST_CASE_FIXTURE(CTestTray, "a left click stops the cycle and opens the dialog for editing") {
    m_dlg->m_strNewServer = "typed before";
    Click(WM_LBUTTONDOWN);
    CHECK(!m_dlg->m_bCycling);
    CHECK(!m_platform->IsTimerRunning(*m_dlg, ID_PING_TIMER));
    CHECK(m_platform->m_trayCalls.back().nIconId == UINT(IDI_IDLE));
    CHECK(!m_dlg->m_bTrayClicks);
    CHECK(m_dlg->IsWindowVisible());
    CHECK(m_dlg->GetDlgItem(IDC_NEW_SERVER)->GetWindowText() == CString());
    CHECK(m_dlg->GetDlgItem(IDC_DELAY)->GetWindowText() == CString("10"));
    CMemoryWnd* impl = MemoryWndOf(*m_dlg);
    CHECK(impl->GetFocusItem() == IDC_DELAY);
    CHECK(impl->IsItemTextSelectedWhole(IDC_DELAY));
    CHECK(impl->ForegroundCount() > 0);
    // What was loaded while the window was hidden is in the list now.
    CHECK(impl->ListEntries(IDC_SERVER_LIST) == std::vector<CString>{"10.0.0.1"});
}

TEST_CASE_FIXTURE(CTestTray,
                  "clicks change nothing while the dialog is open, but bring it back in front") {
    Click(WM_LBUTTONDOWN);
    const std::size_t calls = m_platform->m_trayCalls.size();
    m_dlg->GetDlgItem(IDC_DELAY)->SetWindowText("25");
    Click(WM_LBUTTONDOWN);
    Click(WM_RBUTTONDOWN);
    CHECK(m_platform->m_trayCalls.size() == calls);
    // The edit was not reloaded from the members.
    CHECK(m_dlg->GetDlgItem(IDC_DELAY)->GetWindowText() == CString("25"));
    // Minimised meanwhile, it comes back with a left click, still as the user left it; the
    // cycle stays stopped.
    MemoryWndOf(*m_dlg)->Minimize();
    CHECK(m_dlg->IsIconic());
    Click(WM_RBUTTONDOWN);
    CHECK(m_dlg->IsIconic());
    Click(WM_LBUTTONDOWN);
    CHECK(!m_dlg->IsIconic());
    CHECK(m_dlg->IsWindowVisible());
    CHECK(m_dlg->GetDlgItem(IDC_DELAY)->GetWindowText() == CString("25"));
    CHECK(m_platform->m_trayCalls.size() == calls);
    CHECK(!m_dlg->m_bCycling);
    CHECK(!m_dlg->m_bTrayClicks);
    // Other mouse messages never do anything.
    m_dlg->m_bTrayClicks = TRUE;
    Click(WM_LBUTTONDBLCLK);
    Click(WM_MBUTTONDOWN);
    CHECK(m_platform->m_trayCalls.size() == calls);
}

TEST_CASE_FIXTURE(CTestTray, "OK arms the clicks again, a failed OK does not") {
    Click(WM_LBUTTONDOWN);
    // A failed OK leaves the dialog open for correction, clicks still ignored.
    m_dlg->GetDlgItem(IDC_DELAY)->SetWindowText("1");
    m_dlg->SendMessage(WM_COMMAND, IDOK);
    CHECK(!m_dlg->m_bTrayClicks);
    m_dlg->GetDlgItem(IDC_DELAY)->SetWindowText("5");
    m_dlg->SendMessage(WM_COMMAND, IDOK);
    CHECK(m_dlg->m_bTrayClicks);
    CHECK(!m_dlg->IsWindowVisible());
    CHECK(m_platform->m_trayCalls.back().nIconId == UINT(IDI_MAIN));
    Click(WM_LBUTTONDOWN);
    CHECK(m_dlg->IsWindowVisible());
}

TEST_CASE_FIXTURE(CTestTray, "a right click shows the About box and leaves the cycle going") {
    bool shown = false;
    // While the box is open, clicks are ignored.
    bool armedInside = true;
    MemorySetModalHook([this, &shown, &armedInside](CWnd& dialog) {
        armedInside = m_dlg->m_bTrayClicks;
        shown = dialog.GetWindowText() == "About Quorvane";
        dialog.SendMessage(WM_COMMAND, IDCANCEL);
    });
    Click(WM_RBUTTONDOWN);
    CHECK(shown);
    CHECK(!armedInside);
    CHECK(m_dlg->m_bTrayClicks);
    // The cycle goes on; the main dialog stays hidden.
    CHECK(m_dlg->m_bCycling);
    CHECK(m_platform->IsTimerRunning(*m_dlg, ID_PING_TIMER));
    CHECK(!m_dlg->IsWindowVisible());
}

TEST_CASE_FIXTURE(CTestTray, "every icon handed to the shell is released") {
    // Every change loads a fresh icon and hands it back: nothing piles up.
    for (int i = 0; i < 10000; ++i) {
        Click(WM_LBUTTONDOWN);
        m_dlg->SendMessage(WM_COMMAND, IDOK);
    }
    CHECK(m_platform->m_nLiveIcons == 1);  // the dialog's own big icon
}
