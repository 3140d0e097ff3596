// The real program on a Wayland desktop in the loopback-only namespace, each test on two of
// them: sway (headless) with waybar, whose tray is a StatusNotifierItem host, and GNOME Shell
// (headless) with its AppIndicator extension, which shows the item's menu on a left click too.
// What the bar shows is read from its pixels (grim; GNOME Shell's own screenshot interface),
// the user's clicks come from a virtual pointer (the compositor's; GNOME Shell's remote
// desktop interface), and the item is read over the session bus while a probe waits. sway
// refuses to run as root, so the whole session, the program included, runs as nobody.

#include <sys/stat.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>
#include <QtTest/QtTest>
#include <map>
#include <memory>

#include "harness/netns.h"
#include "harness/picture.h"
#include "harness/program.h"
#include "harness/wait.h"
#include "harness/wayland.h"
#include "harness/wire.h"

namespace {

constexpr char kDialogCaption[] = "Quorvane by Harrowbecks Software, Inc.";
constexpr char kAboutCaption[] = "About Quorvane";
// One server that answers at once. Sound off: the session has no audio server, and what the
// sound says about that is no business of the tray's.
constexpr char kAnsweringList[] = "3\r\n0\r\n0\r\n127.0.0.1\r\n";
// What the program says, once, when it starts with no tray host.
constexpr char kNoTrayLine[] = "no notification area is running";

// The lines of the program's standard error that are neither empty nor one of the allowed
// ones: Qt's warnings among them.
QStringList UnexpectedLines(const QByteArray& output, const QStringList& allowed = {}) {
    QStringList lines;
    for (const QByteArray& line : output.split('\n')) {
        const QString text = QString::fromUtf8(line).trimmed();
        if (text.isEmpty()) continue;
        bool bAllowed = false;
        for (const QString& allow : allowed) bAllowed = bAllowed || text.contains(allow);
        if (!bAllowed) lines << text;
    }
    return lines;
}

}  // namespace

class CTestWayland : public QObject {
    Q_OBJECT

private slots:
    void initTestCase_data();
    void initTestCase();
    void init();
    void cleanup();
    void ProbingPictureAndTheItemReadDuringTheWait();
    void LeftClickOpensTheDialog();
    void MenuEntryOpensTheAboutBox();
    void BarStartedAfterTheProgram();
    void BarRestarted();
    void cleanupTestCase();

private:
    // Clicks the icon with that button and returns the entries of the menu that came up, top
    // down, on the screen; none when none came.
    QList<QRect> OpenMenu(const QRect& icon, const char* pszButton);

    // A session per desktop, each started when its first test comes, and the current test's.
    std::map<EDesktop, std::unique_ptr<CSession>> m_sessions;
    CSession* m_pSession = nullptr;
};

// Every test on each desktop.
void CTestWayland::initTestCase_data() {
    QTest::addColumn<int>("desktop");
    QTest::newRow("sway") << int(EDesktop::Sway);
    QTest::newRow("gnome-shell") << int(EDesktop::Gnome);
}

void CTestWayland::initTestCase() {
    if (!OnlyLoopback()) QSKIP("real echo requests only in a namespace that holds nothing but lo");
    // sway refuses root, and only root can hand the session to another user.
    if (geteuid() != 0) QSKIP("the Wayland session runs as nobody, which needs root to start");
}

// The compositor draws the pointer into the screen: it stays off the bar unless it clicks.
void CTestWayland::init() {
    QFETCH_GLOBAL(int, desktop);
    auto& pSession = m_sessions[EDesktop(desktop)];
    if (!pSession) {
        QElapsedTimer clock;
        clock.start();
        pSession = std::make_unique<CSession>(EDesktop(desktop));
        qInfo("the session started in %lld ms", clock.elapsed());
    }
    m_pSession = pSession.get();
    QVERIFY2(m_pSession->IsUp(), qPrintable(m_pSession->Failure()));
    QVERIFY(m_pSession->PointerAway());
}

// Each test starts the bar it needs, and nothing of one test's bar (an open menu) outlives it.
void CTestWayland::cleanup() {
    if (m_pSession != nullptr && m_pSession->IsUp()) m_pSession->StopBar();
}

void CTestWayland::cleanupTestCase() {
    m_pSession = nullptr;
    m_sessions.clear();
}

QList<QRect> CTestWayland::OpenMenu(const QRect& icon, const char* pszButton) {
    // Near the icon, in the top right corner: the menu is what changes around it there (the
    // icon itself, and GNOME Shell's button around it, change on their own).
    const QRect area(kScreenWidth - 400, 0, 400, 300);
    const QRect ignore = m_pSession->MenuOnLeftClick()
                             ? m_pSession->Bar().translated(-area.topLeft())
                             : icon.translated(-area.topLeft()).adjusted(-2, -2, 2, 2);
    // What still moves there (a window fading out, a menu closing) is not the menu.
    const QImage before = SteadyScreen([&] { return m_pSession->Screen(area); }, ignore, 3000);
    if (before.isNull() || !m_pSession->Click(icon.center(), pszButton)) return {};
    // The compositor draws the pointer into the screen; the menu stays open without it.
    if (!m_pSession->PointerAway()) return {};
    QList<QRect> entries = SteadyMenuEntries(
        before, [&] { return m_pSession->Screen(area); }, ignore, 1, 5000);
    for (QRect& entry : entries) entry.translate(area.topLeft());
    return entries;
}

void CTestWayland::ProbingPictureAndTheItemReadDuringTheWait() {
    CCapture capture;
    if (!capture.IsOpen()) QSKIP("no packet capture here (needs CAP_NET_RAW)");
    QVERIFY(m_pSession->StartBar());
    CSilentServers silent({"127.0.0.20"});
    QVERIFY(silent.IsSet());
    // The first tick after 5 s, time enough to see the picture before it.
    const QByteArray list("5\r\n0\r\n0\r\n127.0.0.20\r\n");
    CProgram program(list, m_pSession->Session(), m_pSession->Wrapper());
    QVERIFY(program.Started());

    const QRect icon = m_pSession->TrayIcon(10000);
    QVERIFY2(icon.isValid(), qPrintable(program.Outcome()));
    QCOMPARE(NameOf(m_pSession->PictureWithin(icon, EPicture::Waiting, 3000)),
             NameOf(EPicture::Waiting));
    const QList<QPair<QString, QString>> items = m_pSession->Items();
    QCOMPARE(items.size(), 1);
    const qint64 nIdleReadMs = m_pSession->ReadItem(items.first(), "IconPixmap");
    qInfo("IconPixmap read between probes: %lld ms", nIdleReadMs);
    QVERIFY(nIdleReadMs >= 0);

    // The first tick sends its request and waits for an answer that never comes (three tries
    // of 5 s): all that time the bar must show the probing picture, and the item must answer
    // a host's reads at once.
    QVERIFY(capture.RunUntilSeen({"127.0.0.20"}, 15.0));
    QElapsedTimer clock;
    clock.start();
    // The host redraws once it has heard of the change and read the picture (GNOME Shell's
    // extension takes longer than waybar): from then on, to the end of the wait.
    const EPicture first = m_pSession->PictureWithin(icon, EPicture::Probing, 1000);
    qInfo("the probing picture shown %lld ms into the wait", clock.elapsed());
    QCOMPARE(NameOf(first), NameOf(EPicture::Probing));
    int nSamples = 0, nProbing = 0;
    QStringList seen;
    QList<qint64> reads;
    QList<int> readsAtMs = {1000, 6000, 11000};
    while (clock.elapsed() < 13000) {
        if (!readsAtMs.isEmpty() && clock.elapsed() >= readsAtMs.first()) {
            readsAtMs.removeFirst();
            const qint64 nAtMs = clock.elapsed();
            const qint64 nMs = m_pSession->ReadItem(items.first(), "IconPixmap");
            qInfo("IconPixmap read %.1f s into the wait: %s", nAtMs / 1000.0,
                  nMs < 0 ? "no answer within 2 s" : qPrintable(QString::number(nMs) + " ms"));
            reads << nMs;
            continue;
        }
        const qint64 nLookMs = clock.elapsed();
        const EPicture picture = m_pSession->Picture(icon);
        ++nSamples;
        if (picture == EPicture::Probing)
            ++nProbing;
        else
            qInfo("%s picture %lld ms into the wait", NameOf(picture), nLookMs);
        seen << NameOf(picture);
        Sleep(250);
    }
    seen.removeDuplicates();
    qInfo("probing picture in %d of %d looks during the wait (seen: %s)", nProbing, nSamples,
          qPrintable(seen.join(", ")));
    // Both findings are reported before either fails the test.
    bool bReadsAnswered = true;
    for (const qint64 nMs : reads) bReadsAnswered = bReadsAnswered && nMs >= 0 && nMs < 1000;
    QVERIFY2(nProbing == nSamples && bReadsAnswered,
             qPrintable(QStringLiteral("probing in %1 of %2 looks; reads %3")
                            .arg(nProbing)
                            .arg(nSamples)
                            .arg(bReadsAnswered ? "answered" : "not answered within 1 s")));

    // An end request in the middle of the wait ends the program at once, the file as it was.
    program.Signal(SIGTERM);
    QVERIFY2(program.EndsWithZero(3000), qPrintable(program.Outcome()));
    QVERIFY2(program.MemoryError().isEmpty(), qPrintable(program.Outcome()));
    QCOMPARE(program.ListFile(), list);
    QCOMPARE(UnexpectedLines(program.StdErr()), QStringList());
}

void CTestWayland::LeftClickOpensTheDialog() {
    QVERIFY(m_pSession->StartBar());
    CProgram program(kAnsweringList, m_pSession->Session(), m_pSession->Wrapper());
    QVERIFY(program.Started());
    const QRect icon = m_pSession->TrayIcon(10000);
    QVERIFY2(icon.isValid(), qPrintable(program.Outcome()));
    // Where a left click shows the menu, its first entry opens the dialog.
    if (m_pSession->MenuOnLeftClick()) {
        const QList<QRect> entries = OpenMenu(icon, "left");
        QVERIFY2(
            entries.size() == 2,
            qPrintable(QStringLiteral("%1 menu entries after a left click").arg(entries.size())));
        QVERIFY(m_pSession->Click(entries.first().center(), "left"));
    } else {
        QVERIFY(m_pSession->Click(icon.center(), "left"));
    }
    QVERIFY2(m_pSession->WindowShown(kDialogCaption, 10000), qPrintable(program.Outcome()));
    QVERIFY(m_pSession->PointerAway());
    QVERIFY2(program.EndCleanly(), qPrintable(program.Outcome()));
    QCOMPARE(UnexpectedLines(program.StdErr()), QStringList());
}

// With the dialog closed: while it is open for editing the icon only brings it back.
void CTestWayland::MenuEntryOpensTheAboutBox() {
    QVERIFY(m_pSession->StartBar());
    CProgram program(kAnsweringList, m_pSession->Session(), m_pSession->Wrapper());
    QVERIFY(program.Started());
    const QRect icon = m_pSession->TrayIcon(10000);
    QVERIFY2(icon.isValid(), qPrintable(program.Outcome()));

    // A right click: the bar shows the item's menu below the icon, whose last entry (its only
    // one where a left click opens the dialog) opens the About box.
    const QList<QRect> entries = OpenMenu(icon, "right");
    qInfo("the menu after a right click: %lld entries", static_cast<long long>(entries.size()));
    QVERIFY2(entries.size() == (m_pSession->MenuOnLeftClick() ? 2 : 1),
             qPrintable(QStringLiteral("%1 menu entries after a right click").arg(entries.size())));
    QVERIFY(m_pSession->Click(entries.last().center(), "left"));
    QVERIFY2(m_pSession->WindowShown(kAboutCaption, 10000), qPrintable(program.Outcome()));
    QVERIFY(m_pSession->PointerAway());

    QVERIFY2(program.EndCleanly(), qPrintable(program.Outcome()));
    QCOMPARE(UnexpectedLines(program.StdErr()), QStringList());
}

void CTestWayland::BarStartedAfterTheProgram() {
    m_pSession->StopBar();
    CProgram program(kAnsweringList, m_pSession->Session(), m_pSession->Wrapper());
    QVERIFY(program.Started());
    // As a login session starts its programs: the bar a moment after the program.
    Sleep(3000);
    QVERIFY(m_pSession->StartBar());
    const QRect icon = m_pSession->TrayIcon(10000);
    QVERIFY2(icon.isValid(), qPrintable(program.Outcome()));
    QCOMPARE(NameOf(m_pSession->PictureWithin(icon, EPicture::Waiting, 5000)),
             NameOf(EPicture::Waiting));
    QVERIFY2(program.EndCleanly(), qPrintable(program.Outcome()));
    // Nothing but the one line that says the icon comes later.
    QVERIFY2(program.StdErr().count(kNoTrayLine) <= 1, program.StdErr().constData());
    QCOMPARE(UnexpectedLines(program.StdErr(), {kNoTrayLine}), QStringList());
}

void CTestWayland::BarRestarted() {
    QVERIFY(m_pSession->StartBar());
    CProgram program(kAnsweringList, m_pSession->Session(), m_pSession->Wrapper());
    QVERIFY(program.Started());
    QVERIFY2(m_pSession->TrayIcon(10000).isValid(), qPrintable(program.Outcome()));
    // A bar that restarts (an update, a changed configuration) shows the icon again.
    m_pSession->StopBar();
    QVERIFY(m_pSession->StartBar());
    const QRect icon = m_pSession->TrayIcon(10000);
    QVERIFY2(icon.isValid(), qPrintable(program.Outcome()));
    QCOMPARE(NameOf(m_pSession->PictureWithin(icon, EPicture::Waiting, 5000)),
             NameOf(EPicture::Waiting));
    QVERIFY2(program.EndCleanly(), qPrintable(program.Outcome()));
    QCOMPARE(UnexpectedLines(program.StdErr()), QStringList());
}

QTEST_APPLESS_MAIN(CTestWayland)
#include "test_wayland.moc"
