// The list file as the dialog loads and saves it, over the recording platform for every fault.
// What only a real file system shows (links, modes, owners) is in test_files.cpp.

#include <doctest/doctest.h>

#include <memory>
#include <string>

#include "harness/fakeplatform.h"
#include "logic/keepalivedlg.h"
#include "harness/memorybackend.h"
#include "res/resource.h"

namespace {

const CString kListPath = "/home/user/Quorvane.Lst";

// The recording platform, and the dialog over it once created; every file and icon is given
// back when it goes.
class CSettingsFixture {
public:
    CSettingsFixture() = default;
    ~CSettingsFixture() {
        m_dlg.reset();
        CHECK(m_platform.m_nFilesOpen == 0);
        CHECK(m_platform.m_nLiveIcons == 0);
    }
    CSettingsFixture(const CSettingsFixture&) = delete;
    CSettingsFixture& operator=(const CSettingsFixture&) = delete;

    // Creates the dialog, which loads the list file as it initialises.
    void Create() {
        m_dlg = std::make_unique<CKeepAliveDlg>(m_platform, m_icmp);
        REQUIRE(m_dlg->Create());
    }
    void PressOk(const char* delay) {
        m_dlg->ShowWindow(SW_SHOW);
        m_dlg->GetDlgItem(IDC_DELAY)->SetWindowText(delay);
        m_platform.m_trayCalls.clear();
        m_dlg->SendMessage(WM_COMMAND, IDOK);
    }

    CFakePlatform m_platform;
    CIcmpLibrary m_icmp;
    std::unique_ptr<CKeepAliveDlg> m_dlg;
};

}  // namespace

TEST_CASE_FIXTURE(CSettingsFixture, "nothing to load leaves the defaults and no cycle") {
    struct CRow {
        const char* pszName;
        bool bExists;
        const char* pszContent;
    };
    const CRow rows[] = {
        {"no file", false, ""},
        {"empty", true, ""},
        {"one byte", true, "7"},
    };
    for (const CRow& row : rows) {
        SUBCASE(row.pszName) {
            if (row.bExists) m_platform.m_files[kListPath] = row.pszContent;
            Create();
            CHECK(m_dlg->m_strListPath == kListPath);
            CHECK(m_dlg->m_nDelay == 0);
            CHECK(m_dlg->m_bSound == TRUE);
            CHECK(!m_dlg->m_bCycling);
            CHECK(m_platform.m_timers.empty());
            // Only the idle icon of creation.
            CHECK(m_platform.m_trayCalls.size() == 1);
            CHECK(m_platform.m_boxes.empty());
        }
    }
}

TEST_CASE_FIXTURE(CSettingsFixture, "a loaded list starts the cycle") {
    m_platform.m_files[kListPath] = "45\r\n1\r\n0\r\n10.0.0.2\r\n10.0.0.1\r\n";
    Create();
    CHECK(m_dlg->m_nDelay == 45);
    CHECK(m_dlg->m_bCycleOnNoContact == TRUE);
    CHECK(m_dlg->m_bSound == FALSE);
    REQUIRE(m_dlg->m_lbServers.GetCount() == 2);
    CString first;
    m_dlg->m_lbServers.GetText(0, first);
    CHECK(first == "10.0.0.1");
    // The controls show what was loaded.
    CHECK(m_dlg->GetDlgItem(IDC_DELAY)->GetWindowText() == "45");
    CHECK(m_dlg->GetItemCheck(IDC_CYCLE) == 1);
    CHECK(MemoryWndOf(*m_dlg)->ListEntries(IDC_SERVER_LIST) ==
          std::vector<CString>{"10.0.0.1", "10.0.0.2"});
    // The cycle waits for its first tick, which wraps to entry 0.
    CHECK(m_dlg->m_bCycling);
    CHECK(m_dlg->m_nCurrent == 2);
    CHECK(m_platform.TimerPeriod(*m_dlg, ID_PING_TIMER) == 45000u);
    REQUIRE(!m_platform.m_trayCalls.empty());
    CHECK(m_platform.m_trayCalls.back().nIconId == UINT(IDI_MAIN));
    CHECK(m_platform.m_trayCalls.back().dwMessage == DWORD(NIM_MODIFY));
}

TEST_CASE_FIXTURE(CSettingsFixture, "a loaded delay is clamped to its range") {
    struct CRow {
        const char* pszName;
        const char* pszContent;
        int nDelay;
    };
    const CRow rows[] = {
        {"zero", "0\r\n0\r\n0\r\n", 3}, {"negative", "-20\r\n", 3},
        {"huge", "4294968\r\n", 3600},  {"letters keep 0, clamped", "abc\r\n", 3},
        {"in range", "3600\r\n", 3600},
    };
    for (const CRow& row : rows) {
        SUBCASE(row.pszName) {
            m_platform.m_files[kListPath] = row.pszContent;
            Create();
            CHECK(m_dlg->m_nDelay == row.nDelay);
            CHECK(m_platform.TimerPeriod(*m_dlg, ID_PING_TIMER) == UINT(row.nDelay) * 1000u);
        }
    }
}

TEST_CASE_FIXTURE(CSettingsFixture, "a list that cannot be read loads nothing and says why once") {
    struct CRow {
        const char* pszName;
        int nOpenError;
        int nReadError;
        CString strMessage;
    };
    const CRow rows[] = {
        {"open denied", CFakeError::kAccessDenied, 0, "Access to " + kListPath + " was denied."},
        {"open fails", CFakeError::kIo, 0,
         "A hardware I/O error was reported while accessing " + kListPath + "."},
        {"read fails", 0, CFakeError::kIo,
         "A hardware I/O error was reported while accessing " + kListPath + "."},
    };
    for (const CRow& row : rows) {
        SUBCASE(row.pszName) {
            m_platform.m_files[kListPath] = "45\r\n1\r\n1\r\n10.0.0.1\r\n";
            m_platform.m_nOpenReadError = row.nOpenError;
            m_platform.m_nReadError = row.nReadError;
            Create();
            REQUIRE(m_platform.m_boxes.size() == 1);
            const auto& box = m_platform.m_boxes[0];
            CHECK(box.strText == row.strMessage);
            CHECK(box.strCaption == "quorvane");
            CHECK(box.nType == UINT(MB_OK | MB_ICONHAND));
            CHECK(m_dlg->m_nDelay == 0);
            CHECK(m_dlg->m_lbServers.GetCount() == 0);
            CHECK(!m_dlg->m_bCycling);
            CHECK(m_platform.m_timers.empty());
            // The icon still answers: a click opens the dialog to put the list right.
            CHECK(m_dlg->m_bTrayClicks);
        }
    }
}

TEST_CASE_FIXTURE(CSettingsFixture, "many servers load sorted") {
    CString content = "10\r\n0\r\n0\r\n";
    for (int i = 9999; i >= 0; --i)
        content += "10." + std::to_string(i / 256) + ".0." + std::to_string(i % 256) + "\r\n";
    m_platform.m_files[kListPath] = content;
    Create();
    REQUIRE(m_dlg->m_lbServers.GetCount() == 10000);
    CString previous, entry;
    int nOutOfOrder = 0;
    for (int i = 0; i < 10000; ++i) {
        m_dlg->m_lbServers.GetText(i, entry);
        if (i > 0 && CompareNoCase(previous, entry) > 0) ++nOutOfOrder;
        previous = entry;
    }
    CHECK(nOutOfOrder == 0);
}

TEST_CASE_FIXTURE(CSettingsFixture, "OK writes the list file") {
    Create();
    m_dlg->m_lbServers.AddString("10.0.0.2");
    m_dlg->m_lbServers.AddString("10.0.0.1");
    m_dlg->SetItemCheck(IDC_SOUND, 1);
    m_dlg->SetItemCheck(IDC_CYCLE, 0);
    PressOk("30");
    CHECK(m_platform.m_files[kListPath] == "30\r\n0\r\n1\r\n10.0.0.1\r\n10.0.0.2\r\n");
    // Only the list file is left: the temporary one took its place.
    CHECK(m_platform.m_files.size() == 1);

    m_dlg->m_lbServers.ResetContent();
    m_dlg->SetItemCheck(IDC_SOUND, 0);
    PressOk("3600");
    CHECK(m_platform.m_files[kListPath] == "3600\r\n0\r\n0\r\n");
}

TEST_CASE_FIXTURE(CSettingsFixture, "a failed save keeps the old file, says why, and OK goes on") {
    struct CRow {
        const char* pszName;
        long* pnFault;  // into m_platform
        long nValue;
        const char* pszMessage;
    };
    // The fake's fault settings are of two types; a small adapter keeps one table.
    long nCreateTempError = 0, nWriteFailAfter = -1, nFlushError = 0, nCloseError = 0,
         nReplaceError = 0;
    const CRow rows[] = {
        // No free inodes, a read-only mount: not even the temporary file can be made.
        {"no temporary file: no room", &nCreateTempError, CFakeError::kDiskFull,
         "Disk full while accessing "},
        {"no temporary file: denied", &nCreateTempError, CFakeError::kAccessDenied, "Access to "},
        {"disk full after 5 bytes", &nWriteFailAfter, 5, "Disk full while accessing "},
        {"flush", &nFlushError, CFakeError::kIo,
         "A hardware I/O error was reported while accessing "},
        {"close", &nCloseError, CFakeError::kDiskFull, "Disk full while accessing "},
        // Held open by another program, or a file that refuses to be replaced.
        {"rename", &nReplaceError, CFakeError::kAccessDenied, "Access to "},
    };
    for (const CRow& row : rows) {
        SUBCASE(row.pszName) {
            const std::string old = "45\r\n1\r\n1\r\n10.0.0.9\r\n";
            m_platform.m_files[kListPath] = old;
            m_icmp = m_platform.BoundIcmp();
            Create();
            *row.pnFault = row.nValue;
            m_platform.m_bFailCreateTemp = nCreateTempError != 0;
            if (nCreateTempError != 0) m_platform.m_nCreateTempError = int(nCreateTempError);
            m_platform.m_nWriteFailAfter = nWriteFailAfter;
            m_platform.m_nFlushError = static_cast<int>(nFlushError);
            m_platform.m_nCloseError = static_cast<int>(nCloseError);
            m_platform.m_nReplaceError = static_cast<int>(nReplaceError);
            // Opened by a click on the icon, as the user does.
            m_dlg->SendMessage(WM_TRAYNOTIFY, TRAY_ICON_ID, WM_LBUTTONDOWN);
            REQUIRE(!m_dlg->m_bTrayClicks);
            m_dlg->m_lbServers.AddString("10.0.0.1");
            PressOk("20");

            CHECK(m_platform.m_files[kListPath] == old);
            CHECK(m_platform.m_files.size() == 1);  // no temporary file left
            CHECK(m_platform.m_nFilesOpen == 0);
            REQUIRE(m_platform.m_boxes.size() == 1);
            const CString& text = m_platform.m_boxes[0].strText;
            CAPTURE(text);
            CHECK(text.rfind(row.pszMessage, 0) == 0);
            CHECK(text.find(kListPath) != CString::npos);
            CHECK(m_platform.m_boxes[0].nType == UINT(MB_OK | MB_ICONHAND));
            // The rest of OK: hidden, the waiting picture, clicks taken again, the cycle on
            // the values as shown.
            CHECK(!m_dlg->IsWindowVisible());
            REQUIRE(!m_platform.m_trayCalls.empty());
            CHECK(m_platform.m_trayCalls.back().dwMessage == NIM_MODIFY);
            CHECK(m_platform.m_trayCalls.back().nIconId == UINT(IDI_MAIN));
            CHECK(m_dlg->m_bTrayClicks);
            CHECK(m_dlg->m_bCycling);
            CHECK(m_platform.TimerPeriod(*m_dlg, ID_PING_TIMER) == 20000u);
            REQUIRE(m_platform.FireTimer(*m_dlg, ID_PING_TIMER));
            REQUIRE(!m_platform.m_echoRequests.empty());
            CHECK(m_platform.m_echoRequests[0].strDestination == "10.0.0.1");

            // The next OK, with the fault gone, saves what is shown.
            m_platform.m_bFailCreateTemp = false;
            m_platform.m_nWriteFailAfter = -1;
            m_platform.m_nFlushError = m_platform.m_nCloseError = m_platform.m_nReplaceError = 0;
            m_dlg->SendMessage(WM_TRAYNOTIFY, TRAY_ICON_ID, WM_LBUTTONDOWN);
            CHECK(m_dlg->IsWindowVisible());
            PressOk("25");
            CHECK(m_platform.m_boxes.size() == 1);
            CHECK(m_platform.m_files[kListPath] == "25\r\n1\r\n1\r\n10.0.0.1\r\n10.0.0.9\r\n");
            CHECK(m_platform.m_files.size() == 1);
        }
    }
}

TEST_CASE_FIXTURE(CSettingsFixture, "a close while a failed save's box is open ends OK there") {
    m_platform.m_files[kListPath] = "45\r\n1\r\n1\r\n10.0.0.9\r\n";
    Create();
    m_platform.m_nReplaceError = CFakeError::kAccessDenied;
    // The session ends, or the window manager closes the hidden dialog, meanwhile.
    m_platform.m_onBox = [this](const CFakePlatform::Box&) { m_dlg->SendMessage(WM_CLOSE); };
    PressOk("20");
    REQUIRE(m_platform.m_boxes.size() == 1);
    CHECK(!m_dlg->IsWindow());
    // The icon went with the window, and nothing brings it or a timer back.
    REQUIRE(!m_platform.m_trayCalls.empty());
    CHECK(m_platform.m_trayCalls.back().dwMessage == NIM_DELETE);
    CHECK(m_platform.m_timers.empty());
    CHECK(m_platform.m_files[kListPath] == "45\r\n1\r\n1\r\n10.0.0.9\r\n");
    CHECK(m_platform.m_files.size() == 1);
}

TEST_CASE_FIXTURE(CSettingsFixture, "a save through a link writes its target") {
    const CString target = "/srv/lists/main.lst";
    m_platform.m_links[kListPath] = target;
    m_platform.m_files[target] = "45\r\n1\r\n1\r\n";
    Create();
    PressOk("30");
    CHECK(m_platform.m_files[target] == "30\r\n1\r\n1\r\n");
    CHECK(m_platform.m_links[kListPath] == target);
    CHECK(m_platform.m_files.size() == 1);
    // Made beside the target and renamed onto it, so the rename stays on one file system.
    REQUIRE(m_platform.m_replaceCalls.size() == 1);
    CHECK(m_platform.m_replaceCalls[0].first.rfind(target + ".", 0) == 0);
    CHECK(m_platform.m_replaceCalls[0].second == target);

    // A fault names the file being written.
    m_platform.m_nWriteFailAfter = 5;
    PressOk("20");
    CHECK(m_platform.m_files[target] == "30\r\n1\r\n1\r\n");
    REQUIRE(m_platform.m_boxes.size() == 1);
    CHECK(m_platform.m_boxes[0].strText == "Disk full while accessing " + target + ".");
}

TEST_CASE_FIXTURE(CSettingsFixture, "a save through a link loop names the list file") {
    m_platform.m_links[kListPath] = "Other.Lst";
    m_platform.m_links["/home/user/Other.Lst"] = "Quorvane.Lst";
    const auto links = m_platform.m_links;
    Create();
    // The path the user knows, as the loop has no end to name: once as it cannot be
    // loaded, once as it cannot be saved.
    REQUIRE(m_platform.m_boxes.size() == 1);
    CHECK(m_platform.m_boxes[0].strText == kListPath + " contains an invalid path.");
    PressOk("20");
    REQUIRE(m_platform.m_boxes.size() == 2);
    CHECK(m_platform.m_boxes[1].strText == kListPath + " contains an invalid path.");
    CHECK(m_platform.m_links == links);
    CHECK(m_platform.m_files.empty());
    CHECK(m_platform.TimerPeriod(*m_dlg, ID_PING_TIMER) == 20000u);
}

TEST_CASE_FIXTURE(CSettingsFixture, "a long working directory holds the list file") {
    m_platform.m_strCwd = "/" + CString(300, 'd');
    m_platform.m_files[m_platform.m_strCwd + "/Quorvane.Lst"] = "12\r\n0\r\n1\r\n";
    Create();
    CHECK(m_dlg->m_strListPath == m_platform.m_strCwd + "/Quorvane.Lst");
    CHECK(m_dlg->m_nDelay == 12);
}
