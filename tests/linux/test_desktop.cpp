// The real program on an X11 desktop (Xvfb and a window manager with a notification area) in
// the loopback-only namespace: what the tray host shows while a probe blocks the program, the
// dialog's frame, bringing the open dialog back, every way out ending cleanly once the sonar
// has played, and the XEmbed tray: one that starts late or restarts, the right click, no bus.

#include <QElapsedTimer>
#include <QtTest/QtTest>
#include <memory>
#include <vector>

#include "harness/desktop.h"
#include "harness/netns.h"
#include "harness/program.h"
#include "harness/wait.h"
#include "harness/wire.h"

namespace {

// Sound on, one server that answers at once.
constexpr char kAnsweringList[] = "3\r\n0\r\n1\r\n127.0.0.1\r\n";

constexpr char kAboutCaption[] = "About Quorvane";

// More than the toolkit's double-click interval.
constexpr int kDoubleClickMs = 800;

}  // namespace

class CTestDesktop : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void ProbingPictureWhileTheProbeBlocks();
    void InputWaitsForTheProbe();
    void CloseDuringAddsProbe();
    void HeldRightClicksCountOnce();
    void EndWhileAHeldClicksBoxIsOpen();
    void DialogFrameAndBringingItBack();
    void WaysOut_data();
    void WaysOut();
    void StartupFailureBox_data();
    void StartupFailureBox();
    void NoNotificationArea();
    void WithoutSessionBus();
    void cleanupTestCase();

private:
    // Right clicks on the icon during the first wait of a tick with one silent server: three
    // requests 5 s apart. Returns the About box they bring up once the tick is over.
    xcb_window_t AboutFromHeldRightClicks(CProgram& program, CCapture& capture,
                                          const QString& strServer, int nClicks);

    std::unique_ptr<CDesktop> m_pDesktop;
};

void CTestDesktop::initTestCase() {
    if (!OnlyLoopback()) QSKIP("real echo requests only in a namespace that holds nothing but lo");
    m_pDesktop = std::make_unique<CDesktop>();
    QVERIFY2(m_pDesktop->IsUp(),
             "no desktop session (Xvfb, dbus-daemon, icewm with its notification area)");
}

void CTestDesktop::cleanupTestCase() { m_pDesktop.reset(); }

void CTestDesktop::ProbingPictureWhileTheProbeBlocks() {
    CCapture capture;
    if (!capture.IsOpen()) QSKIP("no packet capture here (needs CAP_NET_RAW)");
    CSilentServers silent({"127.0.0.20"});
    QVERIFY(silent.IsSet());
    const QByteArray list("3\r\n0\r\n1\r\n127.0.0.20\r\n");
    CProgram program(list, m_pDesktop->Session());
    QVERIFY(program.Started());

    const xcb_window_t icon = m_pDesktop->TrayIcon(10000);
    QVERIFY2(icon != XCB_NONE, qPrintable(program.Outcome()));
    // Loaded: waiting for the first tick.
    QElapsedTimer clock;
    clock.start();
    EPicture picture = EPicture::None;
    while ((picture = m_pDesktop->Picture(icon)) != EPicture::Waiting && clock.elapsed() < 3000)
        Sleep(50);
    QCOMPARE(NameOf(picture), NameOf(EPicture::Waiting));

    // The first tick sends its request and then blocks for its answer: the tray host must
    // show the probing picture the whole time.
    QVERIFY(capture.RunUntilSeen({"127.0.0.20"}, 10.0));
    for (int i = 0; i < 10; ++i) {
        Sleep(200);
        QCOMPARE(NameOf(m_pDesktop->Picture(icon)), NameOf(EPicture::Probing));
    }
    // The docked icon's pictures are read without an image plugin.
    QCOMPARE(program.ImagePlugins(), QStringList());

    // An end request in the middle of the wait ends the program at once, the file as it was.
    clock.restart();
    program.Signal(SIGTERM);
    QVERIFY2(program.EndsWithZero(3000), qPrintable(program.Outcome()));
    const qint64 nEndMs = clock.elapsed();
    qInfo("SIGTERM during a probe's wait: exit code 0 after %lld ms", nEndMs);
    QVERIFY2(nEndMs < 1000, qPrintable(QString::number(nEndMs)));
    QVERIFY2(program.MemoryError().isEmpty(), qPrintable(program.Outcome()));
    QCOMPARE(program.ListFile(), list);
    QCOMPARE(program.Files(), QStringList{"Quorvane.Lst"});
    // No request after the first: the tries left were abandoned, not sent.
    capture.RunUntil(clock.elapsed() / 1000.0 + 1.0);
    QCOMPARE(capture.To({"127.0.0.20"}).size(), 1);
}

void CTestDesktop::InputWaitsForTheProbe() {
    CCapture capture;
    if (!capture.IsOpen()) QSKIP("no packet capture here (needs CAP_NET_RAW)");
    QElapsedTimer clock;  // as the capture's
    clock.start();
    CSilentServers silent({"127.0.0.22"});
    QVERIFY(silent.IsSet());
    // One silent server, Cycle on No Contact off: each tick sends three requests, 5 s apart.
    CProgram program("3\r\n0\r\n0\r\n127.0.0.22\r\n", m_pDesktop->Session());
    QVERIFY(program.Started());
    const xcb_window_t icon = m_pDesktop->TrayIcon(10000);
    QVERIFY2(icon != XCB_NONE, qPrintable(program.Outcome()));

    // A click in the first wait is the user's, held until the tick is over: no handler runs
    // inside another, and the requests keep their rhythm.
    QVERIFY(capture.RunUntilSeen({"127.0.0.22"}, 10.0));
    Sleep(500);
    QVERIFY(m_pDesktop->Click(icon));
    // The capture tells the time of a request as it reads it: it reads all along.
    xcb_window_t dialog = XCB_NONE;
    while ((dialog = m_pDesktop->WindowNamed(kDialogCaption, 0)) == XCB_NONE &&
           clock.elapsed() < 40000)
        capture.RunUntil(clock.elapsed() / 1000.0 + 0.05);
    const double dialogAt = clock.elapsed() / 1000.0;
    QVERIFY2(dialog != XCB_NONE, qPrintable(program.Outcome()));
    capture.RunUntil(dialogAt + 1.0);
    const QVector<CSeen> requests = capture.To({"127.0.0.22"});
    QCOMPARE(requests.size(), 3);
    for (int i = 1; i < requests.size(); ++i) {
        const double gap = requests[i].seconds - requests[i - 1].seconds;
        QVERIFY2(gap > 4.8 && gap < 5.6, qPrintable(QString::number(gap)));
    }
    const double afterTick = dialogAt - requests.last().seconds;
    qInfo("a click during a probe: the dialog came %.2f s after the tick's last request",
          afterTick);
    QVERIFY2(afterTick > 4.8 && afterTick < 6.5, qPrintable(QString::number(afterTick)));
    QVERIFY2(program.EndCleanly(), qPrintable(program.Outcome()));
}

void CTestDesktop::CloseDuringAddsProbe() {
    CCapture capture;
    if (!capture.IsOpen()) QSKIP("no packet capture here (needs CAP_NET_RAW)");
    CSilentServers silent({"127.0.0.23"});
    QVERIFY(silent.IsSet());
    CProgram program(kAnsweringList, m_pDesktop->Session());
    QVERIFY(program.Started());
    const xcb_window_t dialog = m_pDesktop->OpenDialog();
    QVERIFY2(dialog != XCB_NONE, qPrintable(program.Outcome()));
    // From the Delay edit on to New Server, then Add a server that never answers.
    QVERIFY(m_pDesktop->Keys(dialog, "Tab"));
    QVERIFY(m_pDesktop->Xdotool({"key", "Tab", "Tab"}));
    QVERIFY(m_pDesktop->Xdotool({"type", "127.0.0.23"}));
    QVERIFY(m_pDesktop->Xdotool({"key", "alt+a"}));
    QVERIFY2(capture.RunUntilSeen({"127.0.0.23"}, 10.0), qPrintable(program.Outcome()));

    // The window manager's close in the middle of the wait ends the program at once.
    Sleep(500);
    QElapsedTimer clock;
    clock.start();
    m_pDesktop->SendDeleteWindow(dialog);
    QVERIFY2(program.EndsWithZero(3000), qPrintable(program.Outcome()));
    const qint64 nEndMs = clock.elapsed();
    qInfo("close during Add's probe: exit code 0 after %lld ms", nEndMs);
    QVERIFY2(nEndMs < 1000, qPrintable(QString::number(nEndMs)));
    QVERIFY2(program.MemoryError().isEmpty(), qPrintable(program.Outcome()));
    QCOMPARE(program.ListFile(), QByteArray(kAnsweringList));
}

xcb_window_t CTestDesktop::AboutFromHeldRightClicks(CProgram& program, CCapture& capture,
                                                    const QString& strServer, int nClicks) {
    const xcb_window_t icon = m_pDesktop->TrayIcon(10000);
    if (icon == XCB_NONE || !capture.RunUntilSeen({strServer}, 10.0)) return XCB_NONE;
    for (int i = 0; i < nClicks; ++i) {
        // Apart by more than a double click.
        Sleep(kDoubleClickMs + 100);
        if (!m_pDesktop->ClickAt(m_pDesktop->Geometry(icon).center(), 3)) return XCB_NONE;
    }
    // Nothing shows before the tick's last wait is over.
    if (m_pDesktop->WindowNamed(kAboutCaption, 0) != XCB_NONE) return XCB_NONE;
    // The capture goes on reading meanwhile, so that it tells each request's time.
    xcb_window_t about = XCB_NONE;
    QElapsedTimer clock;
    clock.start();
    while ((about = m_pDesktop->WindowNamed(kAboutCaption, 0)) == XCB_NONE &&
           clock.elapsed() < 20000)
        capture.RunUntil(capture.Now() + 0.05);
    if (about == XCB_NONE) qWarning("no About box: %s", qPrintable(program.Outcome()));
    return about;
}

void CTestDesktop::HeldRightClicksCountOnce() {
    CCapture capture;
    if (!capture.IsOpen()) QSKIP("no packet capture here (needs CAP_NET_RAW)");
    CSilentServers silent({"127.0.0.26"});
    QVERIFY(silent.IsSet());
    CProgram program("3\r\n0\r\n0\r\n127.0.0.26\r\n", m_pDesktop->Session());
    QVERIFY(program.Started());

    // Three right clicks while a probe waits ask for the About box once.
    const xcb_window_t about = AboutFromHeldRightClicks(program, capture, "127.0.0.26", 3);
    QVERIFY(about != XCB_NONE);
    QVERIFY(m_pDesktop->Keys(about, "Return"));
    QElapsedTimer clock;
    clock.start();
    while (m_pDesktop->IsViewable(about) && clock.elapsed() < 5000) Sleep(50);
    QVERIFY(!m_pDesktop->IsViewable(about));
    QCOMPARE(m_pDesktop->WindowNamed(kAboutCaption, 2000), XCB_NONE);
    QVERIFY2(program.EndCleanly(), qPrintable(program.Outcome()));
}

void CTestDesktop::EndWhileAHeldClicksBoxIsOpen() {
    CCapture capture;
    if (!capture.IsOpen()) QSKIP("no packet capture here (needs CAP_NET_RAW)");
    CSilentServers silent({"127.0.0.27"});
    QVERIFY(silent.IsSet());
    const QByteArray list("3\r\n0\r\n0\r\n127.0.0.27\r\n");
    CProgram program(list, m_pDesktop->Session());
    QVERIFY(program.Started());

    // The About box a held click brought up stays open into the next tick, which probes.
    const xcb_window_t about = AboutFromHeldRightClicks(program, capture, "127.0.0.27", 1);
    QVERIFY(about != XCB_NONE);
    const int nBefore = capture.To({"127.0.0.27"}).size();
    QElapsedTimer wait;
    wait.start();
    while (capture.To({"127.0.0.27"}).size() == nBefore && wait.elapsed() < 6000)
        capture.RunUntil(capture.Now() + 0.05);
    QCOMPARE(capture.To({"127.0.0.27"}).size(), nBefore + 1);
    QVERIFY(m_pDesktop->IsViewable(about));

    // An end request in that probe's wait ends the program at once.
    Sleep(500);
    QElapsedTimer clock;
    clock.start();
    program.Signal(SIGTERM);
    QVERIFY2(program.EndsWithZero(3000), qPrintable(program.Outcome()));
    const qint64 nEndMs = clock.elapsed();
    qInfo("SIGTERM in a probe under a held click's About box: exit code 0 after %lld ms", nEndMs);
    QVERIFY2(nEndMs < 1000, qPrintable(QString::number(nEndMs)));
    QVERIFY2(program.MemoryError().isEmpty(), qPrintable(program.Outcome()));
    QCOMPARE(program.ListFile(), list);
}

void CTestDesktop::DialogFrameAndBringingItBack() {
    CProgram program(kAnsweringList, m_pDesktop->Session());
    QVERIFY(program.Started());
    const xcb_window_t dialog = m_pDesktop->OpenDialog();
    QVERIFY2(dialog != XCB_NONE, qPrintable(program.Outcome()));

    // A caption and a border, movable only: no minimise, maximise or close box.
    const std::vector<uint32_t> hints = m_pDesktop->Cardinals(dialog, "_MOTIF_WM_HINTS");
    QCOMPARE(hints, (std::vector<uint32_t>{3, 4, 10, 0, 0}));
    for (const char* action : {"_NET_WM_ACTION_MINIMIZE", "_NET_WM_ACTION_MAXIMIZE_HORZ",
                               "_NET_WM_ACTION_MAXIMIZE_VERT", "_NET_WM_ACTION_RESIZE"})
        QVERIFY2(!m_pDesktop->HasAtom(dialog, "_NET_WM_ALLOWED_ACTIONS", action), action);

    // Buried under another program's window, the open dialog comes back in front with a
    // left click, and stays as the user left it.
    const xcb_window_t cover = m_pDesktop->Cover(QRect(50, 50, 900, 600));
    QElapsedTimer clock;
    clock.start();
    while (!m_pDesktop->IsAbove(cover, dialog) && clock.elapsed() < 5000) Sleep(50);
    QVERIFY(m_pDesktop->IsAbove(cover, dialog));
    // A second click soon after the first would be a double click, which means nothing.
    Sleep(kDoubleClickMs);
    QVERIFY(m_pDesktop->Click(m_pDesktop->TrayIcon(5000)));
    clock.restart();
    while (!m_pDesktop->IsAbove(dialog, cover) && clock.elapsed() < 5000) Sleep(50);
    QVERIFY(m_pDesktop->IsAbove(dialog, cover));
    m_pDesktop->Destroy(cover);
    QVERIFY2(program.EndCleanly(), qPrintable(program.Outcome()));
}

void CTestDesktop::WaysOut_data() {
    QTest::addColumn<QString>("how");
    QTest::newRow("Exit") << "Exit";
    QTest::newRow("Escape") << "Escape";
    QTest::newRow("window manager's close") << "close";
    QTest::newRow("SIGTERM") << "SIGTERM";
    QTest::newRow("SIGINT") << "SIGINT";
    QTest::newRow("SIGHUP") << "SIGHUP";
}

void CTestDesktop::WaysOut() {
    QFETCH(QString, how);
    CCapture capture;
    if (!capture.IsOpen()) QSKIP("no packet capture here (needs CAP_NET_RAW)");
    CProgram program(kAnsweringList, m_pDesktop->Session());
    QVERIFY(program.Started());
    // One probe done with the sound on: the sonar has played.
    QVERIFY(capture.RunUntilSeen({"127.0.0.1"}, 10.0));
    Sleep(300);

    QElapsedTimer clock;
    if (how == "SIGTERM" || how == "SIGINT" || how == "SIGHUP") {
        clock.start();
        program.Signal(how == "SIGTERM" ? SIGTERM : how == "SIGINT" ? SIGINT : SIGHUP);
    } else {
        const xcb_window_t dialog = m_pDesktop->OpenDialog();
        QVERIFY2(dialog != XCB_NONE, qPrintable(program.Outcome()));
        clock.start();
        if (how == "close")
            m_pDesktop->SendDeleteWindow(dialog);
        else
            QVERIFY(m_pDesktop->Keys(dialog, how == "Exit" ? "alt+x" : "Escape"));
    }
    QVERIFY2(program.EndsWithZero(5000), qPrintable(program.Outcome()));
    qInfo("%s: exit code 0 after %lld ms", qPrintable(how), clock.elapsed());
    QVERIFY2(program.MemoryError().isEmpty(), qPrintable(program.Outcome()));
    QCOMPARE(program.ListFile(), QByteArray(kAnsweringList));
}

void CTestDesktop::StartupFailureBox_data() {
    QTest::addColumn<bool>("bSignal");
    QTest::newRow("box closed") << false;
    QTest::newRow("SIGTERM while the box is open") << true;
}

void CTestDesktop::StartupFailureBox() {
    QFETCH(bool, bSignal);
    if (geteuid() != 0) QSKIP("taking the ICMP permissions away needs root");
    // A program that may open no ICMP socket of either kind: its group is above every
    // group allowed echo sockets here, and the raw-socket capability is gone. It stays in
    // this namespace, so it reaches the X server and the bus by their abstract sockets; a
    // namespace of its own could reach X only through /tmp's socket file, which an X server
    // starting in another namespace takes over.
    CProgram program(kAnsweringList, m_pDesktop->Session(),
                     {"setpriv", "--regid", "3000000000", "--clear-groups", "--bounding-set",
                      "-net_raw", "--inh-caps", "-net_raw"});
    QVERIFY(program.Started());
    const xcb_window_t box = m_pDesktop->WindowNamed("Sonar Error", 15000);
    QVERIFY2(box != XCB_NONE, qPrintable(program.Outcome()));

    QElapsedTimer clock;
    clock.start();
    if (bSignal)
        program.Signal(SIGTERM);
    else
        QVERIFY(m_pDesktop->Keys(box, "Return"));
    QVERIFY2(program.EndsWithZero(5000), qPrintable(program.Outcome()));
    qInfo("start-up failure box, %s: exit code 0 after %lld ms", bSignal ? "SIGTERM" : "closed",
          clock.elapsed());
    QVERIFY2(program.MemoryError().isEmpty(), qPrintable(program.Outcome()));
}

void CTestDesktop::NoNotificationArea() {
    // A session of its own, with no tray host yet (a GNOME session without the extension).
    CDesktop desktop(false);
    QVERIFY(desktop.IsUp());
    // The line gives the hint for the desktop the user is on, and only for it.
    const QByteArray line = "no notification area is running";
    const QByteArray gnomeHint = "(GNOME needs the AppIndicator extension)";
    CProgram elsewhere(kAnsweringList, desktop.Session() << "XDG_CURRENT_DESKTOP=KDE");
    CProgram program(kAnsweringList, desktop.Session() << "XDG_CURRENT_DESKTOP=ubuntu:GNOME");
    QVERIFY(program.Started() && elsewhere.Started());
    QElapsedTimer clock;
    clock.start();
    while (!(program.StdErr().contains(line) && elsewhere.StdErr().contains(line)) &&
           clock.elapsed() < 10000)
        Sleep(100);
    QVERIFY2(program.StdErr().count(line) == 1, qPrintable(program.Outcome()));
    QVERIFY2(program.StdErr().contains(line + ": the icon appears once one starts " + gnomeHint),
             qPrintable(program.Outcome()));
    QVERIFY2(elsewhere.StdErr().contains(line + ": the icon appears once one starts; the cycle"),
             qPrintable(elsewhere.Outcome()));
    QVERIFY2(elsewhere.EndCleanly(), qPrintable(elsewhere.Outcome()));
    // One that starts later gets the icon, and nothing more is said.
    QVERIFY(desktop.StartTray());
    xcb_window_t icon = desktop.TrayIcon(10000);
    QVERIFY(icon != XCB_NONE);
    // A right click there opens the About box directly: XEmbed trays have no menus.
    QVERIFY(desktop.ClickAt(desktop.Geometry(icon).center(), 3));
    const xcb_window_t about = desktop.WindowNamed("About Quorvane", 10000);
    QVERIFY2(about != XCB_NONE, qPrintable(program.Outcome()));
    QVERIFY(desktop.Keys(about, "Return"));
    // The tray restarted gets the icon again.
    QVERIFY(desktop.StopWindowManager());
    QVERIFY(desktop.StartTray());
    icon = desktop.TrayIcon(10000);
    QVERIFY2(icon != XCB_NONE, qPrintable(program.Outcome()));
    Sleep(1000);
    QCOMPARE(program.StdErr().count(line), 1);
    QVERIFY2(program.EndCleanly(), qPrintable(program.Outcome()));
}

void CTestDesktop::WithoutSessionBus() {
    // A session bus that is not there: the XEmbed tray is all there is, and it is enough.
    QStringList session = m_pDesktop->Session();
    session << "DBUS_SESSION_BUS_ADDRESS=unix:path=" + QDir::temp().filePath("no-such-bus");
    CProgram program(kAnsweringList, session);
    QVERIFY(program.Started());
    const xcb_window_t icon = m_pDesktop->TrayIcon(10000);
    QVERIFY2(icon != XCB_NONE, qPrintable(program.Outcome()));
    QVERIFY(!program.StdErr().contains("notification area"));
    QVERIFY2(program.EndCleanly(), qPrintable(program.Outcome()));
}

QTEST_APPLESS_MAIN(CTestDesktop)
#include "test_desktop.moc"
