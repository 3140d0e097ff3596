// Adding and removing servers in the dialog, over the recording platform.

#include <QListWidget>
#include <QtTest/QtTest>
#include <memory>

#include "fakeplatform.h"
#include "framework/qt/qtbackend.h"
#include "keepalivedlg.h"
#include "resource.h"

class CTestServerList : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void Added_data();
    void Added();
    void Refused_data();
    void Refused();
    void AddStopsAtInvalidDelay();
    void RemoveMovesEntryBack();
    void RemoveWithoutSelection();

private:
    // Types into the New Server edit and presses Add.
    void Add(const char* text);
    QStringList Entries() const;
    int Focus() const { return static_cast<const CWndImpl*>(m_dlg->GetSafeHwnd())->GetFocusItem(); }

    std::unique_ptr<CFakePlatform> m_platform;
    CIcmpLibrary m_icmp;
    std::unique_ptr<CKeepAliveDlg> m_dlg;
};

void CTestServerList::init() {
    m_platform = std::make_unique<CFakePlatform>();
    m_icmp = m_platform->BoundIcmp();
    for (const char* s : {"10.0.0.1", "10.0.0.5", "10.0.0.7", "10.0.0.12"})
        m_platform->m_echoAnswers[s] = {3};
    m_platform->m_hosts["server.example"] = 0x0700000A;  // 10.0.0.7
    m_platform->m_hosts["silent.example"] = 0x0900000A;  // 10.0.0.9
    m_dlg = std::make_unique<CKeepAliveDlg>(*m_platform, m_icmp);
    QVERIFY(m_dlg->Create());
    m_dlg->ShowWindow(SW_SHOW);
    m_dlg->GetDlgItem(IDC_DELAY)->SetWindowText("10");
    m_dlg->m_lbServers.AddString("10.0.0.12");
    m_dlg->m_lbServers.AddString("10.0.0.5");
}

void CTestServerList::cleanup() {
    m_dlg.reset();
    QCOMPARE(m_platform->m_nIcmpHandlesOpen, 0);
    m_platform.reset();
}

void CTestServerList::Add(const char* text) {
    m_dlg->GetDlgItem(IDC_NEW_SERVER)->SetWindowText(text);
    m_platform->m_echoRequests.clear();
    m_platform->m_boxes.clear();
    m_dlg->SendMessage(WM_COMMAND, IDC_ADD);
}

QStringList CTestServerList::Entries() const {
    QStringList list;
    for (int i = 0; i < m_dlg->m_lbServers.GetCount(); ++i) {
        CString text;
        m_dlg->m_lbServers.GetText(i, text);
        list << QString::fromStdString(text);
    }
    return list;
}

void CTestServerList::Added_data() {
    QTest::addColumn<QByteArray>("typed");
    QTest::addColumn<QString>("listed");
    QTest::newRow("address between blanks") << QByteArray(" \t10.0.0.7  ") << "10.0.0.7";
    QTest::newRow("host name, listed as its address") << QByteArray("server.example") << "10.0.0.7";
    // Only a whole entry counts as already listed.
    QTest::newRow("prefix of a listed entry") << QByteArray("10.0.0.1") << "10.0.0.1";
}

void CTestServerList::Added() {
    QFETCH(QByteArray, typed);
    QFETCH(QString, listed);
    Add(typed.constData());
    QVERIFY(m_platform->m_boxes.empty());
    QCOMPARE(m_platform->m_echoRequests.size(), std::size_t(1));
    QVERIFY(Entries().contains(listed));
    QStringList sorted = Entries();
    std::sort(sorted.begin(), sorted.end());
    QCOMPARE(Entries(), sorted);
    // The edit is emptied for the next one; the member keeps what was added.
    QCOMPARE(m_dlg->GetDlgItem(IDC_NEW_SERVER)->GetWindowText(), CString());
    QCOMPARE(QString::fromStdString(m_dlg->m_strNewServer), listed);
    QCOMPARE(Focus(), IDC_NEW_SERVER);
}

void CTestServerList::Refused_data() {
    QTest::addColumn<QByteArray>("typed");
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<int>("requests");
    const QByteArray unreachable(
        "The IP dot address or name you entered is invalid or unreachable.");
    QTest::newRow("empty") << QByteArray("   ")
                           << QByteArray("You must enter a valid IP dot address or name.") << 0;
    QTest::newRow("already listed")
        << QByteArray("10.0.0.5") << QByteArray("That address is already in the list.") << 1;
    QTest::newRow("broadcast") << QByteArray("255.255.255.255") << unreachable << 0;
    QTest::newRow("no answer") << QByteArray(" 10.0.0.99 ") << unreachable << 1;
    QTest::newRow("name that does not resolve")
        << QByteArray("nowhere.example") << unreachable << 0;
    QTest::newRow("name of a silent host") << QByteArray("silent.example") << unreachable << 1;
}

void CTestServerList::Refused() {
    QFETCH(QByteArray, typed);
    QFETCH(QByteArray, message);
    QFETCH(int, requests);
    const QStringList before = Entries();
    Add(typed.constData());
    QCOMPARE(m_platform->m_boxes.size(), std::size_t(1));
    QCOMPARE(m_platform->m_boxes[0].strText, message.toStdString());
    QCOMPARE(m_platform->m_boxes[0].strCaption, CString("Quorvane Entry Error"));
    QCOMPARE(m_platform->m_boxes[0].nType, UINT(MB_OK));
    QVERIFY(m_platform->m_boxes[0].pOwner == m_dlg.get());
    QCOMPARE(int(m_platform->m_echoRequests.size()), requests);
    QCOMPARE(Entries(), before);
    // The edit keeps exactly what was typed.
    QCOMPARE(m_dlg->GetDlgItem(IDC_NEW_SERVER)->GetWindowText(), typed.toStdString());
    QCOMPARE(Focus(), IDC_NEW_SERVER);
}

void CTestServerList::AddStopsAtInvalidDelay() {
    m_dlg->m_strNewServer = "10.0.0.1";  // what a previous Add left in the member
    m_dlg->GetDlgItem(IDC_DELAY)->SetWindowText("2");
    Add("10.0.0.7");
    // Only the Delay message: no second message, no echo to an old address.
    QCOMPARE(m_platform->m_boxes.size(), std::size_t(1));
    QCOMPARE(m_platform->m_boxes[0].strText,
             CString("Please enter an integer between 3 and 3600."));
    QVERIFY(m_platform->m_echoRequests.empty());
    QCOMPARE(Entries(), QStringList({"10.0.0.12", "10.0.0.5"}));
    QCOMPARE(Focus(), IDC_DELAY);
}

void CTestServerList::RemoveMovesEntryBack() {
    m_dlg->m_lbServers.AddString("10.0.0.7");
    m_dlg->m_strNewServer = "member";
    m_dlg->GetDlgItem(IDC_NEW_SERVER)->SetWindowText("typed");
    QCOMPARE(m_dlg->m_lbServers.SetCurSel(2), 2);
    m_dlg->SendMessage(WM_COMMAND, IDC_REMOVE);
    QVERIFY(m_platform->m_boxes.empty());
    QCOMPARE(Entries(), QStringList({"10.0.0.12", "10.0.0.5"}));
    QCOMPARE(m_dlg->GetDlgItem(IDC_NEW_SERVER)->GetWindowText(), CString("10.0.0.7"));
    QCOMPARE(m_dlg->m_strNewServer, CString("member"));
    // Nothing is selected afterwards, on screen either.
    QCOMPARE(m_dlg->m_lbServers.GetCurSel(), LB_ERR);
    auto* list = qobject_cast<QListWidget*>(QtWidgetOf(m_dlg->GetDlgItem(IDC_SERVER_LIST)));
    QCOMPARE(list->count(), 2);
    QVERIFY(list->selectedItems().isEmpty());
    QCOMPARE(Focus(), IDC_NEW_SERVER);
}

void CTestServerList::RemoveWithoutSelection() {
    m_dlg->GetDlgItem(IDC_DELAY)->SetFocus();
    m_dlg->SendMessage(WM_COMMAND, IDC_REMOVE);
    QCOMPARE(m_platform->m_boxes.size(), std::size_t(1));
    QCOMPARE(m_platform->m_boxes[0].strText,
             CString("Nothing is selected for removal. Select an item from the server list "
                     "first."));
    QCOMPARE(m_platform->m_boxes[0].strCaption, CString("Quorvane Removal"));
    QCOMPARE(Entries().size(), 2);
    QCOMPARE(Focus(), IDC_DELAY);
}

QTEST_MAIN(CTestServerList)
#include "test_serverlist.moc"
