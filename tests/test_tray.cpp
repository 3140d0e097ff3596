// The tray icon: the records handed to the shell and what clicks on the icon do.

#include <QApplication>
#include <QListWidget>
#include <QtTest/QtTest>
#include <memory>

#include "fakeplatform.h"
#include "framework/qt/qtbackend.h"
#include "keepalivedlg.h"
#include "resource.h"

class CTestTray : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void RecordsAndTip();
    void LeftClickOpensForEditing();
    void ClicksIgnoredWhileOpen();
    void OkArmsClicksAgain();
    void RightClickShowsAbout();
    void IconsAreReleased();

private:
    void Click(UINT mouse) { m_dlg->SendMessage(WM_TRAYNOTIFY, TRAY_ICON_ID, mouse); }
    // Closes the About box as soon as it shows; true once it has.
    void CloseAboutWhenShown(bool& shown);

    std::unique_ptr<CFakePlatform> m_platform;
    CIcmpLibrary m_icmp;
    std::unique_ptr<CKeepAliveDlg> m_dlg;
};

void CTestTray::init() {
    m_platform = std::make_unique<CFakePlatform>();
    m_platform->m_files["/home/user/Quorvane.Lst"] = "10\r\n0\r\n0\r\n10.0.0.1\r\n";
    m_dlg = std::make_unique<CKeepAliveDlg>(*m_platform, m_icmp);
    QVERIFY(m_dlg->Create());
    QVERIFY(m_dlg->m_bCycling);
}

void CTestTray::cleanup() {
    m_dlg->DestroyWindow();
    QCOMPARE(m_platform->m_trayCalls.back().dwMessage, NIM_DELETE);
    QCOMPARE(m_platform->m_trayCalls.back().nIconId, 0u);
    m_dlg.reset();
    QCOMPARE(m_platform->m_nLiveIcons, 0);
    m_platform.reset();
}

void CTestTray::CloseAboutWhenShown(bool& shown) {
    QTimer::singleShot(0, [&shown] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (w->isVisible() && w->windowTitle() == "About Quorvane") {
                shown = true;
                QTest::keyClick(w, Qt::Key_Escape);
            }
        }
    });
}

void CTestTray::RecordsAndTip() {
    const auto& add = m_platform->m_trayCalls.front();
    QCOMPARE(add.dwMessage, NIM_ADD);
    QCOMPARE(add.uID, 128u);
    QCOMPARE(add.uFlags, UINT(NIF_MESSAGE | NIF_ICON | NIF_TIP));
    QCOMPARE(add.uCallbackMessage, 0x8064u);
    QCOMPARE(add.nIconId, UINT(IDI_IDLE));
    QCOMPARE(add.strTip, CString("Quorvane"));
    // A tip longer than the record holds is cut to 63 characters.
    m_dlg->NotifyTray(NIM_MODIFY, TRAY_ICON_ID, nullptr, CString(100, 't').c_str());
    QCOMPARE(m_platform->m_trayCalls.back().strTip, CString(63, 't'));
}

void CTestTray::LeftClickOpensForEditing() {
    m_dlg->m_strNewServer = "typed before";
    Click(WM_LBUTTONDOWN);
    QVERIFY(!m_dlg->m_bCycling);
    QVERIFY(!m_platform->IsTimerRunning(*m_dlg, ID_PING_TIMER));
    QCOMPARE(m_platform->m_trayCalls.back().nIconId, UINT(IDI_IDLE));
    QVERIFY(!m_dlg->m_bTrayClicks);
    QVERIFY(m_dlg->IsWindowVisible());
    QCOMPARE(m_dlg->GetDlgItem(IDC_NEW_SERVER)->GetWindowText(), CString());
    QCOMPARE(m_dlg->GetDlgItem(IDC_DELAY)->GetWindowText(), CString("10"));
    auto* impl = static_cast<const CWndImpl*>(m_dlg->GetSafeHwnd());
    QCOMPARE(impl->GetFocusItem(), IDC_DELAY);
    // What was loaded while the window was hidden is on screen now.
    auto* list = qobject_cast<QListWidget*>(QtWidgetOf(m_dlg->GetDlgItem(IDC_SERVER_LIST)));
    QCOMPARE(list->count(), 1);
    QCOMPARE(list->item(0)->text(), QString("10.0.0.1"));
}

void CTestTray::ClicksIgnoredWhileOpen() {
    Click(WM_LBUTTONDOWN);
    const std::size_t calls = m_platform->m_trayCalls.size();
    m_dlg->GetDlgItem(IDC_DELAY)->SetWindowText("25");
    Click(WM_LBUTTONDOWN);
    Click(WM_RBUTTONDOWN);
    QCOMPARE(m_platform->m_trayCalls.size(), calls);
    // The edit was not reloaded from the members.
    QCOMPARE(m_dlg->GetDlgItem(IDC_DELAY)->GetWindowText(), CString("25"));
    // Minimised meanwhile, it comes back with a left click, still as the user left it; the
    // cycle stays stopped.
    QWidget* widget = QtWidgetOf(m_dlg.get());
    widget->showMinimized();
    QVERIFY(m_dlg->IsIconic());
    Click(WM_RBUTTONDOWN);
    QVERIFY(m_dlg->IsIconic());
    Click(WM_LBUTTONDOWN);
    QVERIFY(!m_dlg->IsIconic());
    QVERIFY(m_dlg->IsWindowVisible());
    QCOMPARE(m_dlg->GetDlgItem(IDC_DELAY)->GetWindowText(), CString("25"));
    QCOMPARE(m_platform->m_trayCalls.size(), calls);
    QVERIFY(!m_dlg->m_bCycling && !m_dlg->m_bTrayClicks);
    // Other mouse messages never do anything.
    m_dlg->m_bTrayClicks = TRUE;
    Click(WM_LBUTTONDBLCLK);
    Click(WM_MBUTTONDOWN);
    QCOMPARE(m_platform->m_trayCalls.size(), calls);
}

void CTestTray::OkArmsClicksAgain() {
    Click(WM_LBUTTONDOWN);
    // A failed OK leaves the dialog open for correction, clicks still ignored.
    m_dlg->GetDlgItem(IDC_DELAY)->SetWindowText("1");
    m_dlg->SendMessage(WM_COMMAND, IDOK);
    QVERIFY(!m_dlg->m_bTrayClicks);
    m_dlg->GetDlgItem(IDC_DELAY)->SetWindowText("5");
    m_dlg->SendMessage(WM_COMMAND, IDOK);
    QVERIFY(m_dlg->m_bTrayClicks);
    QVERIFY(!m_dlg->IsWindowVisible());
    QCOMPARE(m_platform->m_trayCalls.back().nIconId, UINT(IDI_MAIN));
    Click(WM_LBUTTONDOWN);
    QVERIFY(m_dlg->IsWindowVisible());
}

void CTestTray::RightClickShowsAbout() {
    bool shown = false;
    CloseAboutWhenShown(shown);
    // While the box is open, clicks are ignored.
    bool armedInside = true;
    QTimer::singleShot(0, [this, &armedInside] { armedInside = m_dlg->m_bTrayClicks; });
    Click(WM_RBUTTONDOWN);
    QVERIFY(shown);
    QVERIFY(!armedInside);
    QVERIFY(m_dlg->m_bTrayClicks);
    // The cycle goes on; the main dialog stays hidden.
    QVERIFY(m_dlg->m_bCycling);
    QVERIFY(m_platform->IsTimerRunning(*m_dlg, ID_PING_TIMER));
    QVERIFY(!m_dlg->IsWindowVisible());
}

void CTestTray::IconsAreReleased() {
    // Every change loads a fresh icon and hands it back: nothing piles up.
    for (int i = 0; i < 10000; ++i) {
        Click(WM_LBUTTONDOWN);
        m_dlg->SendMessage(WM_COMMAND, IDOK);
    }
    QCOMPARE(m_platform->m_nLiveIcons, 1);  // the dialog's own big icon
}

QTEST_MAIN(CTestTray)
#include "test_tray.moc"
