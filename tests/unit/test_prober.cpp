// The probe operations against the recording platform: what is sent, when the sound starts,
// and which answers count.

#include <doctest/doctest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "base/inet.h"
#include "harness/fakeplatform.h"
#include "harness/memorybackend.h"
#include "logic/keepalivedlg.h"

namespace {

const CString kPayload("Harrowbecks Software, Incorporated", 35);  // terminator included
using Events = std::vector<CString>;

// a.b.c.d in network byte order.
std::uint32_t Address(BYTE a, BYTE b, BYTE c, BYTE d) {
    const BYTE bytes[4] = {a, b, c, d};
    std::uint32_t address;
    std::memcpy(&address, bytes, sizeof address);
    return address;
}

}  // namespace

struct CTestProber {
    CTestProber() {
        m_platform = std::make_unique<CFakePlatform>();
        m_icmp = m_platform->BoundIcmp();
        m_dlg = std::make_unique<CKeepAliveDlg>(*m_platform, m_icmp);
        m_dlg->m_bSound = TRUE;
    }
    ~CTestProber() {
        // Every probe closes what it opened, whatever became of the request.
        CHECK(m_platform->m_nIcmpHandlesOpen == 0);
        m_dlg.reset();
        m_platform.reset();
    }

    std::unique_ptr<CFakePlatform> m_platform;
    CIcmpLibrary m_icmp;
    std::unique_ptr<CKeepAliveDlg> m_dlg;
};

TEST_CASE("an answer gives the round trip, with the program's request and sound") {
    const Events withSound{"IcmpCreateFile", "PlaySound SonarSound", "IcmpSendEcho2 10.1.2.3",
                           "IcmpCloseHandle"};
    const Events silent{"IcmpCreateFile", "IcmpSendEcho2 10.1.2.3", "IcmpCloseHandle"};
    struct CRow {
        const char* pszName;
        const char* pszAddress;
        bool bSound;
        Events events;
    };
    const CRow rows[] = {
        // The sound starts before the request, so it plays while the probe blocks.
        {"sound on", "10.1.2.3", true, withSound},
        {"sound off", "10.1.2.3", false, silent},
        // Any text the socket layer reads as this address goes to it.
        {"one number", "167838211", false, silent},
    };
    for (const CRow& row : rows) {
        CAPTURE(row.pszName);
        CTestProber t;
        t.m_dlg->m_bSound = row.bSound ? TRUE : FALSE;
        t.m_platform->m_echoAnswers["10.1.2.3"] = {12};

        CHECK(t.m_dlg->TryPing(row.pszAddress) == 12);

        CHECK(t.m_platform->m_events == row.events);
        if (row.bSound)
            CHECK(t.m_platform->m_soundFlags == std::vector<DWORD>{SND_ASYNC | SND_RESOURCE});
        REQUIRE(t.m_platform->m_echoRequests.size() == std::size_t(1));
        const auto& request = t.m_platform->m_echoRequests[0];
        CHECK(request.nTtl == BYTE(254));
        CHECK(request.strPayload == kPayload);
        CHECK(request.nReplySize == DWORD(280));
        CHECK(request.nTimeoutMs == DWORD(5000));
        CHECK(t.m_platform->m_boxes.empty());
    }
}

TEST_CASE("no answer is a failure") {
    struct CRow {
        const char* pszName;
        bool bAnswers;
        DWORD dwStatus;
        bool bUntouched;
    };
    const CRow rows[] = {
        {"silent", false, 0, false},
        {"host unreachable", true, 11003, false},
        // The send reports nothing and leaves the zero-filled buffer as it was: Status reads
        // 0, yet there was no answer.
        {"buffer untouched", true, 0, true},
    };
    for (const CRow& row : rows) {
        CAPTURE(row.pszName);
        CTestProber t;
        if (row.bAnswers) t.m_platform->m_echoAnswers["10.1.2.3"] = {7, row.dwStatus};
        t.m_platform->m_bEchoLeavesBufferUntouched = row.bUntouched;

        CHECK(t.m_dlg->TryPing("10.1.2.3") == -1);

        CHECK(t.m_platform->EchoCount("10.1.2.3") == 1);
        CHECK(t.m_platform->m_events.back() == CString("IcmpCloseHandle"));
        CHECK(t.m_platform->m_boxes.empty());
    }
}

TEST_CASE("a library without the request that does not wait still probes, waiting in the call") {
    // Bound in pairs: one without the other is of no use.
    for (const char* pszMissing : {kIcmpSendEcho2Name, kIcmpParseRepliesName}) {
        CAPTURE(pszMissing);
        CTestProber t;
        t.m_platform->m_missingEntries = {pszMissing};
        t.m_icmp = t.m_platform->BoundIcmp();
        CHECK(t.m_icmp.IsBound());
        CHECK(!t.m_icmp.m_pfnIcmpSendEcho2);
        CHECK(!t.m_icmp.m_pfnIcmpParseReplies);
        t.m_dlg->m_bSound = FALSE;
        t.m_platform->m_echoAnswers["10.1.2.3"] = {12};
        // Nothing is served while it waits.
        bool bWaitServed = false;
        MemorySetWaitHook([&] { bWaitServed = true; });

        CHECK(t.m_dlg->TryPing("10.1.2.3") == 12);
        CHECK(t.m_dlg->TryPing("10.1.2.4") == -1);

        MemorySetWaitHook(nullptr);
        CHECK(!bWaitServed);
        CHECK(t.m_platform->m_events == Events{"IcmpCreateFile", "IcmpSendEcho 10.1.2.3",
                                               "IcmpCloseHandle", "IcmpCreateFile",
                                               "IcmpSendEcho 10.1.2.4", "IcmpCloseHandle"});
    }
}

TEST_CASE_FIXTURE(CTestProber, "the answer is counted once the wait is over, and only then") {
    m_platform->m_echoAnswers["10.1.2.3"] = {12};
    int nParsedDuringWait = -1;
    MemorySetWaitHook([&] { nParsedDuringWait = m_platform->m_nRepliesParsed; });

    CHECK(m_dlg->TryPing("10.1.2.3") == 12);

    MemorySetWaitHook(nullptr);
    CHECK(nParsedDuringWait == 0);
    CHECK(m_platform->m_nRepliesParsed == 1);
}

TEST_CASE_FIXTURE(CTestProber, "an end during the wait gives the request up, closed, unreported") {
    m_platform->m_echoAnswers["10.1.2.3"] = {12};
    m_platform->m_bIcmpCloseFails = true;
    MemorySetWaitHook([] { MemorySetEndRequested(true); });

    CHECK(m_dlg->TryPing("10.1.2.3") == -1);
    // Nothing more is sent once the program is to end.
    CHECK(m_dlg->TryPing("10.1.2.3") == -1);

    MemorySetWaitHook(nullptr);
    MemorySetEndRequested(false);
    CHECK(m_platform->EchoCount("10.1.2.3") == 1);
    CHECK(m_platform->m_events.back() == CString("IcmpCloseHandle"));
    CHECK(m_platform->m_nRepliesParsed == 0);
    CHECK(m_platform->m_boxes.empty());
}

TEST_CASE_FIXTURE(CTestProber, "a handle that failed to open: nothing sent, nothing closed") {
    m_platform->m_bIcmpCreateFails = true;
    m_platform->m_echoAnswers["10.1.2.3"] = {12};

    CHECK(m_dlg->TryPing("10.1.2.3") == -1);

    // No request, so no sound either, and nothing to close.
    CHECK(m_platform->m_events == Events{"IcmpCreateFile"});
    CHECK(m_platform->m_boxes.empty());
}

TEST_CASE_FIXTURE(CTestProber, "a handle that fails to close is reported, answer or not") {
    m_platform->m_bIcmpCloseFails = true;
    m_platform->m_echoAnswers["10.1.2.3"] = {12};

    CHECK(m_dlg->TryPing("10.1.2.3") == 12);
    CHECK(m_dlg->TryPing("10.1.2.4") == -1);

    REQUIRE(m_platform->m_boxes.size() == std::size_t(2));
    for (const auto& box : m_platform->m_boxes) {
        CHECK(box.pOwner == static_cast<CWnd*>(m_dlg.get()));
        CHECK(box.strText == CString("Error closing ICMP socket."));
        CHECK(box.strCaption == CString("Sonar Error"));
        CHECK(box.nType == UINT(MB_OK));
    }
}

TEST_CASE("text that is no address sends nothing") {
    // The broadcast text reads as INADDR_NONE, so it can never be told from an error, and is
    // never sent to.
    for (const char* pszAddress : {"server.example", "255.255.255.255"}) {
        CAPTURE(pszAddress);
        CTestProber t;
        t.m_platform->m_echoAnswers["10.1.2.3"] = {12};
        t.m_platform->m_echoAnswers["255.255.255.255"] = {12};

        CHECK(t.m_dlg->TryPing(pszAddress) == -1);

        CHECK(t.m_platform->m_events.empty());
    }
}

TEST_CASE_FIXTURE(CTestProber, "nothing is sent before every entry point is bound") {
    m_platform->m_echoAnswers["10.1.2.3"] = {12};
    const CIcmpLibrary bound = m_icmp;
    // Start-up binds the entries one at a time; a tick may come between them.
    m_icmp = CIcmpLibrary{};
    m_icmp.m_pfnIcmpCreateFile = bound.m_pfnIcmpCreateFile;
    CHECK(m_dlg->TryPing("10.1.2.3") == -1);
    m_icmp.m_pfnIcmpCloseHandle = bound.m_pfnIcmpCloseHandle;
    CString strAddress = "10.1.2.3";
    CHECK(m_dlg->ResolveAndPing(strAddress) == FALSE);

    CHECK(m_platform->m_events.empty());
}

TEST_CASE("a name is resolved and rewritten, an address probed as it is") {
    struct CRow {
        const char* pszName;
        const char* pszInput;
        BOOL bResult;
        const char* pszOutput;
        const char* pszSentTo;  // empty: nothing sent
    };
    const CRow rows[] = {
        {"address answers", "10.1.2.3", TRUE, "10.1.2.3", "10.1.2.3"},
        {"address silent", "10.1.2.9", FALSE, "10.1.2.9", "10.1.2.9"},
        // Accepted as it is: never looked up, never rewritten.
        {"address in hex", "0xa.1.2.3", TRUE, "0xa.1.2.3", "10.1.2.3"},
        {"name answers", "server.example", TRUE, "10.1.2.3", "10.1.2.3"},
        // Rewritten even though the echo then fails.
        {"name silent", "quiet.example", FALSE, "10.1.2.1", "10.1.2.1"},
        {"name unknown", "nowhere.example", FALSE, "nowhere.example", ""},
        // 255.255.255.255 is no address to inet_addr, so it goes to name resolution:
        // whatever that says, nothing is ever sent to it.
        {"broadcast text", "255.255.255.255", FALSE, "255.255.255.255", ""},
        {"name of broadcast", "all.example", FALSE, "255.255.255.255", ""},
    };
    for (const CRow& row : rows) {
        CAPTURE(row.pszName);
        CTestProber t;
        t.m_platform->m_hosts["server.example"] = Address(10, 1, 2, 3);
        t.m_platform->m_hosts["quiet.example"] = Address(10, 1, 2, 1);
        t.m_platform->m_hosts["all.example"] = INADDR_NONE;
        // An address that were looked up anyway would go elsewhere.
        t.m_platform->m_hosts["10.1.2.3"] = Address(10, 99, 99, 99);
        t.m_platform->m_hosts["0xa.1.2.3"] = Address(10, 99, 99, 99);
        t.m_platform->m_echoAnswers["10.1.2.3"] = {12};
        t.m_platform->m_echoAnswers["255.255.255.255"] = {12};

        CString strAddress = row.pszInput;
        CHECK(t.m_dlg->ResolveAndPing(strAddress) == row.bResult);

        CHECK(strAddress == row.pszOutput);
        if (*row.pszSentTo == '\0') {
            CHECK(t.m_platform->m_events.empty());
        } else {
            REQUIRE(t.m_platform->m_echoRequests.size() == std::size_t(1));
            CHECK(t.m_platform->m_echoRequests[0].strDestination == row.pszSentTo);
            CHECK(t.m_platform->m_sounds.size() == std::size_t(1));
        }
    }
}
