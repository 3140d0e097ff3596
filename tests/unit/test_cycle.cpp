// The keep-alive cycle over the recording platform: which servers each tick probes, how
// often, where the next tick starts, and what the tray shows.

#include <doctest/doctest.h>

#include <memory>

#include "harness/fakeplatform.h"
#include "logic/keepalivedlg.h"
#include "harness/memorybackend.h"
#include "res/resource.h"

namespace {

const CString A = "10.0.0.1", B = "10.0.0.2", C = "10.0.0.3";

using Probes = std::vector<CString>;

// n requests to one server.
Probes Times(int n, const CString& server) { return Probes(static_cast<std::size_t>(n), server); }
Probes operator+(Probes a, const Probes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

}  // namespace

struct CTestCycle {
    CTestCycle();
    ~CTestCycle();

    // Starts the cycle with these servers, as OK would.
    void Start(std::vector<CString> servers, BOOL bCycleOnNoContact = FALSE, int nDelay = 10);
    // One tick; returns the destinations it probed, in order.
    Probes Tick();

    std::unique_ptr<CFakePlatform> m_platform;
    CIcmpLibrary m_icmp;
    std::unique_ptr<CKeepAliveDlg> m_dlg;
};

CTestCycle::CTestCycle() {
    m_platform = std::make_unique<CFakePlatform>();
    m_icmp = m_platform->BoundIcmp();
    m_dlg = std::make_unique<CKeepAliveDlg>(*m_platform, m_icmp);
    CHECK(m_dlg->Create());
    for (const CString& s : {A, B, C}) m_platform->m_echoAnswers[s] = {12};
}

CTestCycle::~CTestCycle() {
    m_dlg.reset();
    CHECK(m_platform->m_nLiveIcons == 0);
    CHECK(m_platform->m_nIcmpHandlesOpen == 0);
    m_platform.reset();
}

void CTestCycle::Start(std::vector<CString> servers, BOOL bCycleOnNoContact, int nDelay) {
    m_dlg->m_lbServers.AddStrings(std::move(servers));
    m_dlg->ShowWindow(SW_SHOW);
    m_dlg->GetDlgItem(IDC_DELAY)->SetWindowText(std::to_string(nDelay));
    m_dlg->SetItemCheck(IDC_CYCLE, bCycleOnNoContact);
    m_dlg->SendMessage(WM_COMMAND, IDOK);
    CHECK(m_dlg->m_bCycling);
}

Probes CTestCycle::Tick() {
    m_platform->m_echoRequests.clear();
    m_platform->m_trayCalls.clear();
    if (!m_platform->FireTimer(*m_dlg, ID_PING_TIMER)) return {"no timer"};
    Probes probed;
    for (const auto& request : m_platform->m_echoRequests) probed.push_back(request.strDestination);
    return probed;
}

TEST_CASE_FIXTURE(CTestCycle, "each tick probes the next server, round robin") {
    Start({C, A, B});
    for (const CString& expected : {A, B, C, A}) {
        CHECK(Tick() == Probes{expected});
        // Probing picture during the round, waiting picture after; the delay counts anew.
        CHECK(m_platform->m_trayCalls.size() == std::size_t(2));
        CHECK(m_platform->m_trayCalls[0].nIconId == UINT(IDI_PINGING));
        CHECK(m_platform->m_trayCalls[1].nIconId == UINT(IDI_MAIN));
        CHECK(m_platform->TimerPeriod(*m_dlg, ID_PING_TIMER) == 10000u);
    }
}

TEST_CASE("a silent server is tried three times, then the next ones if asked") {
    struct CRow {
        const char* pszName;
        bool bCycleOn;
        Probes silentTick;
        Probes nextTick;
    };
    const CRow rows[] = {
        {"option off", false, Times(3, B), {C}},
        {"option on", true, Times(3, B) + Probes{C}, {A}},
    };
    for (const CRow& row : rows) {
        CAPTURE(row.pszName);
        CTestCycle fixture;
        fixture.m_platform->m_echoAnswers.erase(B);
        fixture.Start({A, B, C}, row.bCycleOn ? TRUE : FALSE);
        CHECK(fixture.Tick() == Probes{A});
        CHECK(fixture.Tick() == row.silentTick);
        // A round without an answer ends like any other.
        CHECK(fixture.m_platform->m_trayCalls.back().nIconId == UINT(IDI_MAIN));
        CHECK(fixture.Tick() == row.nextTick);
    }
}

TEST_CASE_FIXTURE(CTestCycle,
                  "with nobody answering every server gets its three tries and the next tick "
                  "starts after the start entry") {
    m_platform->m_echoAnswers.clear();
    Start({A, B, C}, TRUE);
    const Probes a = Times(3, A), b = Times(3, B), c = Times(3, C);
    // Every server has its three requests; the next tick starts after the start entry.
    CHECK(Tick() == a + b + c);
    CHECK(Tick() == b + c + a);
    CHECK(Tick() == c + a + b);
    CHECK(m_platform->IsTimerRunning(*m_dlg, ID_PING_TIMER));
}

TEST_CASE_FIXTURE(CTestCycle, "a single silent server is tried three times each tick") {
    m_platform->m_echoAnswers.clear();
    Start({A}, TRUE);
    CHECK(Tick() == Times(3, A));
    CHECK(Tick() == Times(3, A));
}

TEST_CASE_FIXTURE(CTestCycle, "an empty list stops the cycle") {
    Start({A});
    m_dlg->m_lbServers.ResetContent();
    CHECK(Tick() == Probes{});
    CHECK(!m_dlg->m_bCycling);
    CHECK(!m_platform->IsTimerRunning(*m_dlg, ID_PING_TIMER));
    CHECK(m_platform->m_trayCalls.back().nIconId == UINT(IDI_IDLE));
}

TEST_CASE_FIXTURE(CTestCycle, "a tick that finds the cycle stopped probes nothing") {
    Start({A});
    // A tick already on its way when the cycle stopped.
    m_dlg->m_bCycling = FALSE;
    CHECK(Tick() == Probes{});
    CHECK(!m_platform->IsTimerRunning(*m_dlg, ID_PING_TIMER));
    CHECK(m_platform->m_trayCalls.back().nIconId == UINT(IDI_IDLE));
}

TEST_CASE_FIXTURE(CTestCycle, "a tick before the entry points are bound sends nothing") {
    // Start-up binds the entry points after the dialog exists; a tick before that sends
    // nothing and does not crash.
    CIcmpLibrary unbound;
    CKeepAliveDlg dlg(*m_platform, unbound);
    CHECK(dlg.Create());
    dlg.m_lbServers.AddString(A);
    dlg.m_bCycling = TRUE;
    dlg.SetTimer(ID_PING_TIMER, 3000);
    m_platform->FireTimer(dlg, ID_PING_TIMER);
    CHECK(m_platform->m_echoRequests.empty());
    dlg.DestroyWindow();
}

TEST_CASE_FIXTURE(CTestCycle,
                  "a tray click inside a probe box ends the round and keeps the cycle stopped") {
    m_platform->m_echoAnswers.clear();
    Start({A, B, C}, TRUE);
    // Closing the ICMP handle fails; while its box is open the user opens the dialog.
    m_platform->m_bIcmpCloseFails = true;
    m_platform->m_onBox = [this](const CFakePlatform::Box&) {
        m_platform->m_onBox = nullptr;
        m_dlg->SendMessage(WM_TRAYNOTIFY, TRAY_ICON_ID, WM_LBUTTONDOWN);
    };
    const Probes probed = Tick();
    CHECK(probed == Probes{A});
    // The round ends at once and the cycle stays stopped for editing.
    CHECK(!m_dlg->m_bCycling);
    CHECK(!m_platform->IsTimerRunning(*m_dlg, ID_PING_TIMER));
    CHECK(m_platform->m_trayCalls.back().nIconId == UINT(IDI_IDLE));
    CHECK(m_dlg->IsWindowVisible());
}

TEST_CASE_FIXTURE(CTestCycle, "Exit inside a probe box closes the window safely") {
    Start({A, B});
    m_platform->m_bIcmpCloseFails = true;
    m_platform->m_onBox = [this](const CFakePlatform::Box&) { m_dlg->SendMessage(WM_CLOSE); };
    Tick();
    CHECK(!m_dlg->IsWindow());
    CHECK(m_platform->m_timers.empty());
    CHECK(m_platform->m_trayCalls.back().dwMessage == NIM_DELETE);
}

TEST_CASE_FIXTURE(CTestCycle, "an end requested while a request waits leaves the round unsent") {
    m_platform->m_echoAnswers.clear();
    Start({A, B, C}, TRUE);
    // The main window is closed, or the session ends, during the first wait.
    MemorySetWaitHook([] { MemorySetEndRequested(true); });
    CHECK(Tick() == Probes{A});
    MemorySetWaitHook(nullptr);
    // The tries left fail unsent and the round ends; the request's handle is closed.
    CHECK(m_platform->m_nIcmpHandlesOpen == 0);
    CHECK(m_platform->m_trayCalls.back().nIconId == UINT(IDI_MAIN));
    // The request itself is delivered now: the window goes, and nothing more is sent.
    m_dlg->SendMessage(WM_CLOSE);
    CHECK(!m_dlg->IsWindow());
    CString strServer = A;
    CHECK(m_dlg->TryPing(strServer) == -1);
    CHECK(m_platform->m_echoRequests.size() == std::size_t(1));
    MemorySetEndRequested(false);
}
