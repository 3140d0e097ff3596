// The main dialog as the user meets it: the real window without a display, the recording
// platform underneath.

#include <QLineEdit>
#include <QPushButton>
#include <QtTest/QtTest>
#include <csignal>
#include <memory>

#include "fakeplatform.h"
#include "framework/qt/qtbackend.h"
#include "framework/winapp.h"
#include "keepalivedlg.h"
#include "resource.h"

namespace {

// An application whose only job is to own the dialog, as the real one does.
class CDialogApp : public CWinApp {
public:
    CDialogApp(CPlatform& platform, CIcmpLibrary& icmp) : CWinApp(platform), m_icmp(icmp) {}
    BOOL InitInstance() override {
        m_dlg = std::make_unique<CKeepAliveDlg>(m_platform, m_icmp);
        m_dlg->Create();
        m_pMainWnd = m_dlg.get();
        return TRUE;
    }
    std::unique_ptr<CKeepAliveDlg> m_dlg;

private:
    CIcmpLibrary& m_icmp;
};

QWidget* Item(CWnd& dlg, int id) { return QtWidgetOf(dlg.GetDlgItem(id)); }

}  // namespace

class CTestDialog : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void TemplateControls();
    void ValidDataIsTakenOver();
    void DelayRefused_data();
    void DelayRefused();
    void NewServerTooLong();
    void EnterInNewServerMeansOk();
    void AboutBoxFromSysCommand();
    void ProgramEnds_data();
    void ProgramEnds();

private:
    // Opens the dialog as a tray click would, with the given texts in the Delay and New
    // Server edits.
    void Open(const char* delay, const char* server = "");

    std::unique_ptr<CFakePlatform> m_platform;
    CIcmpLibrary m_icmp;
    std::unique_ptr<CKeepAliveDlg> m_dlg;
};

void CTestDialog::init() {
    m_platform = std::make_unique<CFakePlatform>();
    m_dlg = std::make_unique<CKeepAliveDlg>(*m_platform, m_icmp);
    QVERIFY(m_dlg->Create());
}

void CTestDialog::cleanup() {
    m_dlg.reset();
    QCOMPARE(m_platform->m_nLiveIcons, 0);
    QVERIFY(m_platform->m_timers.empty());
    m_platform.reset();
}

void CTestDialog::Open(const char* delay, const char* server) {
    m_dlg->ShowWindow(SW_SHOW);
    m_dlg->GetDlgItem(IDC_DELAY)->SetWindowText(delay);
    m_dlg->GetDlgItem(IDC_NEW_SERVER)->SetWindowText(server);
    m_platform->m_trayCalls.clear();
}

void CTestDialog::TemplateControls() {
    QVERIFY(!m_dlg->IsWindowVisible());
    QCOMPARE(m_dlg->GetWindowText(), CString("Quorvane by Harrowbecks Software, Inc."));
    auto* add = qobject_cast<QPushButton*>(Item(*m_dlg, IDC_ADD));
    auto* ok = qobject_cast<QPushButton*>(Item(*m_dlg, IDOK));
    QVERIFY(add != nullptr && ok != nullptr);
    QCOMPARE(add->text(), QString("&Add ->"));
    QVERIFY(ok->isDefault());
    QCOMPARE(m_dlg->GetDlgItem(IDCANCEL)->GetWindowText(), CString("E&xit"));
    // Tab order follows the template: Delay, Sound, Cycle, New Server, Add, ...
    QCOMPARE(Item(*m_dlg, IDC_DELAY)->nextInFocusChain(), Item(*m_dlg, IDC_SOUND));
    QCOMPARE(Item(*m_dlg, IDC_CYCLE)->nextInFocusChain(), Item(*m_dlg, IDC_NEW_SERVER));
    // The construction values are on screen.
    QCOMPARE(m_dlg->GetDlgItem(IDC_DELAY)->GetWindowText(), CString("0"));
    QCOMPARE(qobject_cast<QLineEdit*>(Item(*m_dlg, IDC_NEW_SERVER))->maxLength(), 50);
}

void CTestDialog::ValidDataIsTakenOver() {
    Open(" 30 ", "10.0.0.1");
    m_dlg->SetItemCheck(IDC_CYCLE, 1);
    m_dlg->SetItemCheck(IDC_SOUND, 1);
    m_dlg->SendMessage(WM_COMMAND, IDOK);
    QVERIFY(m_platform->m_boxes.empty());
    QCOMPARE(m_dlg->m_nDelay, 30);
    QCOMPARE(m_dlg->m_strNewServer, CString("10.0.0.1"));
    QCOMPARE(m_dlg->m_bCycleOnNoContact, TRUE);
    QCOMPARE(m_dlg->m_bSound, TRUE);
    // OK hides the dialog and starts the cycle: waiting picture, timer at the delay.
    QVERIFY(!m_dlg->IsWindowVisible());
    QVERIFY(m_dlg->m_bCycling);
    QVERIFY(m_dlg->m_bTrayClicks);
    QCOMPARE(m_platform->TimerPeriod(*m_dlg, ID_PING_TIMER), 30000u);
    QCOMPARE(m_platform->m_trayCalls.size(), std::size_t(1));
    QCOMPARE(m_platform->m_trayCalls[0].nIconId, UINT(IDI_MAIN));
}

void CTestDialog::DelayRefused_data() {
    QTest::addColumn<QByteArray>("delay");
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<int>("member");  // m_nDelay afterwards (it was 45)

    const QByteArray range("Please enter an integer between 3 and 3600.");
    const QByteArray notInt("Please enter an integer.");
    QTest::newRow("two") << QByteArray("2") << range << 2;
    QTest::newRow("3601") << QByteArray("3601") << range << 3601;
    QTest::newRow("negative") << QByteArray("-5") << range << -5;
    QTest::newRow("letters") << QByteArray("abc") << notInt << 45;
    QTest::newRow("empty") << QByteArray("") << notInt << 45;
    // Only the first 31 characters are read: the number past them is not seen.
    QTest::newRow("31 blanks then 5") << QByteArray(31, ' ') + "5" << notInt << 45;
    // 32 digits: the first 31 saturate.
    QTest::newRow("huge") << QByteArray(32, '9') << range << INT_MAX;
}

void CTestDialog::DelayRefused() {
    QFETCH(QByteArray, delay);
    QFETCH(QByteArray, message);
    QFETCH(int, member);
    m_dlg->m_nDelay = 45;
    m_dlg->m_strNewServer = "old";
    m_dlg->m_bSound = FALSE;
    Open(delay.constData(), "10.0.0.7");
    m_dlg->SetItemCheck(IDC_SOUND, 1);

    m_dlg->SendMessage(WM_COMMAND, IDOK);

    QCOMPARE(m_platform->m_boxes.size(), std::size_t(1));
    const auto& box = m_platform->m_boxes[0];
    QCOMPARE(box.strText, message.toStdString());
    QCOMPARE(box.strCaption, CString("quorvane"));
    QCOMPARE(box.nType, UINT(MB_ICONEXCLAMATION));
    QVERIFY(box.pOwner == m_dlg.get());
    QCOMPARE(m_dlg->m_nDelay, member);
    // The first failure stops the transfer: later members keep their values.
    QCOMPARE(m_dlg->m_strNewServer, CString("old"));
    QCOMPARE(m_dlg->m_bSound, FALSE);
    // The dialog stays open for correction, focus on the Delay edit with its text selected.
    auto* impl = static_cast<const CWndImpl*>(m_dlg->GetSafeHwnd());
    QCOMPARE(impl->GetFocusItem(), IDC_DELAY);
    QVERIFY(impl->IsItemTextSelectedWhole(IDC_DELAY));
    QVERIFY(m_dlg->IsWindowVisible());
    // Nothing of the bad value reaches the cycle or the tray.
    QVERIFY(!m_platform->IsTimerRunning(*m_dlg, ID_PING_TIMER));
    QVERIFY(!m_dlg->m_bCycling);
    QVERIFY(m_platform->m_trayCalls.empty());
}

void CTestDialog::NewServerTooLong() {
    Open("10", "");
    // The edit limits typing to 50 characters; pasted or set text can still be longer.
    qobject_cast<QLineEdit*>(Item(*m_dlg, IDC_NEW_SERVER))->setMaxLength(100);
    m_dlg->GetDlgItem(IDC_NEW_SERVER)->SetWindowText(CString(51, 'x'));
    m_dlg->SetItemCheck(IDC_CYCLE, 1);
    m_dlg->SendMessage(WM_COMMAND, IDOK);
    QCOMPARE(m_platform->m_boxes.size(), std::size_t(1));
    QCOMPARE(m_platform->m_boxes[0].strText, CString("Please enter no more than 50 characters."));
    QCOMPARE(m_dlg->m_nDelay, 10);
    QCOMPARE(m_dlg->m_bCycleOnNoContact, FALSE);
    auto* impl = static_cast<const CWndImpl*>(m_dlg->GetSafeHwnd());
    QCOMPARE(impl->GetFocusItem(), IDC_NEW_SERVER);
    QVERIFY(impl->IsItemTextSelectedWhole(IDC_NEW_SERVER));

    // Exactly 50 is fine.
    m_platform->m_boxes.clear();
    m_dlg->GetDlgItem(IDC_NEW_SERVER)->SetWindowText(CString(50, 'x'));
    m_dlg->SendMessage(WM_COMMAND, IDOK);
    QVERIFY(m_platform->m_boxes.empty());
    QVERIFY(!m_dlg->IsWindowVisible());
}

void CTestDialog::EnterInNewServerMeansOk() {
    Open("12", "10.0.0.3");
    QWidget* edit = Item(*m_dlg, IDC_NEW_SERVER);
    m_dlg->GetDlgItem(IDC_NEW_SERVER)->SetFocus();
    QTest::keyClick(edit, Qt::Key_Return);
    QVERIFY(!m_dlg->IsWindowVisible());
    QCOMPARE(m_dlg->m_nDelay, 12);
    QCOMPARE(m_platform->TimerPeriod(*m_dlg, ID_PING_TIMER), 12000u);
    // Add was not run: the entered server is not in the list.
    QCOMPARE(m_dlg->m_lbServers.GetCount(), 0);
}

void CTestDialog::AboutBoxFromSysCommand() {
    // The box runs modally; close it as soon as it is up.
    bool shown = false;
    QTimer::singleShot(0, [&shown] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (w->isVisible() && w->windowTitle() == "About Quorvane") {
                shown = true;
                QTest::keyClick(w, Qt::Key_Return);
            }
        }
    });
    m_dlg->SendMessage(WM_SYSCOMMAND, 0x10);
    QVERIFY(shown);
    QVERIFY(!m_dlg->IsWindowVisible());
    QVERIFY(m_dlg->IsWindow());
}

void CTestDialog::ProgramEnds_data() {
    QTest::addColumn<QString>("how");
    QTest::newRow("Escape") << "escape";
    QTest::newRow("Exit button") << "exit";
    QTest::newRow("window manager close") << "close";
    QTest::newRow("SIGTERM") << "sigterm";
    QTest::newRow("close inside a message box") << "box";
}

void CTestDialog::ProgramEnds() {
    QFETCH(QString, how);
    m_dlg.reset();
    CDialogApp app(*m_platform, m_icmp);
    QTimer::singleShot(0, [&] {
        CKeepAliveDlg& dlg = *app.m_dlg;
        dlg.ShowWindow(SW_SHOW);
        dlg.SetTimer(ID_PING_TIMER, 3000);
        QWidget* widget = QtWidgetOf(&dlg);
        if (how == "escape") {
            QTest::keyClick(widget, Qt::Key_Escape);
        } else if (how == "exit") {
            QTest::mouseClick(Item(dlg, IDCANCEL), Qt::LeftButton);
        } else if (how == "close") {
            widget->close();
        } else if (how == "sigterm") {
            std::raise(SIGTERM);
        } else {
            // A close request handled while a handler's box is open: the handler goes on
            // with its window gone and must not crash.
            m_platform->m_onBox = [&dlg](const CFakePlatform::Box&) { dlg.SendMessage(WM_CLOSE); };
            dlg.GetDlgItem(IDC_DELAY)->SetWindowText("1");
            dlg.SendMessage(WM_COMMAND, IDOK);
        }
    });
    QCOMPARE(AfxWinMain(app), 0);
    QVERIFY(!app.m_dlg->IsWindow());
    QCOMPARE(m_platform->m_trayCalls.back().dwMessage, NIM_DELETE);
    QVERIFY(m_platform->m_timers.empty());
    app.m_dlg.reset();
}

QTEST_MAIN(CTestDialog)
#include "test_dialog.moc"
