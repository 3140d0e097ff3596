// The real program with the tray hosts that show the icon for it through the session bus
// (StatusNotifierItem): the panels of Xfce and LXQt, GNOME Shell with its AppIndicator extension
// and Plasma, on an X11 desktop in the loopback-only namespace. What the user sees is judged
// from the host's own pixels: the icon appearing when the host starts after the program and
// again after it restarts, both clicks (GNOME Shell shows the menu on either: its first entry
// opens the dialog), the probing picture while a request waits; and on the bus, that a host's read
// is answered during that wait, that icon changes make no connections, and that a stopped host
// never slows the cycle. And what any other peer on the bus can do: every call the item and its
// menu take, however wrong or large, gets an answer while the cycle keeps time; a watcher that
// shows nothing cannot take the icon from the XEmbed tray.

#include <signal.h>
#include <sys/prctl.h>

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QElapsedTimer>
#include <QtTest/QtTest>
#include <atomic>
#include <numeric>
#include <thread>

#include "harness/desktop.h"
#include "harness/netns.h"
#include "harness/program.h"
#include "harness/trayhost.h"
#include "harness/trayhosts.h"
#include "harness/wire.h"
#include "platform/linux/qtbustypes.h"

namespace {

constexpr char kAboutCaption[] = "About Quorvane";
const QString kItemInterface = QStringLiteral("org.kde.StatusNotifierItem");

// Counts a signal from the bus.
class CSignalCount : public QObject {
    Q_OBJECT
public:
    int m_nCount = 0;
public slots:
    void OnSignal() { ++m_nCount; }
};

// The bus name of an item as the watcher lists it: "NAME/PATH", or "NAME@/PATH" (GNOME Shell).
QString ServiceOf(const QString& strItem) { return strItem.section('/', 0, 0).section('@', 0, 0); }

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

const QString kItemPath = QStringLiteral("/StatusNotifierItem");
const QString kMenuPath = QStringLiteral("/MenuBar");
const QString kMenuInterface = QStringLiteral("com.canonical.dbusmenu");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");

// The program's own connection: the one other peer that serves an item.
QString ProgramOnBus(CBus& bus) {
    QString strFound;
    CTrayHost::Until(10000, [&] {
        for (const QString& strName :
             bus.Connection().interface()->registeredServiceNames().value()) {
            if (!strName.startsWith(':') || strName == bus.Connection().baseService()) continue;
            QDBusMessage ask = QDBusMessage::createMethodCall(
                strName, kItemPath, QStringLiteral("org.freedesktop.DBus.Introspectable"),
                QStringLiteral("Introspect"));
            const QDBusMessage reply = bus.Connection().call(ask, QDBus::Block, 1000);
            if (reply.type() == QDBusMessage::ReplyMessage &&
                reply.arguments().value(0).toString().contains(kItemInterface))
                strFound = strName;
        }
        return !strFound.isEmpty();
    });
    return strFound;
}

// One call a peer makes, and whether the program should turn it down.
struct CAttack {
    const char* pszWhat;
    QDBusMessage call;
    bool bRefused;
};

QDBusMessage Call(const QString& strTo, const QString& strPath, const QString& strInterface,
                  const char* pszMethod, const QVariantList& args) {
    QDBusMessage call = QDBusMessage::createMethodCall(strTo, strPath, strInterface,
                                                       QString::fromLatin1(pszMethod));
    call.setArguments(args);
    return call;
}

// The ids in a GetGroupProperties answer, a(ia{sv}).
QList<int> IdsIn(const QVariant& items) {
    QList<int> ids;
    const QDBusArgument arg = items.value<QDBusArgument>();
    arg.beginArray();
    while (!arg.atEnd()) {
        int nId = -1;
        QVariantMap properties;
        arg.beginStructure();
        arg >> nId >> properties;
        arg.endStructure();
        ids << nId;
    }
    arg.endArray();
    return ids;
}

// The labels of the item's menu, top down, as a host reads them.
QStringList MenuLabels(CBus& bus, const QString& strTo) {
    const QDBusMessage reply = bus.Connection().call(
        Call(strTo, kMenuPath, kMenuInterface, "GetLayout", {0, -1, QStringList()}), QDBus::Block,
        5000);
    if (reply.type() != QDBusMessage::ReplyMessage) return {QStringLiteral("no layout")};
    CMenuLayout layout;
    reply.arguments().value(1).value<QDBusArgument>() >> layout;
    QStringList labels;
    for (const QVariant& child : layout.children) {
        CMenuLayout entry;
        child.value<QDBusArgument>() >> entry;
        labels << entry.properties.value(QStringLiteral("label")).toString();
    }
    return labels;
}

// A watcher as any peer can make one: it holds the name, hosts nothing, and says of hosts what
// the test tells it; or it says nothing at all.
class CFakeWatcher : public QDBusVirtualObject {
public:
    explicit CFakeWatcher(const QString& strAddress) : m_bus(strAddress) {}
    ~CFakeWatcher() override {
        m_bus.Connection().unregisterObject(QStringLiteral("/StatusNotifierWatcher"));
        Release();
    }
    bool IsConnected() const { return m_bus.IsConnected(); }
    // The name alone: calls to it find no object.
    bool Take() { return m_bus.Connection().registerService(kWatcher); }
    bool Release() { return m_bus.Connection().unregisterService(kWatcher); }
    // From now on an object answers at the watcher's path.
    bool Serve() {
        return m_bus.Connection().registerVirtualObject(QStringLiteral("/StatusNotifierWatcher"),
                                                        this);
    }
    void SayHost(bool bHost) { m_bHost = bHost; }
    void BeSilent(bool bSilent) { m_bSilent = bSilent; }
    bool Emit(const char* pszSignal) {
        return m_bus.Connection().send(QDBusMessage::createSignal(
            QStringLiteral("/StatusNotifierWatcher"), kWatcher, QString::fromLatin1(pszSignal)));
    }
    int Registrations() const { return m_nRegistrations; }

    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        const bool bRegister = message.member() == QLatin1String("RegisterStatusNotifierItem");
        if (bRegister) ++m_nRegistrations;
        if (m_bSilent) return true;
        if (bRegister)
            connection.send(message.createReply());
        else if (message.interface() == kProperties &&
                 message.arguments().value(1).toString() ==
                     QLatin1String("IsStatusNotifierHostRegistered"))
            connection.send(message.createReply(QVariant::fromValue(QDBusVariant(bool(m_bHost)))));
        else
            connection.send(message.createErrorReply(QDBusError::UnknownMethod, "not here"));
        return true;
    }

private:
    CBus m_bus;
    std::atomic<bool> m_bHost{false};
    std::atomic<bool> m_bSilent{false};
    std::atomic<int> m_nRegistrations{0};
};

}  // namespace

class CTestSni : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void StartedFirstClicksRestart_data();
    void StartedFirstClicksRestart();
    void ProbeWithTheHostStopped_data();
    void ProbeWithTheHostStopped();
    void AnyPeerAnyCall();
    void RequestsDuringAProbeCountOnce();
    void WatcherWithoutHost();
    void MenuFollowsTheWatchersProcess();

private:
    // Waits until the host shows the item as the only icon of the program's, with the given
    // picture; returns where it is on the screen (empty when it never did).
    QRect WaitForItem(CDesktop& desktop, CBus& bus, CTrayHost& host, EPicture picture);
    // Where the icon is now, whatever its picture: items that come later (Plasma's own) move
    // it along the panel.
    QRect IconNow(CDesktop& desktop, CTrayHost& host);
    // Clicks the icon with that button and returns the entries of the menu that came up, top
    // down, on the screen; none when none came.
    QList<QRect> OpenMenu(CDesktop& desktop, CTrayHost& host, const QRect& icon, int nButton);
};

void CTestSni::initTestCase() {
    if (!OnlyLoopback()) QSKIP("real echo requests only in a namespace that holds nothing but lo");
    qDBusRegisterMetaType<CMenuEvent>();
    qDBusRegisterMetaType<QList<CMenuEvent>>();
}

QRect CTestSni::WaitForItem(CDesktop& desktop, CBus& bus, CTrayHost& host, EPicture picture) {
    if (host.Area().isEmpty()) {
        qWarning("no panel on the screen");
        return {};
    }
    if (!desktop.PointerAway()) return {};
    // The panel is read again each time: a host that has just started may place it once more.
    QRect area;
    QString strLast;
    CTrayHost::Until(10000, [&] {
        const QRect panel = host.Area(0);
        const CPictureCount shown = desktop.CountOnScreen(panel);
        const QStringList items = bus.RegisteredItems();
        const bool bDocked = desktop.TrayIcon(0) != XCB_NONE;
        strLast = QStringLiteral("items %1, docked by XEmbed %2, picture %3 in the panel at %4")
                      .arg(items.join(' '))
                      .arg(bDocked)
                      .arg(QString::fromLatin1(NameOf(shown.Picture())), Describe(panel));
        // Registered as an item, and not docked by XEmbed too: one icon, drawn by the host.
        if (items.size() != 1 || bDocked || shown.Picture() != picture) return false;
        area = shown.Area();
        return true;
    });
    if (area.isEmpty()) qWarning("no %s item: %s", NameOf(picture), qPrintable(strLast));
    return area;
}

QRect CTestSni::IconNow(CDesktop& desktop, CTrayHost& host) {
    // Plasma draws the icon under the pointer brighter, past what tells the pictures apart.
    if (!desktop.PointerAway()) return {};
    QRect area, panel;
    CTrayHost::Until(5000, [&] {
        panel = host.Area(0);
        const CPictureCount shown = desktop.CountOnScreen(panel);
        area = shown.Picture() == EPicture::None ? QRect() : shown.Area();
        return !area.isEmpty();
    });
    if (area.isEmpty()) qWarning("no icon in the panel at %s", qPrintable(Describe(panel)));
    return area;
}

void CTestSni::StartedFirstClicksRestart_data() {
    QTest::addColumn<QString>("host");
    for (const CTrayHostDriver& host : TrayHosts())
        QTest::newRow(host.pszName) << QString::fromLatin1(host.pszName);
}

QList<QRect> CTestSni::OpenMenu(CDesktop& desktop, CTrayHost& host, const QRect& icon,
                                int nButton) {
    if (icon.isEmpty()) return {};
    // GNOME Shell draws its menus into its own window: what a click changed on the screen.
    if (host.MenuOnLeftClick()) {
        const QRect screen(0, 0, 1024, 768);
        // A window just closed fades out: what it leaves behind is not the menu.
        const QImage before =
            SteadyScreen([&] { return desktop.Screen(screen); }, host.Area(), 3000);
        if (before.isNull() || !desktop.ClickAt(icon.center(), nButton)) return {};
        // The icon and its button in the top bar change on their own.
        return SteadyMenuEntries(
            before, [&] { return desktop.Screen(screen); }, host.Area(), 2, 5000);
    }
    // The others open it as a window of its own.
    if (!desktop.ClickAt(icon.center(), nButton)) return {};
    const xcb_window_t menu = desktop.PopupMenu(10000);
    if (menu != XCB_NONE) return {desktop.Geometry(menu)};
    return {};
}

void CTestSni::StartedFirstClicksRestart() {
    QFETCH(QString, host);
    CDesktop desktop(false);
    QVERIFY(desktop.IsUp());
    CBus bus(desktop.BusAddress());
    QVERIFY(bus.IsConnected());
    CTrayHost tray(desktop, bus, host);
    if (!tray.ManagesWindows()) QVERIFY(desktop.StartWindowManager());

    // The program first, as at login: one server that answers, a tick every 3 s.
    CProgram program("3\r\n0\r\n0\r\n127.0.0.1\r\n", desktop.Session());
    QVERIFY(program.Started());
    const QByteArray notice = "no notification area is running";
    QVERIFY2(CTrayHost::Until(10000, [&] { return program.StdErr().contains(notice); }),
             qPrintable(program.Outcome()));

    // The host starts and shows the icon.
    QElapsedTimer started;
    started.start();
    QVERIFY(tray.Start());
    QRect area = WaitForItem(desktop, bus, tray, EPicture::Waiting);
    QVERIFY2(!area.isEmpty(), qPrintable(program.Outcome()));
    qInfo("%s: the icon shown %lld ms after the host's start", qPrintable(host), started.elapsed());
    const QString item = ServiceOf(bus.RegisteredItems().value(0));

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
    // Its menu, as the host reads it: the Open entry first only where a left click shows it.
    QStringList labels{QStringLiteral("About Quorvane")};
    if (tray.MenuOnLeftClick()) labels.prepend(QStringLiteral("Open Quorvane"));
    QCOMPARE(MenuLabels(bus, item), labels);

    // A tick whose request is answered at once changes the picture and back before the event
    // loop could show it: the host hears of nothing over two or three of them, or, should the
    // kernel hand the answer over late and the loop run meanwhile, of the probing picture and
    // the waiting one again, each once. The tip comes with every
    // change and stays the same, so it is never announced either. None of the ticks makes a
    // bus connection.
    CSignalCount newIcons, others;
    QVERIFY(bus.Connection().connect(item, QString::fromLatin1("/StatusNotifierItem"),
                                     kItemInterface, "NewIcon", &newIcons, SLOT(OnSignal())));
    for (const char* pszSignal :
         {"NewTitle", "NewToolTip", "NewStatus", "NewAttentionIcon", "NewOverlayIcon"})
        QVERIFY(bus.Connection().connect(item, QString::fromLatin1("/StatusNotifierItem"),
                                         kItemInterface, pszSignal, &others, SLOT(OnSignal())));
    const int nBefore = bus.NextConnectionNumber();
    QTest::qWait(7000);
    const int nConnections = bus.NextConnectionNumber() - nBefore - 1;
    qInfo(
        "%s: %d pictures and %d other changes announced in 7 s, %d bus connections made "
        "meanwhile",
        qPrintable(host), newIcons.m_nCount, others.m_nCount, nConnections);
    QVERIFY2(newIcons.m_nCount % 2 == 0 && newIcons.m_nCount <= 2,
             qPrintable(QString::number(newIcons.m_nCount)));
    QCOMPARE(others.m_nCount, 0);
    QCOMPARE(nConnections, 0);

    // A left click opens the dialog (where it shows the menu, its first entry does); OK
    // closes it and the cycle goes on.
    if (tray.MenuOnLeftClick()) {
        const QList<QRect> entries = OpenMenu(desktop, tray, IconNow(desktop, tray), 1);
        QVERIFY2(
            entries.size() == 2,
            qPrintable(QStringLiteral("%1 menu entries after a left click").arg(entries.size())));
        QVERIFY(desktop.ClickAt(entries.first().center()));
    } else {
        QVERIFY(desktop.ClickAt(IconNow(desktop, tray).center()));
    }
    const xcb_window_t dialog = desktop.WindowNamed(kDialogCaption, 10000);
    QVERIFY2(dialog != XCB_NONE, qPrintable(program.Outcome()));
    QVERIFY(desktop.Keys(dialog, "Return"));
    QVERIFY(CTrayHost::Until(5000, [&] { return !desktop.IsViewable(dialog); }));

    // A right click shows the item's menu, whose last entry opens the About box (its only one
    // where a left click opens the dialog).
    const QList<QRect> entries = OpenMenu(desktop, tray, IconNow(desktop, tray), 3);
    QVERIFY2(entries.size() == (tray.MenuOnLeftClick() ? 2 : 1),
             qPrintable(QStringLiteral("%1 menu entries after a right click").arg(entries.size())));
    QVERIFY(desktop.ClickAt(entries.last().center()));
    const xcb_window_t about = desktop.WindowNamed(kAboutCaption, 10000);
    QVERIFY2(about != XCB_NONE,
             qPrintable(
                 QStringLiteral("no About box after a click on the entry at %1 (first %2): %3")
                     .arg(Describe(entries.last()), Describe(entries.first()), program.Outcome())));
    QVERIFY(desktop.Keys(about, "Return"));
    QVERIFY(CTrayHost::Until(5000, [&] { return !desktop.IsViewable(about); }));
    // Every picture has been read by now (the item's, the theme's, the dialog's and the About
    // box's) without an image plugin.
    QCOMPARE(program.ImagePlugins(), QStringList());

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
    CBus bus(desktop.BusAddress());
    QVERIFY(bus.IsConnected());
    CTrayHost tray(desktop, bus, host);
    if (!tray.ManagesWindows()) QVERIFY(desktop.StartWindowManager());
    QVERIFY(tray.Start());

    // One silent server, Cycle on No Contact off: each tick sends three requests, 5 s apart,
    // the next tick 3 s after the last one's wait.
    CProgram program("3\r\n0\r\n0\r\n127.0.0.24\r\n", desktop.Session());
    QVERIFY(program.Started());
    QVERIFY2(!WaitForItem(desktop, bus, tray, EPicture::Waiting).isEmpty(),
             qPrintable(program.Outcome()));
    const QString item = ServiceOf(bus.RegisteredItems().value(0));
    // Judged over the whole panel, which shows no other picture of the icon's colours: items
    // that come later move the icon along it.
    const QRect area = tray.Area();
    // Each change of the picture that lasts is announced once.
    CSignalCount newIcons;
    QVERIFY(bus.Connection().connect(item, QString::fromLatin1("/StatusNotifierItem"),
                                     kItemInterface, "NewIcon", &newIcons, SLOT(OnSignal())));

    // The probing picture the whole time the request waits, from when the host has heard of
    // the change and read the picture (GNOME Shell takes about 0.2 s).
    QVERIFY(capture.RunUntilSeen({"127.0.0.24"}, 10.0));
    const double firstAt = capture.To({"127.0.0.24"}).first().seconds;
    while (desktop.CountOnScreen(area).Picture() != EPicture::Probing &&
           clock.elapsed() / 1000.0 < firstAt + 1.0)
        capture.RunUntil(clock.elapsed() / 1000.0 + 0.02);
    qInfo("%s: the probing picture shown %.0f ms into the wait", qPrintable(host),
          (clock.elapsed() / 1000.0 - firstAt) * 1000);
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
    // Probing, waiting after the first tick's three requests, probing again in the second.
    QTest::qWait(200);
    QCOMPARE(newIcons.m_nCount, 3);
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

void CTestSni::AnyPeerAnyCall() {
    CCapture capture;
    if (!capture.IsOpen()) QSKIP("no packet capture here (needs CAP_NET_RAW)");
    QElapsedTimer clock;  // as the capture's
    clock.start();
    CDesktop desktop;
    QVERIFY(desktop.IsUp());
    CBus bus(desktop.BusAddress());
    QVERIFY(bus.IsConnected());
    // One server that answers, a tick every 3 s; the icon in icewm's tray.
    CProgram program("3\r\n0\r\n0\r\n127.0.0.1\r\n", desktop.Session());
    QVERIFY(program.Started());
    QVERIFY2(desktop.TrayIcon(10000) != XCB_NONE, qPrintable(program.Outcome()));
    const QString to = ProgramOnBus(bus);
    QVERIFY2(!to.isEmpty(), qPrintable(program.Outcome()));

    const auto menu = [&](const char* pszMethod, const QVariantList& args) {
        return Call(to, kMenuPath, kMenuInterface, pszMethod, args);
    };
    const auto item = [&](const char* pszMethod, const QVariantList& args) {
        return Call(to, kItemPath, kItemInterface, pszMethod, args);
    };
    const auto property = [&](const QString& strPath, const char* pszMethod,
                              const QVariantList& args) {
        return Call(to, strPath, kProperties, pszMethod, args);
    };
    const QDBusVariant none(QString{});
    QList<int> everyId(1000000);
    std::iota(everyId.begin(), everyId.end(), 0);
    QList<int> realIdsOften(1000000);
    for (int i = 0; i < realIdsOften.size(); ++i) realIdsOften[i] = i % 2;
    QList<int> unknownIds(1000000);
    std::iota(unknownIds.begin(), unknownIds.end(), 2);
    QStringList manyNames;
    for (int i = 0; i < 100000; ++i) manyNames << QStringLiteral("name-%1").arg(i);
    manyNames << QStringLiteral("label");
    QList<CMenuEvent> unknownEvents, realEvents;
    for (int i = 0; i < 200000; ++i) {
        unknownEvents.append({i + 2, QStringLiteral("clicked"), none, 0});
        realEvents.append({i % 2, QStringLiteral("hovered"), none, 0});
    }
    const QString bigString(4 * 1024 * 1024, QChar('v'));

    // Every method of the item, its menu and their properties, with unknown ids and names,
    // wrong types and lists of a million.
    const std::vector<CAttack> attacks = {
        {"GetProperty of an unknown property", menu("GetProperty", {1, "nonexistent"}), true},
        {"GetProperty of an unknown id", menu("GetProperty", {7, "label"}), true},
        {"GetProperty with wrong types", menu("GetProperty", {"1", 1}), true},
        {"GetLayout of an unknown parent", menu("GetLayout", {5, 0, QStringList()}), true},
        {"GetLayout of parent -1", menu("GetLayout", {-1, -1, QStringList()}), true},
        {"GetLayout without arguments", menu("GetLayout", {}), true},
        {"GetLayout asking for 100,001 names", menu("GetLayout", {0, -1, manyNames}), false},
        {"Event for an unknown id", menu("Event", {7, "clicked", QVariant::fromValue(none), 0u}),
         true},
        {"Event the menu ignores", menu("Event", {1, "hovered", QVariant::fromValue(none), 0u}),
         false},
        {"EventGroup of 200,000 unknown ids",
         menu("EventGroup", {QVariant::fromValue(unknownEvents)}), true},
        {"EventGroup of 200,000 real ids", menu("EventGroup", {QVariant::fromValue(realEvents)}),
         false},
        {"AboutToShow of an unknown id", menu("AboutToShow", {7}), true},
        {"AboutToShowGroup of 1,000,000 unknown ids",
         menu("AboutToShowGroup", {QVariant::fromValue(unknownIds)}), false},
        {"GetGroupProperties of 1,000,000 unknown ids",
         menu("GetGroupProperties", {QVariant::fromValue(unknownIds), QStringList()}), false},
        {"an unknown method", menu("Frobnicate", {}), true},
        {"Properties.Get of an unknown property",
         property(kMenuPath, "Get", {kMenuInterface, "Nonexistent"}), true},
        {"Properties.Get of an unknown interface",
         property(kMenuPath, "Get", {"org.example.None", "Version"}), true},
        {"Properties.Set of the menu's version",
         property(kMenuPath, "Set",
                  {kMenuInterface, "Version", QVariant::fromValue(QDBusVariant(4u))}),
         true},
        {"Properties.GetAll of an unknown interface",
         property(kMenuPath, "GetAll", {"org.example.None"}), true},
        {"GetGroupProperties with wrong types",
         menu("GetGroupProperties", {QStringList{"0"}, QVariant::fromValue(QList<int>{1})}), true},
        {"AboutToShowGroup with wrong types", menu("AboutToShowGroup", {QStringList{"0"}}), true},
        {"Event with wrong types", menu("Event", {"1", 2, 3, 4}), true},
        {"Properties.Get of the menu's version",
         property(kMenuPath, "Get", {kMenuInterface, "Version"}), false},
        {"Activate with wrong types", item("Activate", {"1", "2"}), true},
        {"SecondaryActivate with wrong types", item("SecondaryActivate", {1}), true},
        {"ContextMenu with wrong types", item("ContextMenu", {1.5, 2.5}), true},
        {"Scroll with no direction", item("Scroll", {1, "sideways"}), true},
        {"Scroll with 4 MiB of direction", item("Scroll", {1, bigString}), true},
        {"an unknown method of the item", item("Frobnicate", {1}), true},
        {"Properties.Get of the item's unknown property",
         property(kItemPath, "Get", {kItemInterface, "Nonexistent"}), true},
        {"Properties.GetAll of the item", property(kItemPath, "GetAll", {kItemInterface}), false},
        {"Properties.Set of the item's status",
         property(kItemPath, "Set",
                  {kItemInterface, "Status", QVariant::fromValue(QDBusVariant("Passive"))}),
         true},
    };

    // Sends calls at once and collects the wire until each has its answer (or the time is
    // up); how long that took in *pnMs. The calls go from a thread of their own, so that
    // making a large one never holds up the capture.
    const auto exchange = [&](const std::vector<QDBusMessage>& calls, int nTimeoutMs,
                              qint64* pnMs = nullptr) {
        QElapsedTimer took;
        took.start();
        std::vector<QDBusMessage> replies(calls.size());
        std::atomic<bool> bDone{false};
        std::thread caller([&] {
            std::vector<QDBusPendingCall> pending;
            for (const QDBusMessage& call : calls)
                pending.push_back(bus.Connection().asyncCall(call, nTimeoutMs));
            for (std::size_t i = 0; i < pending.size(); ++i) {
                pending[i].waitForFinished();
                replies[i] = pending[i].reply();
            }
            bDone = true;
        });
        while (!bDone) capture.RunUntil(clock.elapsed() / 1000.0 + 0.01);
        caller.join();
        if (pnMs != nullptr) *pnMs = took.elapsed();
        return replies;
    };
    // Whether the program answers a host's read within a second now.
    const auto answers = [&](const QString& strAfter) {
        qint64 nMs = 0;
        const QDBusMessage reply =
            exchange({property(kItemPath, "Get", {kItemInterface, "Status"})}, 1000, &nMs)[0];
        if (reply.type() == QDBusMessage::ReplyMessage && nMs < 1000) return true;
        qWarning("no read answered within 1 s after %s (%lld ms): %s", qPrintable(strAfter), nMs,
                 qPrintable(program.Outcome()));
        return false;
    };
    const double startAt = clock.elapsed() / 1000.0;

    for (const CAttack& attack : attacks) {
        const QDBusMessage reply = exchange({attack.call}, 60000)[0];
        const bool bRefused = reply.type() == QDBusMessage::ErrorMessage;
        QVERIFY2(
            reply.type() == QDBusMessage::ReplyMessage || bRefused,
            qPrintable(QStringLiteral("%1: no answer; %2").arg(attack.pszWhat, program.Outcome())));
        // Turned down by the program itself, not for want of it.
        QVERIFY2(
            bRefused == attack.bRefused &&
                reply.errorName() != QLatin1String("org.freedesktop.DBus.Error.NoReply") &&
                reply.errorName() != QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown"),
            qPrintable(QStringLiteral("%1: %2 %3")
                           .arg(attack.pszWhat, reply.errorName(), reply.errorMessage())));
        QVERIFY(answers(QString::fromLatin1(attack.pszWhat)));
    }

    // Each real entry once, however often a list names it, the whole menu in one answer of a
    // few entries; five such lists at once, and a burst of a thousand scrolls.
    const QStringList label{QStringLiteral("label")};
    qint64 nMs = 0;
    std::vector<QDBusMessage> lists;
    for (int i = 0; i < 5; ++i)
        lists.push_back(menu("GetGroupProperties",
                             {QVariant::fromValue(i % 2 == 0 ? everyId : realIdsOften), label}));
    for (const QDBusMessage& reply : exchange(lists, 60000, &nMs)) {
        QCOMPARE(reply.type(), QDBusMessage::ReplyMessage);
        QCOMPARE(IdsIn(reply.arguments().value(0)), QList<int>({0, 1}));
    }
    qInfo("five GetGroupProperties of 1,000,000 ids at once answered in %lld ms", nMs);
    QVERIFY(answers("five GetGroupProperties of 1,000,000 ids"));
    std::vector<QDBusMessage> scrolls;
    const QString wideScroll = QStringLiteral("vertical") + QString(64 * 1024, QChar(' '));
    for (int i = 0; i < 1000; ++i) scrolls.push_back(item("Scroll", {i, wideScroll}));
    for (int i = 0; i < 1000; ++i) scrolls.push_back(menu("GetProperty", {i + 2, "label"}));
    for (const QDBusMessage& reply : exchange(scrolls, 60000, &nMs))
        QCOMPARE(reply.type(), QDBusMessage::ErrorMessage);
    qInfo("1,000 Scrolls of 64 KiB and 1,000 unknown GetProperty answered in %lld ms", nMs);
    QVERIFY(answers("1,000 Scrolls and 1,000 GetProperty"));

    // The cycle kept its time all along, and afterwards: 10 s hold at least three ticks of 3 s
    // wherever they fall.
    capture.RunUntil(clock.elapsed() / 1000.0 + 10.0);
    const QVector<CSeen> requests = capture.To({"127.0.0.1"});
    double widest = 0;
    int nDuring = 0;
    QString gaps;
    for (int i = 1; i < requests.size(); ++i) {
        if (requests[i].seconds < startAt) continue;
        ++nDuring;
        widest = qMax(widest, requests[i].seconds - requests[i - 1].seconds);
        gaps += QString::asprintf(" %.2f", requests[i].seconds - requests[i - 1].seconds);
    }
    widest = qMax(widest, clock.elapsed() / 1000.0 - requests.last().seconds);
    qInfo("%d echo requests during and after the calls, gaps:%s s", nDuring, qPrintable(gaps));
    QVERIFY2(nDuring >= 3 && widest < 4.0, qPrintable(QString::number(widest)));
    QVERIFY2(program.EndCleanly(), qPrintable(program.Outcome()));
}

void CTestSni::RequestsDuringAProbeCountOnce() {
    CCapture capture;
    if (!capture.IsOpen()) QSKIP("no packet capture here (needs CAP_NET_RAW)");
    CSilentServers silent({"127.0.0.28"});
    QVERIFY(silent.IsSet());
    CDesktop desktop;
    QVERIFY(desktop.IsUp());
    CBus bus(desktop.BusAddress());
    QVERIFY(bus.IsConnected());
    // One silent server: a tick's three requests wait 15 s in all.
    CProgram program("3\r\n0\r\n0\r\n127.0.0.28\r\n", desktop.Session());
    QVERIFY(program.Started());
    const QString to = ProgramOnBus(bus);
    QVERIFY2(!to.isEmpty(), qPrintable(program.Outcome()));

    // A thousand right clicks and a thousand left ones from a peer while the first request
    // waits: each kind is held once, in the order it first came.
    QVERIFY(capture.RunUntilSeen({"127.0.0.28"}, 10.0));
    std::vector<QDBusPendingCall> pending;
    for (int i = 0; i < 1000; ++i)
        pending.push_back(
            bus.Connection().asyncCall(Call(to, kItemPath, kItemInterface, "ContextMenu", {i, i})));
    for (int i = 0; i < 1000; ++i)
        pending.push_back(
            bus.Connection().asyncCall(Call(to, kItemPath, kItemInterface, "Activate", {i, i})));
    for (QDBusPendingCall& call : pending) {
        call.waitForFinished();
        QVERIFY(!call.isError());
    }
    QCOMPARE(desktop.WindowNamed(kAboutCaption, 0), XCB_NONE);

    // Once the tick is over: one About box, then the dialog, and nothing more.
    const xcb_window_t about = desktop.WindowNamed(kAboutCaption, 20000);
    QVERIFY2(about != XCB_NONE, qPrintable(program.Outcome()));
    QVERIFY(desktop.Keys(about, "Return"));
    const xcb_window_t dialog = desktop.WindowNamed(kDialogCaption, 5000);
    QVERIFY2(dialog != XCB_NONE, qPrintable(program.Outcome()));
    QVERIFY(!desktop.IsViewable(about));
    QCOMPARE(desktop.WindowNamed(kAboutCaption, 2000), XCB_NONE);
    QVERIFY2(program.EndCleanly(), qPrintable(program.Outcome()));
}

void CTestSni::WatcherWithoutHost() {
    CDesktop desktop;
    QVERIFY(desktop.IsUp());
    CBus bus(desktop.BusAddress());
    QVERIFY(bus.IsConnected());
    CFakeWatcher watcher(desktop.BusAddress());
    QVERIFY(watcher.IsConnected());
    const auto docked = [&](bool bDocked, int nForMs) {
        // Waits for it, then holds it that long.
        if (!CTrayHost::Until(5000, [&] { return (desktop.TrayIcon(0) != XCB_NONE) == bDocked; }))
            return false;
        return !CTrayHost::Until(nForMs,
                                 [&] { return (desktop.TrayIcon(0) != XCB_NONE) != bDocked; });
    };

    // A peer takes the watcher's name before the program starts and serves nothing there:
    // the icon docks in icewm's tray and stays.
    QVERIFY(watcher.Take());
    CProgram program("3\r\n0\r\n0\r\n127.0.0.1\r\n", desktop.Session());
    QVERIFY(program.Started());
    QVERIFY2(docked(true, 3000), qPrintable(program.Outcome()));

    // A watcher that takes the item and says there is no host: still docked.
    QVERIFY(watcher.Serve());
    QVERIFY(watcher.Release() && watcher.Take());
    QVERIFY(CTrayHost::Until(5000, [&] { return watcher.Registrations() == 1; }));
    QVERIFY2(docked(true, 2000), qPrintable(program.Outcome()));

    // Its host comes: the item takes over, and the XEmbed icon goes. The host goes: back.
    watcher.SayHost(true);
    QVERIFY(watcher.Emit("StatusNotifierHostRegistered"));
    QVERIFY2(docked(false, 1000), qPrintable(program.Outcome()));
    watcher.SayHost(false);
    QVERIFY(watcher.Emit("StatusNotifierHostUnregistered"));
    QVERIFY2(docked(true, 1000), qPrintable(program.Outcome()));

    // A watcher that never answers, not even the registration, whatever it says of hosts:
    // still docked, and the program answers a host's read meanwhile.
    watcher.BeSilent(true);
    QVERIFY(watcher.Release() && watcher.Take());
    QVERIFY(CTrayHost::Until(5000, [&] { return watcher.Registrations() == 2; }));
    QVERIFY(watcher.Emit("StatusNotifierHostRegistered"));
    QVERIFY2(docked(true, 3000), qPrintable(program.Outcome()));
    const QString to = ProgramOnBus(bus);
    QElapsedTimer read;
    read.start();
    QVERIFY(bus.Get(to, kItemPath, kItemInterface, "Status", 1000).isValid());
    QVERIFY(read.elapsed() < 1000);

    // It goes: still docked.
    QVERIFY(watcher.Release());
    QVERIFY2(docked(true, 2000), qPrintable(program.Outcome()));
    QVERIFY2(program.EndCleanly(), qPrintable(program.Outcome()));
}

void CTestSni::MenuFollowsTheWatchersProcess() {
    CDesktop desktop;
    QVERIFY(desktop.IsUp());
    CBus bus(desktop.BusAddress());
    QVERIFY(bus.IsConnected());
    CFakeWatcher watcher(desktop.BusAddress());
    QVERIFY(watcher.IsConnected() && watcher.Serve());
    CProgram program("3\r\n0\r\n0\r\n127.0.0.1\r\n", desktop.Session());
    QVERIFY(program.Started());
    const QString to = ProgramOnBus(bus);
    QVERIFY2(!to.isEmpty(), qPrintable(program.Outcome()));
    CSignalCount layoutChanges;
    QVERIFY(bus.Connection().connect(to, kMenuPath, kMenuInterface, "LayoutUpdated", &layoutChanges,
                                     SLOT(OnSignal())));
    const QStringList about{QStringLiteral("About Quorvane")};
    const QStringList both{QStringLiteral("Open Quorvane"), QStringLiteral("About Quorvane")};
    const auto menuBecomes = [&](const QStringList& labels) {
        return CTrayHost::Until(5000, [&] { return MenuLabels(bus, to) == labels; });
    };

    // A watcher held by any other process: the menu as it was.
    QVERIFY(watcher.Take());
    QVERIFY(CTrayHost::Until(5000, [&] { return watcher.Registrations() == 1; }));
    QTest::qWait(500);
    QCOMPARE(MenuLabels(bus, to), about);
    QCOMPARE(layoutChanges.m_nCount, 0);

    // The watcher changes hands to GNOME Shell's process (this one, by that name): the Open
    // entry comes first, announced to the host; and goes again when the watcher goes to
    // another process (this one under its own name).
    char szOwnName[16] = {};
    QCOMPARE(::prctl(PR_GET_NAME, szOwnName), 0);
    QCOMPARE(::prctl(PR_SET_NAME, "gnome-shell"), 0);
    const bool bOpened = watcher.Release() && watcher.Take() && menuBecomes(both);
    ::prctl(PR_SET_NAME, szOwnName);
    QVERIFY2(bOpened, qPrintable(MenuLabels(bus, to).join(", ")));
    QVERIFY(CTrayHost::Until(2000, [&] { return layoutChanges.m_nCount == 1; }));
    QVERIFY(watcher.Release() && watcher.Take());
    QVERIFY2(menuBecomes(about), qPrintable(MenuLabels(bus, to).join(", ")));
    QVERIFY(CTrayHost::Until(2000, [&] { return layoutChanges.m_nCount == 2; }));
    QVERIFY2(program.EndCleanly(), qPrintable(program.Outcome()));
}

QTEST_GUILESS_MAIN(CTestSni)
#include "test_sni.moc"
