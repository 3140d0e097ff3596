// Start-up and shut-down of the application object against the recording platform.

#include <doctest/doctest.h>

#include "app/keepaliveapp.h"
#include "harness/fakeplatform.h"
#include "logic/keepalivedlg.h"
#include "res/resource.h"

TEST_CASE("sockets that cannot start: their box, and no window") {
    CFakePlatform platform;
    platform.m_bSocketsOk = false;
    CKeepAliveApp app(platform);
    CHECK(AfxWinMain(app) == 0);
    REQUIRE(platform.m_boxes.size() == std::size_t(1));
    const auto& box = platform.m_boxes.front();
    CHECK(box.strText == CString("Windows sockets initialization failed."));
    CHECK(box.strCaption == CString("quorvane"));
    CHECK(box.nType == UINT(MB_OK | MB_ICONEXCLAMATION));
    CHECK(box.pOwner == nullptr);
    // No window was made, no library was loaded.
    CHECK(platform.m_trayCalls.empty());
    CHECK(platform.m_nLibrariesLoaded == 0);
    CHECK(g_pMainDlg == nullptr);
}

TEST_CASE("no ICMP library: its box, and the window with its icon goes again") {
    CFakePlatform platform;
    platform.m_bHasIcmpLibrary = false;
    CKeepAliveApp app(platform);
    CHECK(AfxWinMain(app) == 0);
    REQUIRE(platform.m_boxes.size() == std::size_t(1));
    CHECK(platform.m_boxes[0].strText == CString("Could not load the <ICMP.DLL> library."));
    CHECK(platform.m_boxes[0].strCaption == CString("Sonar Error"));
    CHECK(platform.m_boxes[0].nType == UINT(MB_OK | MB_ICONHAND));
    CHECK(platform.m_boxes[0].pOwner == nullptr);
    // The icon added with the window went again with it; nothing is left behind.
    CHECK(platform.m_trayCalls.front().dwMessage == NIM_ADD);
    CHECK(platform.m_trayCalls.back().dwMessage == NIM_DELETE);
    CHECK(platform.m_nLiveIcons == 0);
    CHECK(platform.m_timers.empty());
    CHECK(g_pMainDlg == nullptr);
}

TEST_CASE("a missing entry point: its box only, then the end") {
    struct CRow {
        const char* pszMissing;
        const char* pszMessage;
    };
    const CRow rows[] = {
        {"IcmpCreateFile",
         "Could not load the IcmpCreateFile() function from the <ICMP.DLL> library."},
        {"IcmpCloseHandle",
         "Could not load the IcmpCloseHandle() function from the <ICMP.DLL> library."},
        {"IcmpSendEcho", "Could not load the IcmpSendEcho() function from the <ICMP.DLL> library."},
    };
    for (const CRow& row : rows) {
        CAPTURE(row.pszMissing);
        CFakePlatform platform;
        platform.m_missingEntries.insert(row.pszMissing);
        CKeepAliveApp app(platform);
        CHECK(AfxWinMain(app) == 0);
        // Only the first missing entry is reported.
        REQUIRE(platform.m_boxes.size() == std::size_t(1));
        CHECK(platform.m_boxes[0].strText == row.pszMessage);
        CHECK(platform.m_boxes[0].strCaption == CString("Sonar Error"));
        CHECK(platform.m_nLibrariesFreed == 1);
        CHECK(platform.m_nLiveIcons == 0);
    }
}

TEST_CASE("start-up makes the hidden main dialog and binds every entry point") {
    CFakePlatform platform;
    CKeepAliveApp app(platform);
    CHECK(app.InitInstance());
    CHECK(platform.m_boxes.empty());
    CHECK(app.IsBound());
    CHECK(g_pMainDlg != nullptr);
    CHECK(app.m_pMainWnd == g_pMainDlg);
    CHECK(g_pMainDlg->IsWindow());
    CHECK(!g_pMainDlg->IsWindowVisible());
    CHECK(platform.m_trayCalls.size() == std::size_t(1));
    CHECK(platform.m_trayCalls[0].dwMessage == NIM_ADD);
    CHECK(platform.m_trayCalls[0].nIconId == UINT(IDI_IDLE));
    CHECK(g_pMainDlg->m_bTrayClicks);
    g_pMainDlg->DestroyWindow();
    CHECK(app.ExitInstance() == 0);
    CHECK(g_pMainDlg == nullptr);
    CHECK(platform.m_nLiveIcons == 0);
}

TEST_CASE("one instance per list: the first holds it, a second start only asks it to show") {
    SUBCASE("the first start claims its list and answers a later start as a click") {
        CFakePlatform platform;
        platform.m_files["/home/user/Quorvane.Lst"] = "30\r\n0\r\n1\r\n10.0.0.1\r\n";
        CKeepAliveApp app(platform);
        REQUIRE(app.InitInstance());
        REQUIRE(platform.m_instanceClaims.size() == std::size_t(1));
        CHECK(platform.m_instanceClaims[0] == CString("/home/user/Quorvane.Lst"));
        REQUIRE(platform.m_onShowRequest);
        REQUIRE(g_pMainDlg->m_bCycling);

        platform.m_onShowRequest();
        // As a left click: open for editing, the cycle stopped until OK.
        CHECK(g_pMainDlg->IsWindowVisible());
        CHECK(!g_pMainDlg->m_bCycling);
        CHECK(!g_pMainDlg->m_bTrayClicks);
        CHECK(platform.m_trayCalls.back().nIconId == UINT(IDI_IDLE));
        // Asked again while open: it stays open, in front.
        platform.m_onShowRequest();
        CHECK(g_pMainDlg->IsWindowVisible());

        g_pMainDlg->DestroyWindow();
        app.ExitInstance();
        // After the end a late request finds no window and does nothing.
        platform.m_onShowRequest();
        CHECK(platform.m_nLiveIcons == 0);
    }
    SUBCASE("a second start on a held list makes nothing: 0 when handed over, 1 unanswered") {
        // A service manager or a script sees a holder that does not answer as a failure.
        for (const bool bAnswers : {true, false}) {
            CAPTURE(bAnswers);
            CFakePlatform platform;
            platform.m_files["/home/user/Quorvane.Lst"] = "30\r\n0\r\n1\r\n10.0.0.1\r\n";
            platform.m_bInstanceHeldElsewhere = true;
            platform.m_bHolderAnswers = bAnswers;
            CKeepAliveApp app(platform);
            CHECK(app.Run() == (bAnswers ? 0 : CKeepAliveApp::kExitClaimFailed));
            CHECK(platform.m_nShowRequestsSent == 1);
            CHECK(platform.m_boxes.empty());
            CHECK(platform.m_trayCalls.empty());
            CHECK(platform.m_timers.empty());
            CHECK(platform.m_echoRequests.empty());
            CHECK(platform.m_nLibrariesLoaded == 0);
            CHECK(g_pMainDlg == nullptr);
        }
    }
    SUBCASE("another working directory is another list") {
        CFakePlatform platform;
        platform.m_strCwd = "/home/user/other";
        CKeepAliveApp app(platform);
        REQUIRE(app.InitInstance());
        REQUIRE(platform.m_instanceClaims.size() == std::size_t(1));
        CHECK(platform.m_instanceClaims[0] == CString("/home/user/other/Quorvane.Lst"));
        g_pMainDlg->DestroyWindow();
        app.ExitInstance();
    }
}

TEST_CASE("a working directory that is gone: said once, and the program runs without a list") {
    CFakePlatform platform;
    platform.m_strCwd = "/home/user/gone";
    platform.m_nCwdError = 2;
    CKeepAliveApp app(platform);
    REQUIRE(app.InitInstance());
    REQUIRE(platform.m_boxes.size() == std::size_t(1));
    CHECK(platform.m_boxes[0].strText ==
          CString("The folder /home/user/gone no longer exists. Quorvane runs without a server "
                  "list, and OK cannot save one to /home/user/gone/Quorvane.Lst."));
    CHECK(platform.m_boxes[0].strCaption == CString("quorvane"));
    CHECK(platform.m_boxes[0].pOwner == nullptr);
    // The rest of the start as with no list: the window and its icon, no cycle.
    CHECK(g_pMainDlg != nullptr);
    CHECK(!g_pMainDlg->m_bCycling);
    CHECK(platform.m_trayCalls.size() == std::size_t(1));
    CHECK(app.IsBound());
    g_pMainDlg->DestroyWindow();
    app.ExitInstance();
}
