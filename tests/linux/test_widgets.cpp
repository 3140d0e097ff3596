// The main dialog as the user meets it in the real Qt widgets, without a display, the
// recording platform underneath: the controls the template makes, the keys and the ways
// out. The dialog's rules on their own are the logic tests' (test_dialog).

#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QTextLayout>
#include <QtTest/QtTest>
#include <cmath>
#include <csignal>
#include <memory>

#include "framework/linux/qtbackend.h"
#include "framework/winapp.h"
#include "harness/fakeplatform.h"
#include "logic/aboutdlg.h"
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

// The picture of the given size in the program's .ico resource: the first one, or with
// bTrueColour the last (the true-colour pictures follow the 16-colour art).
QImage IcoImage(UINT nResourceId, int size, bool bTrueColour = false) {
    QImage found;
    QImageReader reader(QStringLiteral(":/icons/%1.ico").arg(nResourceId));
    for (int i = 0; i < reader.imageCount() && reader.jumpToImage(i); ++i) {
        const QImage image = reader.read();
        if (image.width() != size) continue;
        found = image.convertToFormat(QImage::Format_ARGB32);
        if (!bTrueColour) break;
    }
    return found;
}

double Luminance(QRgb rgb) {
    return 0.2126 * qRed(rgb) + 0.7152 * qGreen(rgb) + 0.0722 * qBlue(rgb);
}

QImage Over(const QImage& picture, const QColor& panel) {
    QImage out(picture.size(), QImage::Format_ARGB32);
    out.fill(panel);
    QPainter(&out).drawImage(0, 0, picture);
    return out;
}

// How far the picture's outline stands out from the panel: over the pixels on the edge of
// its silhouette, the share where the luminance of the outline (that pixel and the next
// size / 16 ones inwards, at least 3) comes at least 80 from the panel's somewhere. A black
// rim alone fails on a dark panel, a white one on a light panel.
constexpr double kMinOutlineContrast = 0.85;
double OutlineContrast(const QImage& picture, const QColor& panel) {
    const QImage seen = Over(picture, panel);
    const double background = Luminance(panel.rgb());
    auto solid = [&](int x, int y) {
        return x >= 0 && y >= 0 && x < picture.width() && y < picture.height() &&
               qAlpha(picture.pixel(x, y)) >= 128;
    };
    const double cx = (picture.width() - 1) / 2.0, cy = (picture.height() - 1) / 2.0;
    int edge = 0, standing = 0;
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            if (!solid(x, y) ||
                (solid(x - 1, y) && solid(x + 1, y) && solid(x, y - 1) && solid(x, y + 1)))
                continue;
            ++edge;
            double contrast = 0;
            for (int k = 0, ix = x, iy = y; k < std::max(3, picture.width() / 16); ++k) {
                contrast =
                    std::max(contrast, std::fabs(Luminance(seen.pixel(ix, iy)) - background));
                ix += (cx > ix) - (cx < ix);
                iy += (cy > iy) - (cy < iy);
            }
            standing += contrast >= 80;
        }
    }
    return edge == 0 ? 0 : double(standing) / edge;
}

// The root mean square of the luminance difference, pixel by pixel, of two same-size images:
// what tells two pictures apart to an eye that sees no hue.
constexpr double kMinStatesApart = 30;
double LuminanceRms(const QImage& a, const QImage& b) {
    double sum = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const double d = Luminance(a.pixel(x, y)) - Luminance(b.pixel(x, y));
            sum += d * d;
        }
    return std::sqrt(sum / (a.width() * a.height()));
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
    void TrayPicturesReadOnAnyPanel();
    void AboutBoxKeepsItsLines();

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
    // Every picture at every size a tray or a window asks for, at scale 1 and 2, is drawn at
    // that size: nothing is scaled on the way, and nothing is the 16-colour art.
    for (UINT id : {IDI_MAIN, IDI_PINGING, IDI_IDLE}) {
        const QIcon icon = QtIconOf(id);
        for (int size : {16, 20, 22, 24, 32, 40, 44, 48, 64, 256}) {
            const QString what = QStringLiteral("picture %1 at %2").arg(id).arg(size);
            const QImage drawn = IcoImage(id, size, true);
            QVERIFY2(!drawn.isNull(), qPrintable(what));
            // As the screen gets it: premultiplied.
            const auto format = QImage::Format_ARGB32_Premultiplied;
            const QImage shown =
                icon.pixmap(QSize(size, size), 1.0).toImage().convertToFormat(format);
            QVERIFY2(shown == drawn.convertToFormat(format), qPrintable(what));
            QVERIFY2(HasSoftEdges(drawn), qPrintable(what));
        }
        // The tray's 16 pixels on a screen of twice the density: the 32 pixel picture.
        CIconRes tray{id, 16, 16};
        QCOMPARE(QtIconOf(id).pixmap(QSize(16, 16), 2.0).size(), QSize(32, 32));
        QCOMPARE(QtPixmapOf(&tray).size(), QSize(16, 16));
    }
    // The classic art stays in the .ico for 16-colour displays, first, as it always was.
    QCOMPARE(IcoImage(IDI_MAIN, 32).size(), QSize(32, 32));
    QVERIFY(!HasSoftEdges(IcoImage(IDI_MAIN, 16)));
    QVERIFY(QtIconOf(IDI_MAIN).availableSizes().contains(QSize(128, 128)));

    // The main window carries every size, for the desktop to pick from.
    m_dlg->ShowWindow(SW_SHOW);
    QVERIFY(QtWidgetOf(m_dlg.get())->windowIcon().availableSizes().contains(QSize(256, 256)));
}

void CTestWidgets::TrayPicturesReadOnAnyPanel() {
    const QColor light(0xf2, 0xf2, 0xf2), dark(0x2b, 0x2b, 0x2b);
    for (int size : {16, 22, 24, 32, 44, 48, 64}) {
        QList<QImage> seen;
        for (UINT id : {IDI_IDLE, IDI_MAIN, IDI_PINGING}) {
            const QImage picture = IcoImage(id, size, true);
            for (const QColor& panel : {light, dark}) {
                const double edge = OutlineContrast(picture, panel);
                QVERIFY2(edge >= kMinOutlineContrast,
                         qPrintable(QStringLiteral("picture %1 at %2 px on %3: outline %4")
                                        .arg(id)
                                        .arg(size)
                                        .arg(panel.name())
                                        .arg(edge)));
            }
            seen << Over(picture, QColor(0x80, 0x80, 0x80));
        }
        // Told apart by brightness, not by colour alone.
        for (int a = 0; a < 3; ++a) {
            for (int b = a + 1; b < 3; ++b) {
                const double apart = LuminanceRms(seen[a], seen[b]);
                QVERIFY2(apart >= kMinStatesApart,
                         qPrintable(QStringLiteral("states %1 and %2 at %3 px: %4 apart")
                                        .arg(a)
                                        .arg(b)
                                        .arg(size)
                                        .arg(apart)));
            }
        }
    }
}

// Each text of the About box fits its control, and no paragraph leaves its last word alone
// on a line of its own.
void CTestWidgets::AboutBoxKeepsItsLines() {
    CAboutDlg about(*m_platform);
    QVERIFY(about.Create());
    int texts = 0;
    for (QLabel* label : QtWidgetOf(&about)->findChildren<QLabel*>()) {
        if (label->text().isEmpty()) continue;
        ++texts;
        const int width = label->contentsRect().width();
        int height = 0;
        for (const QString& paragraph : label->text().split(QLatin1Char('\n'))) {
            QTextLayout layout(paragraph, label->font());
            layout.beginLayout();
            QStringList lines;
            for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
                line.setLineWidth(width);
                lines << paragraph.mid(line.textStart(), line.textLength()).trimmed();
                height += qCeil(line.height());
            }
            layout.endLayout();
            QVERIFY2(lines.size() == 1 || lines.last().contains(QLatin1Char(' ')),
                     qPrintable(QStringLiteral("in %1 px: %2").arg(width).arg(lines.join('|'))));
        }
        QVERIFY2(height <= label->contentsRect().height(), qPrintable(label->text()));
    }
    QCOMPARE(texts, 2);
    about.DestroyWindow();
}

QTEST_MAIN(CTestWidgets)
#include "test_widgets.moc"
