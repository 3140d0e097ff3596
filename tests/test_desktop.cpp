// The real program on an X11 desktop (Xvfb and a window manager with a notification area) in
// the loopback-only namespace: what the tray host shows while a probe blocks the program, the
// dialog's frame, bringing the open dialog back, and every way out ending cleanly once the
// sonar has played.

#include <xcb/xcb.h>

#include <QElapsedTimer>
#include <QThread>
#include <QtTest/QtTest>
#include <cstdlib>
#include <memory>
#include <vector>

#include "netns.h"
#include "wire.h"

namespace {

constexpr char kDialogCaption[] = "Quorvane by Harrowbecks Software, Inc.";
// Sound on, one server that answers at once.
constexpr char kAnsweringList[] = "3\r\n0\r\n1\r\n127.0.0.1\r\n";

void Sleep(int nMs) { QThread::msleep(static_cast<unsigned long>(nMs)); }

// More than the toolkit's double-click interval.
constexpr int kDoubleClickMs = 800;

// The tray pictures, told apart by their colours: the waiting disc is dark green with a
// bright sweep, the probing one the other way round, the idle one has a red badge.
enum class EPicture { None, Idle, Waiting, Probing };

const char* NameOf(EPicture picture) {
    switch (picture) {
        case EPicture::Idle:
            return "idle";
        case EPicture::Waiting:
            return "waiting";
        case EPicture::Probing:
            return "probing";
        default:
            return "none";
    }
}

// One X server with a window manager and a notification area, and a connection to it.
class CDesktop {
public:
    // A session with or without a notification area.
    explicit CDesktop(bool bWithTray = true) {
        m_server.start("Xvfb",
                       {"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
        if (!m_server.waitForStarted(5000)) return;
        QElapsedTimer clock;
        clock.start();
        QByteArray number;
        while (!number.contains('\n') && clock.elapsed() < 10000 &&
               m_server.state() == QProcess::Running) {
            m_server.waitForReadyRead(200);
            number += m_server.readAllStandardOutput();
        }
        if (!number.contains('\n')) return;
        m_strDisplay = ":" + QString::fromLatin1(number.trimmed());
        m_pConnection = xcb_connect(m_strDisplay.toLatin1().constData(), nullptr);
        if (xcb_connection_has_error(m_pConnection) != 0) return;
        m_root = xcb_setup_roots_iterator(xcb_get_setup(m_pConnection)).data->root;

        // The session's message bus, which every desktop has and Qt looks for.
        m_bus.start("dbus-daemon", {"--session", "--nofork", "--nopidfile", "--print-address"});
        QByteArray address;
        while (!address.contains('\n') && clock.elapsed() < 10000 &&
               m_bus.state() != QProcess::NotRunning) {
            m_bus.waitForReadyRead(200);
            address += m_bus.readAllStandardOutput();
        }
        if (!address.contains('\n')) return;
        m_strBus = QString::fromLatin1(address.trimmed());

        m_bUp = !bWithTray || StartTray();
    }
    // Starts the window manager, whose notification area is the tray host; true once it owns
    // the tray selection.
    bool StartTray() {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DISPLAY", m_strDisplay);
        env.insert("DBUS_SESSION_BUS_ADDRESS", m_strBus);
        env.insert("HOME", m_home.path());
        m_wm.setProcessEnvironment(env);
        m_wm.setProcessChannelMode(QProcess::MergedChannels);
        m_wm.start("icewm", {});
        if (!m_wm.waitForStarted(5000)) return false;
        const xcb_atom_t tray = Atom("_NET_SYSTEM_TRAY_S0");
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 15000) {
            std::unique_ptr<xcb_get_selection_owner_reply_t, decltype(&std::free)> owner(
                xcb_get_selection_owner_reply(
                    m_pConnection, xcb_get_selection_owner(m_pConnection, tray), nullptr),
                &std::free);
            if (owner && owner->owner != XCB_NONE) return true;
            Sleep(100);
        }
        return false;
    }
    ~CDesktop() {
        if (m_pConnection != nullptr) xcb_disconnect(m_pConnection);
        for (QProcess* process : {&m_wm, &m_bus, &m_server}) {
            if (process->state() == QProcess::NotRunning) continue;
            process->terminate();
            if (!process->waitForFinished(3000)) {
                process->kill();
                process->waitForFinished();
            }
        }
    }
    CDesktop(const CDesktop&) = delete;
    CDesktop& operator=(const CDesktop&) = delete;

    bool IsUp() const { return m_bUp; }
    // What a program started in this session has in its environment.
    QStringList Session() const {
        return {"QT_QPA_PLATFORM=xcb", "DISPLAY=" + m_strDisplay,
                "DBUS_SESSION_BUS_ADDRESS=" + m_strBus};
    }

    xcb_atom_t Atom(const char* pszName) {
        std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
            xcb_intern_atom_reply(
                m_pConnection,
                xcb_intern_atom(m_pConnection, 0, static_cast<uint16_t>(std::strlen(pszName)),
                                pszName),
                nullptr),
            &std::free);
        return reply ? reply->atom : XCB_NONE;
    }

    QByteArray Property(xcb_window_t window, const char* pszName) {
        std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> reply(
            xcb_get_property_reply(m_pConnection,
                                   xcb_get_property(m_pConnection, 0, window, Atom(pszName),
                                                    XCB_GET_PROPERTY_TYPE_ANY, 0, 4096),
                                   nullptr),
            &std::free);
        if (!reply) return {};
        return QByteArray(static_cast<const char*>(xcb_get_property_value(reply.get())),
                          xcb_get_property_value_length(reply.get()));
    }
    std::vector<uint32_t> Cardinals(xcb_window_t window, const char* pszName) {
        const QByteArray bytes = Property(window, pszName);
        std::vector<uint32_t> values(static_cast<std::size_t>(bytes.size()) / 4);
        std::memcpy(values.data(), bytes.constData(), values.size() * 4);
        return values;
    }
    bool HasAtom(xcb_window_t window, const char* pszProperty, const char* pszAtom) {
        const std::vector<uint32_t> atoms = Cardinals(window, pszProperty);
        return std::find(atoms.begin(), atoms.end(), Atom(pszAtom)) != atoms.end();
    }

    // The program's icon docked in the notification area.
    xcb_window_t TrayIcon(int nTimeoutMs) {
        return Wait(nTimeoutMs, [this](xcb_window_t window, xcb_window_t parent) {
            if (parent == m_root || !Property(window, "WM_CLASS").startsWith("quorvane"))
                return false;
            const auto geometry = Geometry(window);
            return geometry.width() > 0 && geometry.width() <= 64 && IsViewable(window);
        });
    }
    // A window of the program's, by its caption.
    xcb_window_t WindowNamed(const QByteArray& caption, int nTimeoutMs) {
        return Wait(nTimeoutMs, [this, caption](xcb_window_t window, xcb_window_t) {
            return Property(window, "WM_NAME") == caption && IsViewable(window);
        });
    }

    // On the screen.
    QRect Geometry(xcb_window_t window) {
        std::unique_ptr<xcb_get_geometry_reply_t, decltype(&std::free)> geometry(
            xcb_get_geometry_reply(m_pConnection, xcb_get_geometry(m_pConnection, window), nullptr),
            &std::free);
        if (!geometry) return {};
        std::unique_ptr<xcb_translate_coordinates_reply_t, decltype(&std::free)> at(
            xcb_translate_coordinates_reply(
                m_pConnection, xcb_translate_coordinates(m_pConnection, window, m_root, 0, 0),
                nullptr),
            &std::free);
        if (!at) return {};
        return QRect(at->dst_x, at->dst_y, geometry->width, geometry->height);
    }
    bool IsViewable(xcb_window_t window) {
        std::unique_ptr<xcb_get_window_attributes_reply_t, decltype(&std::free)> attributes(
            xcb_get_window_attributes_reply(
                m_pConnection, xcb_get_window_attributes(m_pConnection, window), nullptr),
            &std::free);
        return attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
    }

    // The picture a window shows now.
    EPicture Picture(xcb_window_t window) {
        const QRect geometry = Geometry(window);
        if (geometry.isEmpty()) return EPicture::None;
        std::unique_ptr<xcb_get_image_reply_t, decltype(&std::free)> image(
            xcb_get_image_reply(m_pConnection,
                                xcb_get_image(m_pConnection, XCB_IMAGE_FORMAT_Z_PIXMAP, window, 0,
                                              0, static_cast<uint16_t>(geometry.width()),
                                              static_cast<uint16_t>(geometry.height()), ~0u),
                                nullptr),
            &std::free);
        if (!image ||
            xcb_get_image_data_length(image.get()) < geometry.width() * geometry.height() * 4)
            return EPicture::None;
        const uint8_t* pixels = xcb_get_image_data(image.get());
        int nBright = 0, nDark = 0, nRed = 0;
        for (int i = 0; i < geometry.width() * geometry.height(); ++i) {
            const int b = pixels[4 * i], g = pixels[4 * i + 1], r = pixels[4 * i + 2];
            if (r < 100 && b < 100 && g > 200) ++nBright;
            if (r < 70 && b < 70 && g > 90 && g < 170) ++nDark;
            if (r > 180 && g < 90 && b < 90) ++nRed;
        }
        if (nRed > 4) return EPicture::Idle;
        if (nBright > 2 * nDark) return EPicture::Probing;
        if (nDark > 2 * nBright) return EPicture::Waiting;
        return EPicture::None;
    }

    // Real input, as the user's own.
    bool Xdotool(const QStringList& args) {
        QProcess xdotool;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DISPLAY", m_strDisplay);
        xdotool.setProcessEnvironment(env);
        xdotool.start("xdotool", args);
        return xdotool.waitForFinished(5000) && xdotool.exitCode() == 0;
    }
    bool Click(xcb_window_t window) {
        const QPoint centre = Geometry(window).center();
        return Xdotool(
            {"mousemove", QString::number(centre.x()), QString::number(centre.y()), "click", "1"});
    }
    bool Keys(xcb_window_t window, const QString& keys) {
        return Xdotool({"windowactivate", "--sync", QString::number(window)}) &&
               Xdotool({"key", "--clearmodifiers", keys});
    }

    // What a window manager sends when the user closes a window.
    void SendDeleteWindow(xcb_window_t window) {
        xcb_client_message_event_t event{};
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 32;
        event.window = window;
        event.type = Atom("WM_PROTOCOLS");
        event.data.data32[0] = Atom("WM_DELETE_WINDOW");
        event.data.data32[1] = XCB_CURRENT_TIME;
        xcb_send_event(m_pConnection, 0, window, XCB_EVENT_MASK_NO_EVENT,
                       reinterpret_cast<const char*>(&event));
        xcb_flush(m_pConnection);
    }

    // A window of another program's, over the given area.
    xcb_window_t Cover(const QRect& area) {
        const xcb_window_t window = xcb_generate_id(m_pConnection);
        xcb_create_window(m_pConnection, XCB_COPY_FROM_PARENT, window, m_root,
                          static_cast<int16_t>(area.x()), static_cast<int16_t>(area.y()),
                          static_cast<uint16_t>(area.width()), static_cast<uint16_t>(area.height()),
                          0, XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
        static constexpr char kName[] = "cover";
        xcb_change_property(m_pConnection, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_NAME,
                            XCB_ATOM_STRING, 8, sizeof kName - 1, kName);
        static constexpr char kClass[] = "cover\0Cover";
        xcb_change_property(m_pConnection, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_CLASS,
                            XCB_ATOM_STRING, 8, sizeof kClass, kClass);
        // Takes the input focus like any application window.
        const uint32_t hints[9] = {1, 1, 0, 0, 0, 0, 0, 0, 0};
        xcb_change_property(m_pConnection, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_HINTS,
                            XCB_ATOM_WM_HINTS, 32, 9, hints);
        xcb_map_window(m_pConnection, window);
        xcb_flush(m_pConnection);
        return window;
    }
    void Destroy(xcb_window_t window) {
        xcb_destroy_window(m_pConnection, window);
        xcb_flush(m_pConnection);
    }
    // Whether the window manager stacks upper above lower (both client windows).
    bool IsAbove(xcb_window_t upper, xcb_window_t lower) {
        const std::vector<uint32_t> stacking = Cardinals(m_root, "_NET_CLIENT_LIST_STACKING");
        const auto u = std::find(stacking.begin(), stacking.end(), upper);
        const auto l = std::find(stacking.begin(), stacking.end(), lower);
        return u != stacking.end() && l != stacking.end() && u > l;
    }

private:
    template <typename Match>
    xcb_window_t Wait(int nTimeoutMs, Match match) {
        QElapsedTimer clock;
        clock.start();
        do {
            if (const xcb_window_t found = Find(m_root, match)) return found;
            Sleep(100);
        } while (clock.elapsed() < nTimeoutMs);
        return XCB_NONE;
    }
    template <typename Match>
    xcb_window_t Find(xcb_window_t parent, Match& match) {
        std::unique_ptr<xcb_query_tree_reply_t, decltype(&std::free)> tree(
            xcb_query_tree_reply(m_pConnection, xcb_query_tree(m_pConnection, parent), nullptr),
            &std::free);
        if (!tree) return XCB_NONE;
        const xcb_window_t* children = xcb_query_tree_children(tree.get());
        for (int i = 0; i < xcb_query_tree_children_length(tree.get()); ++i) {
            if (match(children[i], parent)) return children[i];
            if (const xcb_window_t found = Find(children[i], match)) return found;
        }
        return XCB_NONE;
    }

    QProcess m_server;
    QProcess m_bus;
    QProcess m_wm;
    QTemporaryDir m_home;
    QString m_strDisplay;
    QString m_strBus;
    xcb_connection_t* m_pConnection = nullptr;
    xcb_window_t m_root = XCB_NONE;
    bool m_bUp = false;
};

}  // namespace

class CTestDesktop : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void ProbingPictureWhileTheProbeBlocks();
    void InputWaitsForTheProbe();
    void CloseDuringAddsProbe();
    void DialogFrameAndBringingItBack();
    void WaysOut_data();
    void WaysOut();
    void StartupFailureBox_data();
    void StartupFailureBox();
    void NoNotificationArea();
    void cleanupTestCase();

private:
    // Opens the dialog with a left click on the tray icon.
    xcb_window_t OpenDialog();

    std::unique_ptr<CDesktop> m_pDesktop;
};

void CTestDesktop::initTestCase() {
    if (!OnlyLoopback()) QSKIP("real echo requests only in a namespace that holds nothing but lo");
    m_pDesktop = std::make_unique<CDesktop>();
    QVERIFY2(m_pDesktop->IsUp(),
             "no desktop session (Xvfb, dbus-daemon, icewm with its notification area)");
}

void CTestDesktop::cleanupTestCase() { m_pDesktop.reset(); }

xcb_window_t CTestDesktop::OpenDialog() {
    const xcb_window_t icon = m_pDesktop->TrayIcon(10000);
    if (icon == XCB_NONE || !m_pDesktop->Click(icon)) return XCB_NONE;
    return m_pDesktop->WindowNamed(kDialogCaption, 10000);
}

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
    const xcb_window_t dialog = OpenDialog();
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

void CTestDesktop::DialogFrameAndBringingItBack() {
    CProgram program(kAnsweringList, m_pDesktop->Session());
    QVERIFY(program.Started());
    const xcb_window_t dialog = OpenDialog();
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
        const xcb_window_t dialog = OpenDialog();
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
    // A namespace of its own where this user may open no ICMP socket of either kind: echo
    // sockets are off and the raw-socket capability is gone.
    CProgram program(kAnsweringList, m_pDesktop->Session(),
                     {"unshare", "-n", "sh", "-c",
                      "ip link set lo up && echo '1 0' >/proc/sys/net/ipv4/ping_group_range && "
                      "exec setpriv --bounding-set -net_raw --inh-caps -net_raw \"$0\""});
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
    CProgram program(kAnsweringList, desktop.Session());
    QVERIFY(program.Started());
    const QByteArray line = "no notification area is running";
    QElapsedTimer clock;
    clock.start();
    while (!program.StdErr().contains(line) && clock.elapsed() < 10000) Sleep(100);
    QVERIFY2(program.StdErr().count(line) == 1, qPrintable(program.Outcome()));
    // One that starts later gets the icon, and nothing more is said.
    QVERIFY(desktop.StartTray());
    QVERIFY(desktop.TrayIcon(10000) != XCB_NONE);
    Sleep(3500);
    QCOMPARE(program.StdErr().count(line), 1);
    QVERIFY2(program.EndCleanly(), qPrintable(program.Outcome()));
}

QTEST_APPLESS_MAIN(CTestDesktop)
#include "test_desktop.moc"
