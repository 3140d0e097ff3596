// The real program with the tray hosts that show the icon for it through the session bus
// (StatusNotifierItem): the panels of Xfce and LXQt, on an X11 desktop in the loopback-only
// namespace. What the user sees is judged from the host's own pixels: the icon appearing when
// the host starts after the program and again after it restarts, both clicks, the probing
// picture while a request waits; and on the bus, that a host's read is answered during that
// wait, that icon changes make no connections, and that a stopped host never slows the cycle.

#include <signal.h>

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QElapsedTimer>
#include <QtTest/QtTest>

#include "desktop.h"
#include "netns.h"
#include "wire.h"

namespace {

constexpr char kAboutCaption[] = "About Quorvane";
const QString kWatcher = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kItemInterface = QStringLiteral("org.kde.StatusNotifierItem");

// The session bus as a test sees it: a connection of its own.
class CBus {
public:
    explicit CBus(const QString& strAddress)
        : m_strAddress(strAddress),
          m_connection(QDBusConnection::connectToBus(strAddress, NextName())) {}
    ~CBus() { QDBusConnection::disconnectFromBus(m_connection.name()); }
    CBus(const CBus&) = delete;
    CBus& operator=(const CBus&) = delete;

    bool IsConnected() const { return m_connection.isConnected(); }
    QDBusConnection& Connection() { return m_connection; }

    // The unique name that owns a name; empty for none.
    QString Owner(const QString& strName) {
        const QDBusReply<QString> reply = m_connection.interface()->serviceOwner(strName);
        return reply.isValid() ? reply.value() : QString();
    }
    uint Pid(const QString& strName) {
        const QDBusReply<uint> reply = m_connection.interface()->servicePid(strName);
        return reply.isValid() ? reply.value() : 0;
    }
    // A property, read as a host reads it; invalid when no answer came in time.
    QVariant Get(const QString& strService, const QString& strPath, const QString& strInterface,
                 const QString& strName, int nTimeoutMs = 5000) {
        QDBusMessage call = QDBusMessage::createMethodCall(
            strService, strPath, QStringLiteral("org.freedesktop.DBus.Properties"),
            QStringLiteral("Get"));
        call << strInterface << strName;
        const QDBusMessage reply = m_connection.call(call, QDBus::Block, nTimeoutMs);
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return {};
        return reply.arguments().first().value<QDBusVariant>().variant();
    }
    // The items the watcher has, as "unique name/path".
    QStringList RegisteredItems() {
        return Get(kWatcher, QStringLiteral("/StatusNotifierWatcher"), kWatcher,
                   QStringLiteral("RegisteredStatusNotifierItems"))
            .toStringList();
    }
    // The number the bus gives the next connection (":1.N"): one made and closed to learn it.
    int NextConnectionNumber() {
        const QString strName = NextName();
        const QString strUnique =
            QDBusConnection::connectToBus(m_strAddress, strName).baseService();
        QDBusConnection::disconnectFromBus(strName);
        return strUnique.section('.', 1).toInt();
    }

private:
    static QString NextName() {
        static int nCount = 0;
        return QStringLiteral("qvtest-%1").arg(++nCount);
    }

    QString m_strAddress;
    QDBusConnection m_connection;
};

// Counts a signal from the bus.
class CSignalCount : public QObject {
    Q_OBJECT
public:
    int m_nCount = 0;
public slots:
    void OnSignal() { ++m_nCount; }
};

// A desktop's panel that holds a notification area and nothing else, with the settings a
// user would have, in the session's home.
class CTrayHost {
public:
    CTrayHost(CDesktop& desktop, CBus& bus, const QString& strName)
        : m_desktop(desktop), m_bus(bus), m_strName(strName) {
        QDir home(desktop.HomePath());
        QString strFile;
        QByteArray config;
        if (strName == "xfce4-panel") {
            // Its settings store, started by the bus, reads them; the systray plugin hosts both
            // XEmbed icons and items.
            strFile = ".config/xfce4/xfconf/xfce-perchannel-xml/xfce4-panel.xml";
            config = R"(<?xml version="1.0" encoding="UTF-8"?>
<channel name="xfce4-panel" version="1.0">
  <property name="configver" type="int" value="2"/>
  <property name="panels" type="array">
    <value type="int" value="1"/>
    <property name="panel-1" type="empty">
      <property name="position" type="string" value="p=8;x=0;y=0"/>
      <property name="length" type="uint" value="100"/>
      <property name="position-locked" type="bool" value="true"/>
      <property name="icon-size" type="uint" value="22"/>
      <property name="size" type="uint" value="32"/>
      <property name="plugin-ids" type="array">
        <value type="int" value="1"/>
      </property>
    </property>
  </property>
  <property name="plugins" type="empty">
    <property name="plugin-1" type="string" value="systray"/>
  </property>
</channel>
)";
        } else {
            strFile = ".config/lxqt/panel.conf";
            config =
                "[General]\n__userfile__=true\npanels=panel1\n\n"
                "[panel1]\nplugins=statusnotifier\nposition=Bottom\npanelSize=32\niconSize=22\n\n"
                "[statusnotifier]\ntype=statusnotifier\n";
        }
        home.mkpath(QFileInfo(home.filePath(strFile)).path());
        QFile file(home.filePath(strFile));
        if (file.open(QIODevice::WriteOnly)) file.write(config);

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const QString& setting : desktop.Session() + desktop.Home())
            env.insert(setting.section('=', 0, 0), setting.section('=', 1));
        // No accessibility bus of its own for the session to clean up after.
        env.insert("NO_AT_BRIDGE", "1");
        m_process.setProcessEnvironment(env);
        m_process.setStandardOutputFile(QProcess::nullDevice());
        m_process.setStandardErrorFile(QProcess::nullDevice());
    }
    ~CTrayHost() {
        if (m_process.state() == QProcess::NotRunning) return;
        m_process.kill();
        m_process.waitForFinished();
    }
    CTrayHost(const CTrayHost&) = delete;
    CTrayHost& operator=(const CTrayHost&) = delete;

    // True once its watcher is on the bus.
    bool Start() {
        m_process.start(m_strName, {});
        return m_process.waitForStarted(5000) &&
               Until(15000, [this] { return !m_bus.Owner(kWatcher).isEmpty(); });
    }
    // True once it has ended and its watcher is gone.
    bool Stop() {
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished();
        }
        return Until(10000, [this] { return m_bus.Owner(kWatcher).isEmpty(); });
    }
    xcb_window_t Panel() { return m_desktop.Panel(m_strName.toLatin1(), 10000); }

    template <typename Condition>
    static bool Until(int nTimeoutMs, Condition condition) {
        QElapsedTimer clock;
        clock.start();
        do {
            if (condition()) return true;
            QTest::qWait(100);
        } while (clock.elapsed() < nTimeoutMs);
        return false;
    }

private:
    CDesktop& m_desktop;
    CBus& m_bus;
    QString m_strName;
    QProcess m_process;
};

// The picture of the first pixmap of that size in an IconPixmap value, a(iiay) of ARGB32 in
// network byte order.
EPicture PictureOf(const QVariant& iconPixmap, int nSize) {
    const QDBusArgument arg = iconPixmap.value<QDBusArgument>();
    EPicture picture = EPicture::None;
    arg.beginArray();
    while (!arg.atEnd()) {
        int nWidth = 0, nHeight = 0;
        QByteArray bytes;
        arg.beginStructure();
        arg >> nWidth >> nHeight >> bytes;
        arg.endStructure();
        if (nWidth != nSize || nHeight != nSize || bytes.size() != nSize * nSize * 4 ||
            picture != EPicture::None)
            continue;
        CPictureCount count;
        for (int i = 0; i < nSize * nSize; ++i) {
            const auto* p = reinterpret_cast<const uint8_t*>(bytes.constData()) + 4 * i;
            if (p[0] > 128) count.Add(p[1], p[2], p[3], QPoint());
        }
        picture = count.Picture();
    }
    arg.endArray();
    return picture;
}

}  // namespace

class CTestSni : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void StartedFirstClicksRestart_data();
    void StartedFirstClicksRestart();
    void ProbeWithTheHostStopped_data();
    void ProbeWithTheHostStopped();

private:
    // Waits until the host shows the item as the only icon of the program's, with the given
    // picture; returns where it is on the screen (empty when it never did).
    QRect WaitForItem(CDesktop& desktop, CBus& bus, CTrayHost& host, EPicture picture);
};

void CTestSni::initTestCase() {
    if (!OnlyLoopback()) QSKIP("real echo requests only in a namespace that holds nothing but lo");
}

QRect CTestSni::WaitForItem(CDesktop& desktop, CBus& bus, CTrayHost& host, EPicture picture) {
    const xcb_window_t panel = host.Panel();
    if (panel == XCB_NONE) {
        qWarning("no panel on the screen");
        return {};
    }
    QRect area;
    QString strLast;
    CTrayHost::Until(10000, [&] {
        const CPictureCount shown = desktop.CountOnScreen(desktop.Geometry(panel));
        const QStringList items = bus.RegisteredItems();
        const bool bDocked = desktop.TrayIcon(0) != XCB_NONE;
        strLast = QStringLiteral("items %1, docked by XEmbed %2, picture %3")
                      .arg(items.join(' '))
                      .arg(bDocked)
                      .arg(QString::fromLatin1(NameOf(shown.Picture())));
        // Registered as an item, and not docked by XEmbed too: one icon, drawn by the host.
        if (items.size() != 1 || bDocked || shown.Picture() != picture) return false;
        area = shown.Area();
        return true;
    });
    if (area.isEmpty()) qWarning("no %s item: %s", NameOf(picture), qPrintable(strLast));
    return area;
}

void CTestSni::StartedFirstClicksRestart_data() {
    QTest::addColumn<QString>("host");
    QTest::newRow("xfce4-panel") << "xfce4-panel";
    QTest::newRow("lxqt-panel") << "lxqt-panel";
}

void CTestSni::StartedFirstClicksRestart() {
    QFETCH(QString, host);
    CDesktop desktop(false);
    QVERIFY(desktop.IsUp());
    QVERIFY(desktop.StartWindowManager());
    CBus bus(desktop.BusAddress());
    QVERIFY(bus.IsConnected());

    // The program first, as at login: one server that answers, a tick every 3 s.
    CProgram program("3\r\n0\r\n0\r\n127.0.0.1\r\n", desktop.Session());
    QVERIFY(program.Started());
    const QByteArray notice = "no notification area is running";
    QVERIFY2(CTrayHost::Until(10000, [&] { return program.StdErr().contains(notice); }),
             qPrintable(program.Outcome()));

    // The host starts and shows the icon.
    CTrayHost tray(desktop, bus, host);
    QVERIFY(tray.Start());
    QRect area = WaitForItem(desktop, bus, tray, EPicture::Waiting);
    QVERIFY2(!area.isEmpty(), qPrintable(program.Outcome()));
    const QString item = bus.RegisteredItems().value(0).section('/', 0, 0);

    // The item names the program, as its title and as its tooltip's, for the host and for
    // a screen reader that reads the panel.
    const QString path = QStringLiteral("/StatusNotifierItem");
    QCOMPARE(bus.Get(item, path, kItemInterface, QStringLiteral("Title")).toString(),
             QString("Quorvane"));
    const QVariant tip = bus.Get(item, path, kItemInterface, QStringLiteral("ToolTip"));
    QVERIFY(tip.canConvert<QDBusArgument>());
    QString strIconName, strTipTitle, strTipText;
    const QDBusArgument tipArg = tip.value<QDBusArgument>();
    tipArg.beginStructure();
    tipArg >> strIconName;
    tipArg.beginArray();
    while (!tipArg.atEnd()) {
        int cx = 0, cy = 0;
        QByteArray pixels;
        tipArg.beginStructure();
        tipArg >> cx >> cy >> pixels;
        tipArg.endStructure();
    }
    tipArg.endArray();
    tipArg >> strTipTitle >> strTipText;
    tipArg.endStructure();
    QCOMPARE(strTipTitle, QString("Quorvane"));

    // Each tick changes the picture twice; none of the changes makes a bus connection.
    CSignalCount newIcons;
    QVERIFY(bus.Connection().connect(item, QString::fromLatin1("/StatusNotifierItem"),
                                     kItemInterface, "NewIcon", &newIcons, SLOT(OnSignal())));
    const int nBefore = bus.NextConnectionNumber();
    QTest::qWait(7000);
    const int nConnections = bus.NextConnectionNumber() - nBefore - 1;
    qInfo("%s: %d icon changes in 7 s, %d bus connections made meanwhile", qPrintable(host),
          newIcons.m_nCount, nConnections);
    QVERIFY2(newIcons.m_nCount >= 4, qPrintable(QString::number(newIcons.m_nCount)));
    QCOMPARE(nConnections, 0);

    // A left click opens the dialog; OK closes it and the cycle goes on.
    QVERIFY(desktop.ClickAt(area.center()));
    const xcb_window_t dialog = desktop.WindowNamed(kDialogCaption, 10000);
    QVERIFY2(dialog != XCB_NONE, qPrintable(program.Outcome()));
    QVERIFY(desktop.Keys(dialog, "Return"));
    QVERIFY(CTrayHost::Until(5000, [&] { return !desktop.IsViewable(dialog); }));

    // A right click shows the item's menu, whose entry opens the About box.
    QVERIFY(desktop.ClickAt(area.center(), 3));
    const xcb_window_t menu = desktop.PopupMenu(5000);
    QVERIFY2(menu != XCB_NONE, "no menu came up");
    QVERIFY(desktop.Click(menu));
    const xcb_window_t about = desktop.WindowNamed(kAboutCaption, 10000);
    QVERIFY2(about != XCB_NONE, qPrintable(program.Outcome()));
    QVERIFY(desktop.Keys(about, "Return"));
    QVERIFY(CTrayHost::Until(5000, [&] { return !desktop.IsViewable(about); }));

    // The host restarted shows the icon again.
    QVERIFY(tray.Stop());
    QVERIFY(tray.Start());
    area = WaitForItem(desktop, bus, tray, EPicture::Waiting);
    QVERIFY2(!area.isEmpty(), qPrintable(program.Outcome()));

    QVERIFY2(program.EndCleanly(), qPrintable(program.Outcome()));
    QCOMPARE(program.StdErr().count(notice), 1);
}

void CTestSni::ProbeWithTheHostStopped_data() { StartedFirstClicksRestart_data(); }

void CTestSni::ProbeWithTheHostStopped() {
    QFETCH(QString, host);
    CCapture capture;
    if (!capture.IsOpen()) QSKIP("no packet capture here (needs CAP_NET_RAW)");
    QElapsedTimer clock;  // as the capture's
    clock.start();
    CSilentServers silent({"127.0.0.24"});
    QVERIFY(silent.IsSet());
    CDesktop desktop(false);
    QVERIFY(desktop.IsUp());
    QVERIFY(desktop.StartWindowManager());
    CBus bus(desktop.BusAddress());
    QVERIFY(bus.IsConnected());
    CTrayHost tray(desktop, bus, host);
    QVERIFY(tray.Start());

    // One silent server, Cycle on No Contact off: each tick sends three requests, 5 s apart,
    // the next tick 3 s after the last one's wait.
    CProgram program("3\r\n0\r\n0\r\n127.0.0.24\r\n", desktop.Session());
    QVERIFY(program.Started());
    const QRect area = WaitForItem(desktop, bus, tray, EPicture::Waiting);
    QVERIFY2(!area.isEmpty(), qPrintable(program.Outcome()));
    const QString item = bus.RegisteredItems().value(0).section('/', 0, 0);

    // The probing picture the whole time the request waits.
    QVERIFY(capture.RunUntilSeen({"127.0.0.24"}, 10.0));
    const double firstAt = capture.To({"127.0.0.24"}).first().seconds;
    for (int i = 0; i < 5; ++i) {
        capture.RunUntil(clock.elapsed() / 1000.0 + 0.2);
        QCOMPARE(NameOf(desktop.CountOnScreen(area).Picture()), NameOf(EPicture::Probing));
    }
    // And a host's read is answered meanwhile, with that picture.
    QElapsedTimer read;
    read.start();
    const QVariant pixmaps = bus.Get(item, QStringLiteral("/StatusNotifierItem"), kItemInterface,
                                     QStringLiteral("IconPixmap"));
    const qint64 nReadMs = read.elapsed();
    qInfo("%s: IconPixmap read during a probe's wait answered in %lld ms", qPrintable(host),
          nReadMs);
    QVERIFY2(pixmaps.isValid() && nReadMs < 1000, qPrintable(QString::number(nReadMs)));
    QCOMPARE(NameOf(PictureOf(pixmaps, 22)), NameOf(EPicture::Probing));

    // The host stopped for the rest of the tick and into the next: the cycle keeps its
    // rhythm, though it changes the picture meanwhile.
    const pid_t hostPid = static_cast<pid_t>(bus.Pid(kWatcher));
    QVERIFY(hostPid > 0);
    QCOMPARE(::kill(hostPid, SIGSTOP), 0);
    const double stoppedAt = clock.elapsed() / 1000.0;
    capture.RunUntil(firstAt + 19.5);
    ::kill(hostPid, SIGCONT);
    const QVector<CSeen> requests = capture.To({"127.0.0.24"});
    QString gaps;
    for (int i = 1; i < requests.size(); ++i)
        gaps += QString::asprintf(" %.2f", requests[i].seconds - requests[i - 1].seconds);
    qInfo("%s: host stopped for %.1f s; request gaps:%s s", qPrintable(host),
          firstAt + 19.5 - stoppedAt, qPrintable(gaps));
    QCOMPARE(requests.size(), 4);
    for (int i = 1; i < 4; ++i) {
        const double gap = requests[i].seconds - requests[i - 1].seconds;
        const double expected = i < 3 ? 5.0 : 8.0;
        QVERIFY2(gap > expected - 0.2 && gap < expected + 0.6, qPrintable(gaps));
    }

    // Going again, the host catches up: the second tick's request waits.
    QVERIFY(CTrayHost::Until(
        5000, [&] { return desktop.CountOnScreen(area).Picture() == EPicture::Probing; }));
    QVERIFY2(program.EndCleanly(), qPrintable(program.Outcome()));
}

QTEST_GUILESS_MAIN(CTestSni)
#include "test_sni.moc"
