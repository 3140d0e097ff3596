// The main dialog's rules over the recording platform and the memory backend: data exchange
// and validation with the framework's messages, what OK does, the About box and a close
// request while a handler's box is open.

#include <doctest/doctest.h>

#include <climits>
#include <memory>
#include <vector>

#include "harness/fakeplatform.h"
#include "framework/winapp.h"
#include "logic/keepalivedlg.h"
#include "harness/memorybackend.h"
#include "res/resource.h"
#include "res/resources.h"

namespace {

struct CTestDialog {
    CTestDialog() {
        m_platform = std::make_unique<CFakePlatform>();
        m_dlg = std::make_unique<CKeepAliveDlg>(*m_platform, m_icmp);
        REQUIRE(m_dlg->Create());
    }
    ~CTestDialog() {
        MemorySetModalHook(nullptr);
        m_dlg.reset();
        CHECK(m_platform->m_nLiveIcons == 0);
        CHECK(m_platform->m_timers.empty());
        m_platform.reset();
    }

    // Opens the dialog as a tray click would, with the given texts in the Delay and New
    // Server edits.
    void Open(const char* delay, const char* server = "") {
        m_dlg->ShowWindow(SW_SHOW);
        m_dlg->GetDlgItem(IDC_DELAY)->SetWindowText(delay);
        m_dlg->GetDlgItem(IDC_NEW_SERVER)->SetWindowText(server);
        m_platform->m_trayCalls.clear();
    }

    std::unique_ptr<CFakePlatform> m_platform;
    CIcmpLibrary m_icmp;
    std::unique_ptr<CKeepAliveDlg> m_dlg;
};

}  // namespace

TEST_CASE_FIXTURE(CTestDialog, "the template's controls with the construction values") {
    CHECK(!m_dlg->IsWindowVisible());
    CHECK(m_dlg->GetWindowText() == "Quorvane by Harrowbecks Software, Inc.");
    CHECK(m_dlg->GetDlgItem(IDC_ADD)->GetWindowText() == "&Add ->");
    CHECK(m_dlg->GetDlgItem(IDCANCEL)->GetWindowText() == "E&xit");
    CHECK(m_dlg->GetDlgItem(IDC_DELAY)->GetWindowText() == "0");
    CHECK(MemoryWndOf(*m_dlg)->IconId() == UINT(IDI_MAIN));
}

TEST_CASE_FIXTURE(CTestDialog, "valid data is taken over and OK starts the cycle") {
    Open(" 30 ", "10.0.0.1");
    m_dlg->SetItemCheck(IDC_CYCLE, 1);
    m_dlg->SetItemCheck(IDC_SOUND, 1);
    m_dlg->SendMessage(WM_COMMAND, IDOK);
    CHECK(m_platform->m_boxes.empty());
    CHECK(m_dlg->m_nDelay == 30);
    CHECK(m_dlg->m_strNewServer == "10.0.0.1");
    CHECK(m_dlg->m_bCycleOnNoContact == TRUE);
    CHECK(m_dlg->m_bSound == TRUE);
    // OK hides the dialog and starts the cycle: waiting picture, timer at the delay.
    CHECK(!m_dlg->IsWindowVisible());
    CHECK(m_dlg->m_bCycling);
    CHECK(m_dlg->m_bTrayClicks);
    CHECK(m_platform->TimerPeriod(*m_dlg, ID_PING_TIMER) == 30000u);
    REQUIRE(m_platform->m_trayCalls.size() == std::size_t(1));
    CHECK(m_platform->m_trayCalls[0].nIconId == UINT(IDI_MAIN));
}

TEST_CASE("a refused delay: the framework's message, and nothing else changes") {
    const CString range("Please enter an integer between 3 and 3600.");
    const CString notInt("Please enter an integer.");
    struct CRow {
        const char* pszName;
        CString delay;
        CString message;
        int nMember;  // m_nDelay afterwards (it was 45)
    };
    const CRow rows[] = {
        {"two", "2", range, 2},
        {"3601", "3601", range, 3601},
        {"negative", "-5", range, -5},
        {"letters", "abc", notInt, 45},
        {"empty", "", notInt, 45},
        // Only the first 31 characters are read: the number past them is not seen.
        {"31 blanks then 5", CString(31, ' ') + "5", notInt, 45},
        // 32 digits: the first 31 saturate.
        {"huge", CString(32, '9'), range, INT_MAX},
    };
    for (const CRow& row : rows) {
        CAPTURE(row.pszName);
        CTestDialog t;
        t.m_dlg->m_nDelay = 45;
        t.m_dlg->m_strNewServer = "old";
        t.m_dlg->m_bSound = FALSE;
        t.Open(row.delay.c_str(), "10.0.0.7");
        t.m_dlg->SetItemCheck(IDC_SOUND, 1);

        t.m_dlg->SendMessage(WM_COMMAND, IDOK);

        REQUIRE(t.m_platform->m_boxes.size() == std::size_t(1));
        const auto& box = t.m_platform->m_boxes[0];
        CHECK(box.strText == row.message);
        CHECK(box.strCaption == "quorvane");
        CHECK(box.nType == UINT(MB_ICONEXCLAMATION));
        CHECK(box.pOwner == t.m_dlg.get());
        CHECK(t.m_dlg->m_nDelay == row.nMember);
        // The first failure stops the transfer: later members keep their values.
        CHECK(t.m_dlg->m_strNewServer == "old");
        CHECK(t.m_dlg->m_bSound == FALSE);
        // The dialog stays open for correction, focus on the Delay edit with its text
        // selected.
        CMemoryWnd* impl = MemoryWndOf(*t.m_dlg);
        CHECK(impl->GetFocusItem() == IDC_DELAY);
        CHECK(impl->IsItemTextSelectedWhole(IDC_DELAY));
        CHECK(t.m_dlg->IsWindowVisible());
        // Nothing of the bad value reaches the cycle or the tray.
        CHECK(!t.m_platform->IsTimerRunning(*t.m_dlg, ID_PING_TIMER));
        CHECK(!t.m_dlg->m_bCycling);
        CHECK(t.m_platform->m_trayCalls.empty());
    }
}

TEST_CASE_FIXTURE(CTestDialog, "a new server longer than 50 characters is refused") {
    Open("10", "");
    CMemoryWnd* impl = MemoryWndOf(*m_dlg);
    // Exchanged to the controls, the edit takes no more than 50 characters.
    m_dlg->GetDlgItem(IDC_NEW_SERVER)->SetWindowText(CString(60, 'y'));
    CHECK(m_dlg->GetDlgItem(IDC_NEW_SERVER)->GetWindowText() == CString(50, 'y'));
    // Pasted or set text can still be longer.
    impl->LimitItemText(IDC_NEW_SERVER, 100);
    m_dlg->GetDlgItem(IDC_NEW_SERVER)->SetWindowText(CString(51, 'x'));
    m_dlg->SetItemCheck(IDC_CYCLE, 1);
    m_dlg->SendMessage(WM_COMMAND, IDOK);
    REQUIRE(m_platform->m_boxes.size() == std::size_t(1));
    CHECK(m_platform->m_boxes[0].strText == "Please enter no more than 50 characters.");
    CHECK(m_dlg->m_nDelay == 10);
    CHECK(m_dlg->m_bCycleOnNoContact == FALSE);
    CHECK(impl->GetFocusItem() == IDC_NEW_SERVER);
    CHECK(impl->IsItemTextSelectedWhole(IDC_NEW_SERVER));

    // Exactly 50 is fine.
    m_platform->m_boxes.clear();
    m_dlg->GetDlgItem(IDC_NEW_SERVER)->SetWindowText(CString(50, 'x'));
    m_dlg->SendMessage(WM_COMMAND, IDOK);
    CHECK(m_platform->m_boxes.empty());
    CHECK(!m_dlg->IsWindowVisible());
}

TEST_CASE_FIXTURE(CTestDialog, "the About box from the system command, modal and closed") {
    bool shown = false;
    MemorySetModalHook([&shown](CWnd& dialog) {
        shown = dialog.GetWindowText() == "About Quorvane";
        CHECK(MemoryWndOf(dialog)->IsModal());
        dialog.SendMessage(WM_COMMAND, IDOK);
    });
    m_dlg->SendMessage(WM_SYSCOMMAND, 0x10);
    CHECK(shown);
    CHECK(!m_dlg->IsWindowVisible());
    CHECK(m_dlg->IsWindow());
}

TEST_CASE("the About box's texts, the version among them") {
    std::vector<CString> texts;
    for (const CDialogItem& item : AboutBoxTemplate().items) texts.push_back(item.pszText);
    CHECK(texts == std::vector<CString>{"", "Quorvane Version 1.0.1",
                                        "Keeps network connections up by pinging a known server "
                                        "list.\nCopyright (C) 2026 Harrowbecks Software, Inc.",
                                        "OK"});
}

TEST_CASE("the program ends on each close command, even from inside a handler's box") {
    // An application whose only job is to own the dialog, as the real one does; what ends it
    // comes as soon as the dialog exists.
    class CDialogApp : public CWinApp {
    public:
        CDialogApp(CPlatform& platform, CFakePlatform& fake, int nHow)
            : CWinApp(platform), m_fake(fake), m_nHow(nHow) {}
        BOOL InitInstance() override {
            m_dlg = std::make_unique<CKeepAliveDlg>(m_platform, m_icmp);
            m_dlg->Create();
            m_pMainWnd = m_dlg.get();
            m_dlg->ShowWindow(SW_SHOW);
            m_dlg->SetTimer(ID_PING_TIMER, 3000);
            CKeepAliveDlg& dlg = *m_dlg;
            switch (m_nHow) {
                case 0:  // Escape and the Exit button
                    dlg.SendMessage(WM_COMMAND, IDCANCEL);
                    break;
                case 1:  // the window manager's close
                    dlg.SendMessage(WM_CLOSE);
                    break;
                default:
                    // A close request handled while a handler's box is open: the handler
                    // goes on with its window gone and must not crash.
                    m_fake.m_onBox = [&dlg](const CFakePlatform::Box&) {
                        dlg.SendMessage(WM_CLOSE);
                    };
                    dlg.GetDlgItem(IDC_DELAY)->SetWindowText("1");
                    dlg.SendMessage(WM_COMMAND, IDOK);
            }
            return TRUE;
        }
        std::unique_ptr<CKeepAliveDlg> m_dlg;

    private:
        CFakePlatform& m_fake;
        CIcmpLibrary m_icmp;
        int m_nHow;
    };
    for (int nHow = 0; nHow < 3; ++nHow) {
        CAPTURE(nHow);
        CFakePlatform platform;
        CDialogApp app(platform, platform, nHow);
        CHECK(AfxWinMain(app) == 0);
        CHECK(!app.m_dlg->IsWindow());
        CHECK(platform.m_trayCalls.back().dwMessage == NIM_DELETE);
        CHECK(platform.m_timers.empty());
        app.m_dlg.reset();
        CHECK(platform.m_nLiveIcons == 0);
        MemoryResetQuit();
    }
}
