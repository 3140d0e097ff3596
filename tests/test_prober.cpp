// The probe operations against the recording platform: what is sent, when the sound starts,
// and which answers count.

#include <netinet/in.h>

#include <QtTest/QtTest>
#include <memory>

#include "fakeplatform.h"
#include "keepalivedlg.h"

namespace {

const CString kPayload("Harrowbecks Software, Incorporated", 35);  // terminator included

// The fake's event log, printable when a comparison fails.
QStringList Log(const std::vector<CString>& events) {
    QStringList list;
    for (const auto& event : events) list << QString::fromStdString(event);
    return list;
}

}  // namespace

class CTestProber : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void AnswerGivesRoundTrip_data();
    void AnswerGivesRoundTrip();
    void NoAnswerIsFailure_data();
    void NoAnswerIsFailure();
    void HandleThatFailedToOpen();
    void CloseFailureIsReported();
    void NotAnAddressSendsNothing_data();
    void NotAnAddressSendsNothing();
    void NothingBeforeBinding();
    void ResolveAndPing_data();
    void ResolveAndPing();

private:
    std::unique_ptr<CFakePlatform> m_platform;
    CIcmpLibrary m_icmp;
    std::unique_ptr<CKeepAliveDlg> m_dlg;
};

void CTestProber::init() {
    m_platform = std::make_unique<CFakePlatform>();
    m_icmp = m_platform->BoundIcmp();
    m_dlg = std::make_unique<CKeepAliveDlg>(*m_platform, m_icmp);
    m_dlg->m_bSound = TRUE;
}

void CTestProber::cleanup() {
    // Every probe closes what it opened, whatever became of the request.
    QCOMPARE(m_platform->m_nIcmpHandlesOpen, 0);
    m_dlg.reset();
    m_platform.reset();
}

void CTestProber::AnswerGivesRoundTrip_data() {
    QTest::addColumn<QByteArray>("address");
    QTest::addColumn<bool>("sound");
    QTest::addColumn<QStringList>("events");

    const QStringList withSound{"IcmpCreateFile", "PlaySound SonarSound", "IcmpSendEcho 10.1.2.3",
                                "IcmpCloseHandle"};
    const QStringList silent{"IcmpCreateFile", "IcmpSendEcho 10.1.2.3", "IcmpCloseHandle"};
    // The sound starts before the request, so it plays while the probe blocks.
    QTest::newRow("sound on") << QByteArray("10.1.2.3") << true << withSound;
    QTest::newRow("sound off") << QByteArray("10.1.2.3") << false << silent;
    // Any text the socket layer reads as this address goes to it.
    QTest::newRow("one number") << QByteArray("167838211") << false << silent;
}

void CTestProber::AnswerGivesRoundTrip() {
    QFETCH(QByteArray, address);
    QFETCH(bool, sound);
    QFETCH(QStringList, events);
    m_dlg->m_bSound = sound ? TRUE : FALSE;
    m_platform->m_echoAnswers["10.1.2.3"] = {12};

    QCOMPARE(m_dlg->TryPing(address.toStdString()), 12);

    QCOMPARE(Log(m_platform->m_events), events);
    if (sound) QCOMPARE(m_platform->m_soundFlags, std::vector<DWORD>{SND_ASYNC | SND_RESOURCE});
    QCOMPARE(m_platform->m_echoRequests.size(), std::size_t(1));
    const auto& request = m_platform->m_echoRequests[0];
    QCOMPARE(request.nTtl, BYTE(254));
    QCOMPARE(request.strPayload, kPayload);
    QCOMPARE(request.nReplySize, DWORD(280));
    QCOMPARE(request.nTimeoutMs, DWORD(5000));
    QVERIFY(m_platform->m_boxes.empty());
}

void CTestProber::NoAnswerIsFailure_data() {
    QTest::addColumn<bool>("answers");
    QTest::addColumn<DWORD>("status");
    QTest::addColumn<bool>("untouched");

    QTest::newRow("silent") << false << DWORD(0) << false;
    QTest::newRow("host unreachable") << true << DWORD(11003) << false;
    // The send reports nothing and leaves the zero-filled buffer as it was: Status reads 0,
    // yet there was no answer.
    QTest::newRow("buffer untouched") << true << DWORD(0) << true;
}

void CTestProber::NoAnswerIsFailure() {
    QFETCH(bool, answers);
    QFETCH(DWORD, status);
    QFETCH(bool, untouched);
    if (answers) m_platform->m_echoAnswers["10.1.2.3"] = {7, status};
    m_platform->m_bEchoLeavesBufferUntouched = untouched;

    QCOMPARE(m_dlg->TryPing("10.1.2.3"), -1);

    QCOMPARE(m_platform->EchoCount("10.1.2.3"), 1);
    QCOMPARE(m_platform->m_events.back(), CString("IcmpCloseHandle"));
    QVERIFY(m_platform->m_boxes.empty());
}

void CTestProber::HandleThatFailedToOpen() {
    m_platform->m_bIcmpCreateFails = true;
    m_platform->m_echoAnswers["10.1.2.3"] = {12};

    QCOMPARE(m_dlg->TryPing("10.1.2.3"), -1);

    // No request, so no sound either, and nothing to close.
    QCOMPARE(Log(m_platform->m_events), QStringList{"IcmpCreateFile"});
    QVERIFY(m_platform->m_boxes.empty());
}

void CTestProber::CloseFailureIsReported() {
    m_platform->m_bIcmpCloseFails = true;
    m_platform->m_echoAnswers["10.1.2.3"] = {12};

    QCOMPARE(m_dlg->TryPing("10.1.2.3"), 12);
    QCOMPARE(m_dlg->TryPing("10.1.2.4"), -1);

    QCOMPARE(m_platform->m_boxes.size(), std::size_t(2));
    for (const auto& box : m_platform->m_boxes) {
        QCOMPARE(box.pOwner, static_cast<CWnd*>(m_dlg.get()));
        QCOMPARE(box.strText, CString("Error closing ICMP socket."));
        QCOMPARE(box.strCaption, CString("Sonar Error"));
        QCOMPARE(box.nType, UINT(MB_OK));
    }
}

void CTestProber::NotAnAddressSendsNothing_data() {
    QTest::addColumn<QByteArray>("address");
    QTest::newRow("host name") << QByteArray("server.example");
    // Reads as INADDR_NONE, so it can never be told from an error, and is never sent to.
    QTest::newRow("broadcast") << QByteArray("255.255.255.255");
}

void CTestProber::NotAnAddressSendsNothing() {
    QFETCH(QByteArray, address);
    m_platform->m_echoAnswers["10.1.2.3"] = {12};
    m_platform->m_echoAnswers["255.255.255.255"] = {12};

    QCOMPARE(m_dlg->TryPing(address.toStdString()), -1);

    QCOMPARE(Log(m_platform->m_events), QStringList());
}

void CTestProber::NothingBeforeBinding() {
    m_platform->m_echoAnswers["10.1.2.3"] = {12};
    const CIcmpLibrary bound = m_icmp;
    // Start-up binds the entries one at a time; a tick may come between them.
    m_icmp = CIcmpLibrary{};
    m_icmp.m_pfnIcmpCreateFile = bound.m_pfnIcmpCreateFile;
    QCOMPARE(m_dlg->TryPing("10.1.2.3"), -1);
    m_icmp.m_pfnIcmpCloseHandle = bound.m_pfnIcmpCloseHandle;
    CString strAddress = "10.1.2.3";
    QCOMPARE(m_dlg->ResolveAndPing(strAddress), FALSE);

    QCOMPARE(Log(m_platform->m_events), QStringList());
}

void CTestProber::ResolveAndPing_data() {
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<int>("result");
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<QByteArray>("sentTo");  // empty: nothing sent

    QTest::newRow("address answers")
        << QByteArray("10.1.2.3") << TRUE << QByteArray("10.1.2.3") << QByteArray("10.1.2.3");
    QTest::newRow("address silent")
        << QByteArray("10.1.2.9") << FALSE << QByteArray("10.1.2.9") << QByteArray("10.1.2.9");
    // Accepted as it is: never looked up, never rewritten.
    QTest::newRow("address in hex")
        << QByteArray("0xa.1.2.3") << TRUE << QByteArray("0xa.1.2.3") << QByteArray("10.1.2.3");
    QTest::newRow("name answers") << QByteArray("server.example") << TRUE << QByteArray("10.1.2.3")
                                  << QByteArray("10.1.2.3");
    // Rewritten even though the echo then fails.
    QTest::newRow("name silent") << QByteArray("quiet.example") << FALSE << QByteArray("10.1.2.1")
                                 << QByteArray("10.1.2.1");
    QTest::newRow("name unknown") << QByteArray("nowhere.example") << FALSE
                                  << QByteArray("nowhere.example") << QByteArray();
    // 255.255.255.255 is no address to inet_addr, so it goes to name resolution: whatever
    // that says, nothing is ever sent to it.
    QTest::newRow("broadcast text")
        << QByteArray("255.255.255.255") << FALSE << QByteArray("255.255.255.255") << QByteArray();
    QTest::newRow("name of broadcast")
        << QByteArray("all.example") << FALSE << QByteArray("255.255.255.255") << QByteArray();
}

void CTestProber::ResolveAndPing() {
    QFETCH(QByteArray, input);
    QFETCH(int, result);
    QFETCH(QByteArray, output);
    QFETCH(QByteArray, sentTo);
    m_platform->m_hosts["server.example"] = htonl(0x0A010203);  // 10.1.2.3
    m_platform->m_hosts["quiet.example"] = htonl(0x0A010201);   // 10.1.2.1
    m_platform->m_hosts["all.example"] = INADDR_NONE;
    // An address that were looked up anyway would go elsewhere.
    m_platform->m_hosts["10.1.2.3"] = htonl(0x0A636363);
    m_platform->m_hosts["0xa.1.2.3"] = htonl(0x0A636363);
    m_platform->m_echoAnswers["10.1.2.3"] = {12};
    m_platform->m_echoAnswers["255.255.255.255"] = {12};

    CString strAddress = input.toStdString();
    QCOMPARE(m_dlg->ResolveAndPing(strAddress), result);

    QCOMPARE(strAddress, output.toStdString());
    if (sentTo.isEmpty()) {
        QCOMPARE(Log(m_platform->m_events), QStringList());
    } else {
        QCOMPARE(m_platform->m_echoRequests.size(), std::size_t(1));
        QCOMPARE(m_platform->m_echoRequests[0].strDestination, sentTo.toStdString());
        QCOMPARE(m_platform->m_sounds.size(), std::size_t(1));
    }
}

QTEST_MAIN(CTestProber)
#include "test_prober.moc"
