// Adding and removing servers in the dialog, over the recording platform.

#include <doctest/doctest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "harness/fakeplatform.h"
#include "logic/keepalivedlg.h"
#include "harness/memorybackend.h"
#include "res/resource.h"

namespace {

// The dialog shown over the fake, with two servers listed and a valid delay typed; every ICMP
// handle is closed again when it goes.
class CServerListFixture {
public:
    CServerListFixture() {
        m_icmp = m_platform.BoundIcmp();
        for (const char* s : {"10.0.0.1", "10.0.0.5", "10.0.0.7", "10.0.0.12"})
            m_platform.m_echoAnswers[s] = {3};
        m_platform.m_hosts["server.example"] = 0x0700000A;  // 10.0.0.7
        m_platform.m_hosts["silent.example"] = 0x0900000A;  // 10.0.0.9
        m_dlg = std::make_unique<CKeepAliveDlg>(m_platform, m_icmp);
        REQUIRE(m_dlg->Create());
        m_dlg->ShowWindow(SW_SHOW);
        m_dlg->GetDlgItem(IDC_DELAY)->SetWindowText("10");
        m_dlg->m_lbServers.AddString("10.0.0.12");
        m_dlg->m_lbServers.AddString("10.0.0.5");
    }
    ~CServerListFixture() {
        m_dlg.reset();
        CHECK(m_platform.m_nIcmpHandlesOpen == 0);
    }
    CServerListFixture(const CServerListFixture&) = delete;
    CServerListFixture& operator=(const CServerListFixture&) = delete;

    // Types into the New Server edit and presses Add.
    void Add(const char* text) {
        m_dlg->GetDlgItem(IDC_NEW_SERVER)->SetWindowText(text);
        m_platform.m_echoRequests.clear();
        m_platform.m_boxes.clear();
        m_dlg->SendMessage(WM_COMMAND, IDC_ADD);
    }
    std::vector<CString> Entries() const {
        std::vector<CString> list;
        for (int i = 0; i < m_dlg->m_lbServers.GetCount(); ++i) {
            CString text;
            m_dlg->m_lbServers.GetText(i, text);
            list.push_back(text);
        }
        return list;
    }
    int Focus() const { return MemoryWndOf(*m_dlg)->GetFocusItem(); }

    CFakePlatform m_platform;
    CIcmpLibrary m_icmp;
    std::unique_ptr<CKeepAliveDlg> m_dlg;
};

}  // namespace

TEST_CASE_FIXTURE(CServerListFixture, "a valid entry is added in order") {
    struct CRow {
        const char* pszName;
        const char* pszTyped;
        const char* pszListed;
    };
    const CRow rows[] = {
        {"address between blanks", " \t10.0.0.7  ", "10.0.0.7"},
        {"host name, listed as its address", "server.example", "10.0.0.7"},
        // Only a whole entry counts as already listed.
        {"prefix of a listed entry", "10.0.0.1", "10.0.0.1"},
    };
    for (const CRow& row : rows) {
        SUBCASE(row.pszName) {
            Add(row.pszTyped);
            CHECK(m_platform.m_boxes.empty());
            CHECK(m_platform.m_echoRequests.size() == 1);
            const std::vector<CString> entries = Entries();
            CHECK(std::find(entries.begin(), entries.end(), row.pszListed) != entries.end());
            CHECK(std::is_sorted(entries.begin(), entries.end()));
            // The edit is emptied for the next one; the member keeps what was added.
            CHECK(m_dlg->GetDlgItem(IDC_NEW_SERVER)->GetWindowText() == CString());
            CHECK(m_dlg->m_strNewServer == row.pszListed);
            CHECK(Focus() == IDC_NEW_SERVER);
        }
    }
}

TEST_CASE_FIXTURE(CServerListFixture, "an invalid entry is refused with a message") {
    struct CRow {
        const char* pszName;
        const char* pszTyped;
        const char* pszMessage;
        std::size_t nRequests;
    };
    const char* const unreachable =
        "The IP dot address or name you entered is invalid or unreachable.";
    const CRow rows[] = {
        {"empty", "   ", "You must enter a valid IP dot address or name.", 0},
        {"already listed", "10.0.0.5", "That address is already in the list.", 1},
        {"broadcast", "255.255.255.255", unreachable, 0},
        {"no answer", " 10.0.0.99 ", unreachable, 1},
        {"name that does not resolve", "nowhere.example", unreachable, 0},
        {"name of a silent host", "silent.example", unreachable, 1},
    };
    for (const CRow& row : rows) {
        SUBCASE(row.pszName) {
            const std::vector<CString> before = Entries();
            Add(row.pszTyped);
            REQUIRE(m_platform.m_boxes.size() == 1);
            CHECK(m_platform.m_boxes[0].strText == row.pszMessage);
            CHECK(m_platform.m_boxes[0].strCaption == "Quorvane Entry Error");
            CHECK(m_platform.m_boxes[0].nType == UINT(MB_OK));
            CHECK(m_platform.m_boxes[0].pOwner == m_dlg.get());
            CHECK(m_platform.m_echoRequests.size() == row.nRequests);
            CHECK(Entries() == before);
            // The edit keeps exactly what was typed.
            CHECK(m_dlg->GetDlgItem(IDC_NEW_SERVER)->GetWindowText() == row.pszTyped);
            CHECK(Focus() == IDC_NEW_SERVER);
        }
    }
}

TEST_CASE_FIXTURE(CServerListFixture, "add stops at an invalid delay") {
    m_dlg->m_strNewServer = "10.0.0.1";  // what a previous Add left in the member
    m_dlg->GetDlgItem(IDC_DELAY)->SetWindowText("2");
    Add("10.0.0.7");
    // Only the Delay message: no second message, no echo to an old address.
    REQUIRE(m_platform.m_boxes.size() == 1);
    CHECK(m_platform.m_boxes[0].strText == "Please enter an integer between 3 and 3600.");
    CHECK(m_platform.m_echoRequests.empty());
    CHECK(Entries() == std::vector<CString>{"10.0.0.12", "10.0.0.5"});
    CHECK(Focus() == IDC_DELAY);
}

TEST_CASE_FIXTURE(CServerListFixture, "remove moves the selected entry back to the edit") {
    m_dlg->m_lbServers.AddString("10.0.0.7");
    m_dlg->m_strNewServer = "member";
    m_dlg->GetDlgItem(IDC_NEW_SERVER)->SetWindowText("typed");
    REQUIRE(m_dlg->m_lbServers.SetCurSel(2) == 2);
    m_dlg->SendMessage(WM_COMMAND, IDC_REMOVE);
    CHECK(m_platform.m_boxes.empty());
    CHECK(Entries() == std::vector<CString>{"10.0.0.12", "10.0.0.5"});
    CHECK(m_dlg->GetDlgItem(IDC_NEW_SERVER)->GetWindowText() == "10.0.0.7");
    CHECK(m_dlg->m_strNewServer == "member");
    // Nothing is selected afterwards, in the window either.
    CHECK(m_dlg->m_lbServers.GetCurSel() == LB_ERR);
    const CMemoryWnd* wnd = MemoryWndOf(*m_dlg);
    REQUIRE(wnd != nullptr);
    CHECK(wnd->ListEntries(IDC_SERVER_LIST) == std::vector<CString>{"10.0.0.12", "10.0.0.5"});
    CHECK(wnd->ListGetCurSel(IDC_SERVER_LIST) == -1);
    CHECK(Focus() == IDC_NEW_SERVER);
}

TEST_CASE_FIXTURE(CServerListFixture, "remove without a selection only explains") {
    m_dlg->GetDlgItem(IDC_DELAY)->SetFocus();
    m_dlg->SendMessage(WM_COMMAND, IDC_REMOVE);
    REQUIRE(m_platform.m_boxes.size() == 1);
    CHECK(m_platform.m_boxes[0].strText ==
          "Nothing is selected for removal. Select an item from the server list first.");
    CHECK(m_platform.m_boxes[0].strCaption == "Quorvane Removal");
    CHECK(Entries().size() == 2);
    CHECK(Focus() == IDC_DELAY);
}
