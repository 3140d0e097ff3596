// Start-up and shut-down of the application object against the recording platform.

#include <QtTest/QtTest>

#include "fakeplatform.h"
#include "keepaliveapp.h"
#include "keepalivedlg.h"
#include "resource.h"

class CTestStartup : public QObject {
    Q_OBJECT

private slots:
    void SocketsFailure();
    void MissingLibrary();
    void MissingEntryPoint_data();
    void MissingEntryPoint();
    void StartsHiddenWithEverythingBound();
};

void CTestStartup::SocketsFailure() {
    CFakePlatform platform;
    platform.m_bSocketsOk = false;
    CKeepAliveApp app(platform);
    QCOMPARE(AfxWinMain(app), 0);
    QCOMPARE(platform.m_boxes.size(), std::size_t(1));
    const auto& box = platform.m_boxes.front();
    QCOMPARE(box.strText, CString("Windows sockets initialization failed."));
    QCOMPARE(box.strCaption, CString("quorvane"));
    QCOMPARE(box.nType, UINT(MB_OK | MB_ICONEXCLAMATION));
    QVERIFY(box.pOwner == nullptr);
    // No window was made, no library was loaded.
    QVERIFY(platform.m_trayCalls.empty());
    QCOMPARE(platform.m_nLibrariesLoaded, 0);
    QVERIFY(g_pMainDlg == nullptr);
}

void CTestStartup::MissingLibrary() {
    CFakePlatform platform;
    platform.m_bHasIcmpLibrary = false;
    CKeepAliveApp app(platform);
    QCOMPARE(AfxWinMain(app), 0);
    QCOMPARE(platform.m_boxes.size(), std::size_t(1));
    QCOMPARE(platform.m_boxes[0].strText, CString("Could not load the <ICMP.DLL> library."));
    QCOMPARE(platform.m_boxes[0].strCaption, CString("Sonar Error"));
    QCOMPARE(platform.m_boxes[0].nType, UINT(MB_OK | MB_ICONHAND));
    QVERIFY(platform.m_boxes[0].pOwner == nullptr);
    // The icon added with the window went again with it; nothing is left behind.
    QCOMPARE(platform.m_trayCalls.front().dwMessage, NIM_ADD);
    QCOMPARE(platform.m_trayCalls.back().dwMessage, NIM_DELETE);
    QCOMPARE(platform.m_nLiveIcons, 0);
    QVERIFY(platform.m_timers.empty());
    QVERIFY(g_pMainDlg == nullptr);
}

void CTestStartup::MissingEntryPoint_data() {
    QTest::addColumn<QByteArray>("missing");
    QTest::addColumn<QByteArray>("message");
    QTest::newRow("create") << QByteArray("IcmpCreateFile")
                            << QByteArray(
                                   "Could not load the IcmpCreateFile() function from "
                                   "the <ICMP.DLL> library.");
    QTest::newRow("close") << QByteArray("IcmpCloseHandle")
                           << QByteArray(
                                  "Could not load the IcmpCloseHandle() function from "
                                  "the <ICMP.DLL> library.");
    QTest::newRow("send") << QByteArray("IcmpSendEcho")
                          << QByteArray(
                                 "Could not load the IcmpSendEcho() function from the "
                                 "<ICMP.DLL> library.");
}

void CTestStartup::MissingEntryPoint() {
    QFETCH(QByteArray, missing);
    QFETCH(QByteArray, message);
    CFakePlatform platform;
    platform.m_missingEntries.insert(missing.toStdString());
    CKeepAliveApp app(platform);
    QCOMPARE(AfxWinMain(app), 0);
    // Only the first missing entry is reported.
    QCOMPARE(platform.m_boxes.size(), std::size_t(1));
    QCOMPARE(platform.m_boxes[0].strText, message.toStdString());
    QCOMPARE(platform.m_boxes[0].strCaption, CString("Sonar Error"));
    QCOMPARE(platform.m_nLibrariesFreed, 1);
    QCOMPARE(platform.m_nLiveIcons, 0);
}

void CTestStartup::StartsHiddenWithEverythingBound() {
    CFakePlatform platform;
    CKeepAliveApp app(platform);
    QVERIFY(app.InitInstance());
    QVERIFY(platform.m_boxes.empty());
    QVERIFY(app.IsBound());
    QVERIFY(g_pMainDlg != nullptr);
    QVERIFY(app.m_pMainWnd == g_pMainDlg);
    QVERIFY(g_pMainDlg->IsWindow());
    QVERIFY(!g_pMainDlg->IsWindowVisible());
    QCOMPARE(platform.m_trayCalls.size(), std::size_t(1));
    QCOMPARE(platform.m_trayCalls[0].dwMessage, NIM_ADD);
    QCOMPARE(platform.m_trayCalls[0].nIconId, UINT(IDI_IDLE));
    QVERIFY(g_pMainDlg->m_bTrayClicks);
    g_pMainDlg->DestroyWindow();
    QCOMPARE(app.ExitInstance(), 0);
    QVERIFY(g_pMainDlg == nullptr);
    QCOMPARE(platform.m_nLiveIcons, 0);
}

QTEST_MAIN(CTestStartup)
#include "test_startup.moc"
