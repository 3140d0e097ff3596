// The keep-alive cycle over the recording platform: which servers each tick probes, how
// often, where the next tick starts, and what the tray shows.

#include <QtTest/QtTest>
#include <memory>

#include "fakeplatform.h"
#include "keepalivedlg.h"
#include "resource.h"

namespace {

const CString A = "10.0.0.1", B = "10.0.0.2", C = "10.0.0.3";

}  // namespace

class CTestCycle : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void RoundRobin();
    void SilentServer_data();
    void SilentServer();
    void AllSilent();
    void OneSilentServer();
    void EmptyListStopsTheCycle();
    void StoppedCycleTick();
    void NothingBeforeBinding();
    void TrayClickInsideAProbeBox();
    void ExitInsideAProbeBox();

private:
    // Starts the cycle with these servers, as OK would.
    void Start(std::vector<CString> servers, BOOL bCycleOnNoContact = FALSE, int nDelay = 10);
    // One tick; returns the destinations it probed, in order.
    QStringList Tick();

    std::unique_ptr<CFakePlatform> m_platform;
    CIcmpLibrary m_icmp;
    std::unique_ptr<CKeepAliveDlg> m_dlg;
};

void CTestCycle::init() {
    m_platform = std::make_unique<CFakePlatform>();
    m_icmp = m_platform->BoundIcmp();
    m_dlg = std::make_unique<CKeepAliveDlg>(*m_platform, m_icmp);
    QVERIFY(m_dlg->Create());
    for (const CString& s : {A, B, C}) m_platform->m_echoAnswers[s] = {12};
}

void CTestCycle::cleanup() {
    m_dlg.reset();
    QCOMPARE(m_platform->m_nLiveIcons, 0);
    QCOMPARE(m_platform->m_nIcmpHandlesOpen, 0);
    m_platform.reset();
}

void CTestCycle::Start(std::vector<CString> servers, BOOL bCycleOnNoContact, int nDelay) {
    m_dlg->m_lbServers.AddStrings(std::move(servers));
    m_dlg->ShowWindow(SW_SHOW);
    m_dlg->GetDlgItem(IDC_DELAY)->SetWindowText(std::to_string(nDelay));
    m_dlg->SetItemCheck(IDC_CYCLE, bCycleOnNoContact);
    m_dlg->SendMessage(WM_COMMAND, IDOK);
    QVERIFY(m_dlg->m_bCycling);
}

QStringList CTestCycle::Tick() {
    m_platform->m_echoRequests.clear();
    m_platform->m_trayCalls.clear();
    if (!m_platform->FireTimer(*m_dlg, ID_PING_TIMER)) return {"no timer"};
    QStringList probed;
    for (const auto& request : m_platform->m_echoRequests)
        probed << QString::fromStdString(request.strDestination);
    return probed;
}

void CTestCycle::RoundRobin() {
    Start({C, A, B});
    for (const CString& expected : {A, B, C, A}) {
        QCOMPARE(Tick(), QStringList{QString::fromStdString(expected)});
        // Probing picture during the round, waiting picture after; the delay counts anew.
        QCOMPARE(m_platform->m_trayCalls.size(), std::size_t(2));
        QCOMPARE(m_platform->m_trayCalls[0].nIconId, UINT(IDI_PINGING));
        QCOMPARE(m_platform->m_trayCalls[1].nIconId, UINT(IDI_MAIN));
        QCOMPARE(m_platform->TimerPeriod(*m_dlg, ID_PING_TIMER), 10000u);
    }
}

void CTestCycle::SilentServer_data() {
    QTest::addColumn<bool>("cycleOn");
    QTest::addColumn<QStringList>("silentTick");
    QTest::addColumn<QStringList>("nextTick");
    QTest::newRow("option off") << false << QStringList{"10.0.0.2", "10.0.0.2", "10.0.0.2"}
                                << QStringList{"10.0.0.3"};
    QTest::newRow("option on") << true
                               << QStringList{"10.0.0.2", "10.0.0.2", "10.0.0.2", "10.0.0.3"}
                               << QStringList{"10.0.0.1"};
}

void CTestCycle::SilentServer() {
    QFETCH(bool, cycleOn);
    QFETCH(QStringList, silentTick);
    QFETCH(QStringList, nextTick);
    m_platform->m_echoAnswers.erase(B);
    Start({A, B, C}, cycleOn ? TRUE : FALSE);
    QCOMPARE(Tick(), QStringList{"10.0.0.1"});
    QCOMPARE(Tick(), silentTick);
    // A round without an answer ends like any other.
    QCOMPARE(m_platform->m_trayCalls.back().nIconId, UINT(IDI_MAIN));
    QCOMPARE(Tick(), nextTick);
}

void CTestCycle::AllSilent() {
    m_platform->m_echoAnswers.clear();
    Start({A, B, C}, TRUE);
    const QStringList a(3, "10.0.0.1"), b(3, "10.0.0.2"), c(3, "10.0.0.3");
    // Every server has its three requests; the next tick starts after the start entry.
    QCOMPARE(Tick(), a + b + c);
    QCOMPARE(Tick(), b + c + a);
    QCOMPARE(Tick(), c + a + b);
    QVERIFY(m_platform->IsTimerRunning(*m_dlg, ID_PING_TIMER));
}

void CTestCycle::OneSilentServer() {
    m_platform->m_echoAnswers.clear();
    Start({A}, TRUE);
    QCOMPARE(Tick(), QStringList(3, "10.0.0.1"));
    QCOMPARE(Tick(), QStringList(3, "10.0.0.1"));
}

void CTestCycle::EmptyListStopsTheCycle() {
    Start({A});
    m_dlg->m_lbServers.ResetContent();
    QCOMPARE(Tick(), QStringList{});
    QVERIFY(!m_dlg->m_bCycling);
    QVERIFY(!m_platform->IsTimerRunning(*m_dlg, ID_PING_TIMER));
    QCOMPARE(m_platform->m_trayCalls.back().nIconId, UINT(IDI_IDLE));
}

void CTestCycle::StoppedCycleTick() {
    Start({A});
    // A tick already on its way when the cycle stopped.
    m_dlg->m_bCycling = FALSE;
    QCOMPARE(Tick(), QStringList{});
    QVERIFY(!m_platform->IsTimerRunning(*m_dlg, ID_PING_TIMER));
    QCOMPARE(m_platform->m_trayCalls.back().nIconId, UINT(IDI_IDLE));
}

void CTestCycle::NothingBeforeBinding() {
    // Start-up binds the entry points after the dialog exists; a tick before that sends
    // nothing and does not crash.
    CIcmpLibrary unbound;
    CKeepAliveDlg dlg(*m_platform, unbound);
    QVERIFY(dlg.Create());
    dlg.m_lbServers.AddString(A);
    dlg.m_bCycling = TRUE;
    dlg.SetTimer(ID_PING_TIMER, 3000);
    m_platform->FireTimer(dlg, ID_PING_TIMER);
    QVERIFY(m_platform->m_echoRequests.empty());
    dlg.DestroyWindow();
}

void CTestCycle::TrayClickInsideAProbeBox() {
    m_platform->m_echoAnswers.clear();
    Start({A, B, C}, TRUE);
    // Closing the ICMP handle fails; while its box is open the user opens the dialog.
    m_platform->m_bIcmpCloseFails = true;
    m_platform->m_onBox = [this](const CFakePlatform::Box&) {
        m_platform->m_onBox = nullptr;
        m_dlg->SendMessage(WM_TRAYNOTIFY, TRAY_ICON_ID, WM_LBUTTONDOWN);
    };
    const QStringList probed = Tick();
    QCOMPARE(probed, QStringList{"10.0.0.1"});
    // The round ends at once and the cycle stays stopped for editing.
    QVERIFY(!m_dlg->m_bCycling);
    QVERIFY(!m_platform->IsTimerRunning(*m_dlg, ID_PING_TIMER));
    QCOMPARE(m_platform->m_trayCalls.back().nIconId, UINT(IDI_IDLE));
    QVERIFY(m_dlg->IsWindowVisible());
}

void CTestCycle::ExitInsideAProbeBox() {
    Start({A, B});
    m_platform->m_bIcmpCloseFails = true;
    m_platform->m_onBox = [this](const CFakePlatform::Box&) { m_dlg->SendMessage(WM_CLOSE); };
    Tick();
    QVERIFY(!m_dlg->IsWindow());
    QVERIFY(m_platform->m_timers.empty());
    QCOMPARE(m_platform->m_trayCalls.back().dwMessage, NIM_DELETE);
}

QTEST_MAIN(CTestCycle)
#include "test_cycle.moc"
