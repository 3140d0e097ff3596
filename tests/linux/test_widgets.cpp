// The main dialog as the user meets it in the real Qt widgets, without a display, the
// recording platform underneath: the controls the template makes, the keys and the ways
// out. The dialog's rules on their own are the logic tests' (test_dialog).

#include <QImageReader>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QtTest/QtTest>
#include <csignal>
#include <memory>

#include "harness/fakeplatform.h"
#include "framework/linux/qtbackend.h"
#include "framework/winapp.h"
#include "logic/keepalivedlg.h"
#include "res/resource.h"

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

// Whether some pixel is neither clear nor opaque: drawn smooth, not 16-colour art scaled up.
bool HasSoftEdges(const QImage& image) {
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < argb.height(); ++y)
        for (int x = 0; x < argb.width(); ++x)
            if (qAlpha(argb.pixel(x, y)) != 0 && qAlpha(argb.pixel(x, y)) != 255) return true;
    return false;
}

// The picture of the given size in the program's .ico resource.
QImage IcoImage(UINT nResourceId, int size) {
    QImageReader reader(QStringLiteral(":/icons/%1.ico").arg(nResourceId));
    for (int i = 0; i < reader.imageCount() && reader.jumpToImage(i); ++i) {
        const QImage image = reader.read();
        if (image.width() == size) return image.convertToFormat(QImage::Format_ARGB32);
    }
    return {};
}

}  // namespace

class CTestWidgets : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void TemplateControls();
    void EnterInNewServerMeansOk();
    void RemoveLeavesNothingSelected();
    void ProgramEnds_data();
    void ProgramEnds();
    void ProgramIconSizes();

private:
    // Opens the dialog as a tray click would, with the given texts in the Delay and New
    // Server edits.
    void Open(const char* delay, const char* server = "");

    std::unique_ptr<CFakePlatform> m_platform;
    CIcmpLibrary m_icmp;
    std::unique_ptr<CKeepAliveDlg> m_dlg;
};

void CTestWidgets::init() {
    m_platform = std::make_unique<CFakePlatform>();
    m_dlg = std::make_unique<CKeepAliveDlg>(*m_platform, m_icmp);
    QVERIFY(m_dlg->Create());
}

void CTestWidgets::cleanup() {
    m_dlg.reset();
    QCOMPARE(m_platform->m_nLiveIcons, 0);
    QVERIFY(m_platform->m_timers.empty());
    m_platform.reset();
}

void CTestWidgets::Open(const char* delay, const char* server) {
    m_dlg->ShowWindow(SW_SHOW);
    m_dlg->GetDlgItem(IDC_DELAY)->SetWindowText(delay);
    m_dlg->GetDlgItem(IDC_NEW_SERVER)->SetWindowText(server);
    m_platform->m_trayCalls.clear();
}

void CTestWidgets::TemplateControls() {
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

void CTestWidgets::EnterInNewServerMeansOk() {
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

void CTestWidgets::RemoveLeavesNothingSelected() {
    // The real list selects the next row when the selected one goes; the native control
    // leaves nothing selected, and so must the backend.
    Open("12");
    for (const char* entry : {"10.0.0.1", "10.0.0.2", "10.0.0.3"})
        m_dlg->m_lbServers.AddString(entry);
    auto* list = qobject_cast<QListWidget*>(Item(*m_dlg, IDC_SERVER_LIST));
    QVERIFY(list != nullptr);
    list->setCurrentRow(1);
    m_dlg->SendMessage(WM_COMMAND, IDC_REMOVE);
    QCOMPARE(list->count(), 2);
    QVERIFY(list->selectedItems().isEmpty());
    QCOMPARE(m_dlg->m_lbServers.GetCurSel(), LB_ERR);
    QCOMPARE(m_dlg->GetDlgItem(IDC_NEW_SERVER)->GetWindowText(), CString("10.0.0.2"));
}

void CTestWidgets::ProgramEnds_data() {
    QTest::addColumn<QString>("how");
    QTest::newRow("Escape") << "escape";
    QTest::newRow("Exit button") << "exit";
    QTest::newRow("window manager close") << "close";
    QTest::newRow("SIGTERM") << "sigterm";
}

void CTestWidgets::ProgramEnds() {
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
        } else {
            std::raise(SIGTERM);
        }
    });
    QCOMPARE(AfxWinMain(app), 0);
    QVERIFY(!app.m_dlg->IsWindow());
    QCOMPARE(m_platform->m_trayCalls.back().dwMessage, NIM_DELETE);
    QVERIFY(m_platform->m_timers.empty());
    app.m_dlg.reset();
}

void CTestWidgets::ProgramIconSizes() {
    const QIcon main = QtIconOf(IDI_MAIN);
    for (int size : {16, 32, 48, 64, 128, 256})
        QVERIFY2(main.availableSizes().contains(QSize(size, size)),
                 qPrintable(QString::number(size)));
    // Only the program's icon has theme pictures; the tray's states stay pixel art.
    QVERIFY(!QtIconOf(IDI_IDLE).availableSizes().contains(QSize(48, 48)));

    // The About box's 32 pixels on a screen of twice the density: the 64 pixel picture.
    const QPixmap dense = main.pixmap(QSize(32, 32), 2.0);
    QCOMPARE(dense.size(), QSize(64, 64));
    QVERIFY(HasSoftEdges(dense.toImage()));
    // On an ordinary screen the tray and the About box keep the 16-colour art, to the pixel.
    const QImage art16 = IcoImage(IDI_MAIN, 16), art32 = IcoImage(IDI_MAIN, 32);
    QVERIFY(!art16.isNull() && !art32.isNull());
    CIconRes tray{IDI_MAIN, 16, 16};
    QCOMPARE(QtPixmapOf(&tray).toImage().convertToFormat(QImage::Format_ARGB32), art16);
    QCOMPARE(main.pixmap(QSize(32, 32), 1.0).toImage().convertToFormat(QImage::Format_ARGB32),
             art32);

    // The main window carries every size, for the desktop to pick from.
    m_dlg->ShowWindow(SW_SHOW);
    QVERIFY(QtWidgetOf(m_dlg.get())->windowIcon().availableSizes().contains(QSize(256, 256)));
}

QTEST_MAIN(CTestWidgets)
#include "test_widgets.moc"
