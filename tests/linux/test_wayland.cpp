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
#include "harness/trayhosts.h"
#include "harness/wait.h"
#include "harness/wire.h"

namespace {

constexpr char kDialogCaption[] = "Quorvane by Harrowbecks Software, Inc.";
constexpr char kAboutCaption[] = "About Quorvane";
// One server that answers at once. Sound off: the session has no audio server, and what the
// sound says about that is no business of the tray's.
constexpr char kAnsweringList[] = "3\r\n0\r\n0\r\n127.0.0.1\r\n";
// What the program says, once, when it starts with no tray host.
constexpr char kNoTrayLine[] = "no notification area is running";

// The session's user.
constexpr uid_t kUser = 65534;
// The screen (sway.config, GNOME Shell's virtual monitor) and the bar along its top
// (waybar.json, GNOME Shell's top bar).
constexpr int kScreenWidth = 1024;
constexpr int kScreenHeight = 768;
constexpr int kBarHeight = 30;
constexpr int kGnomeBarHeight = 32;
constexpr char kAppIndicator[] = "ubuntu-appindicators@ubuntu.com";

// The desktops, as the tests' rows name them.
enum class EDesktop { Sway, Gnome };

EPicture PictureOf(const QImage& image) {
    CPictureCount count;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            count.Add(qRed(pixel), qGreen(pixel), qBlue(pixel), QPoint(x, y));
        }
    }
    return count.Picture();
}

// The command run as the session's user.
QStringList AsUser(const QStringList& command) {
    return QStringList{"setpriv", "--reuid=" + QString::number(kUser),
                       "--regid=" + QString::number(kUser), "--clear-groups"} +
           command;
}

// Reads a process's standard output until a full line has come, or the time is up.
QByteArray ReadLine(QProcess& process, int nTimeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!process.canReadLine() && clock.elapsed() < nTimeoutMs &&
           process.state() != QProcess::NotRunning)
        process.waitForReadyRead(100);
    return process.canReadLine() ? process.readLine().trimmed() : QByteArray();
}

void Stop(QProcess& process) {
    if (process.state() == QProcess::NotRunning) return;
    process.terminate();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished();
    }
}

// A window of sway's tree with the given title, anywhere in it.
bool HasTitle(const QJsonObject& node, const QString& strTitle) {
    if (node.value("name").toString() == strTitle && node.value("visible").toBool()) return true;
    for (const char* children : {"nodes", "floating_nodes"}) {
        for (const QJsonValue& child : node.value(children).toArray())
            if (HasTitle(child.toObject(), strTitle)) return true;
    }
    return false;
}

// One Wayland session: a runtime folder of the user's own, its session bus, the compositor with
// one headless screen, a pointer, and the bar when a test wants one (GNOME Shell's is its
// AppIndicator extension, enabled and disabled).
class CSession {
public:
    explicit CSession(EDesktop desktop) : m_desktop(desktop) {
        m_bUp = Prepare() && StartBus() && StartCompositor() && StartPointer();
    }
    ~CSession() {
        StopBar();
        if (m_pointer.state() == QProcess::Running) m_pointer.closeWriteChannel();
        for (QProcess* process : {&m_pointer, &m_compositor, &m_bus, &m_systemBus}) Stop(*process);
    }
    CSession(const CSession&) = delete;
    CSession& operator=(const CSession&) = delete;

    bool IsUp() const { return m_bUp; }
    QString Failure() const { return m_strFailure; }

    // What a program started in this session has in its environment. The leak checker reads
    // its list from the session's copy; and Qt's Wayland plugin and libwayland keep no frame
    // pointers, so only the slow unwinder sees up to the Qt function a suppression names.
    QStringList Session() const {
        return {"QT_QPA_PLATFORM=wayland",
                "WAYLAND_DISPLAY=" + m_strDisplay,
                "XDG_RUNTIME_DIR=" + m_strRuntime,
                "HOME=" + m_strRuntime + "/home",
                "DBUS_SESSION_BUS_ADDRESS=" + m_strBus,
                "LSAN_OPTIONS=suppressions=" + m_strRuntime +
                    "/lsan.supp:print_suppressions=0:fast_unwind_on_malloc=0"};
    }
    // How CProgram starts the program as the session's user: in its own working folder, which
    // it must be able to write, from the copy in the runtime folder (a build tree under a
    // private folder is out of that user's reach).
    QStringList Wrapper() const {
        return {"sh", "-c",
                QStringLiteral("chown -R %1:%1 . && exec setpriv --reuid=%1 --regid=%1 "
                               "--clear-groups %2/bin/quorvane")
                    .arg(kUser)
                    .arg(m_strRuntime)};
    }

    // Starts waybar; true once its tray's watcher is on the bus and the bar is drawn, else
    // what it said goes to the test's log.
    bool StartBar() {
        StopBar();
        if (m_desktop == EDesktop::Gnome) {
            if (!Extension("EnableExtension")) return false;
            QElapsedTimer clock;
            clock.start();
            while (clock.elapsed() < 15000) {
                if (HasWatcher()) return true;
                Sleep(100);
            }
            qWarning("no watcher after the AppIndicator extension was enabled");
            return false;
        }
        m_pBar = std::make_unique<QProcess>();
        m_pBar->setProcessEnvironment(Environment());
        m_pBar->setProcessChannelMode(QProcess::MergedChannels);
        const QStringList command = AsUser(
            {"waybar", "-c", m_strRuntime + "/waybar.json", "-s", m_strRuntime + "/waybar.css"});
        m_pBar->start(command.first(), command.mid(1));
        QElapsedTimer clock;
        clock.start();
        while (m_pBar->waitForStarted(5000) && clock.elapsed() < 15000 &&
               m_pBar->state() == QProcess::Running) {
            if (HasWatcher() && BarColour().isValid()) return true;
            Sleep(100);
        }
        qWarning("waybar is not up: %s", m_pBar->readAll().constData());
        return false;
    }
    void StopBar() {
        if (m_desktop == EDesktop::Gnome && m_bUp && Extension("DisableExtension")) {
            QElapsedTimer clock;
            clock.start();
            while (HasWatcher() && clock.elapsed() < 10000) Sleep(100);
        }
        if (m_pBar) Stop(*m_pBar);
        m_pBar.reset();
    }
    // Where the compositor shows the bar.
    QRect Bar() const {
        return QRect(0, 0, kScreenWidth,
                     m_desktop == EDesktop::Gnome ? kGnomeBarHeight : kBarHeight);
    }
    // GNOME Shell shows the item's menu on a left click.
    bool MenuOnLeftClick() const { return m_desktop == EDesktop::Gnome; }

    // The screen, or part of it, as the compositor shows it.
    QImage Screen(const QRect& area = QRect(0, 0, kScreenWidth, kScreenHeight)) {
        bool bOk = false;
        if (m_desktop == EDesktop::Gnome) {
            const QString strFile = m_strRuntime + "/screen.png";
            QFile::remove(strFile);
            Run({"gdbus", "call", "--session", "--dest", "org.gnome.Shell", "--object-path",
                 "/org/gnome/Shell/Screenshot", "--method",
                 "org.gnome.Shell.Screenshot.ScreenshotArea", QString::number(area.x()),
                 QString::number(area.y()), QString::number(area.width()),
                 QString::number(area.height()), "false", strFile},
                5000, &bOk);
            QImage image;
            if (!bOk || !image.load(strFile) || image.size() != area.size()) return {};
            return image.convertToFormat(QImage::Format_RGB32);
        }
        const QByteArray ppm = Run({"grim", "-g",
                                    QStringLiteral("%1,%2 %3x%4")
                                        .arg(area.x())
                                        .arg(area.y())
                                        .arg(area.width())
                                        .arg(area.height()),
                                    "-t", "ppm", "-"},
                                   5000, &bOk);
        return bOk ? QImage::fromData(ppm, "PPM").convertToFormat(QImage::Format_RGB32) : QImage();
    }

    // The program's icon in the bar: what differs there from the bar's own colour.
    QRect TrayIcon(int nTimeoutMs) {
        QElapsedTimer clock;
        clock.start();
        do {
            const QRect icon = IconNow();
            if (icon.isValid()) return icon;
            Sleep(100);
        } while (clock.elapsed() < nTimeoutMs);
        return {};
    }
    EPicture Picture(const QRect& icon) {
        const QImage image = Screen(icon);
        return image.isNull() ? EPicture::None : PictureOf(image);
    }
    // The picture the icon shows once it settles on the wanted one, or the last one seen.
    EPicture PictureWithin(const QRect& icon, EPicture wanted, int nTimeoutMs) {
        QElapsedTimer clock;
        clock.start();
        EPicture picture = EPicture::None;
        while ((picture = Picture(icon)) != wanted && clock.elapsed() < nTimeoutMs) Sleep(50);
        return picture;
    }

    // A window by its title, as the compositor has it.
    bool WindowShown(const QString& strTitle, int nTimeoutMs) {
        QElapsedTimer clock;
        clock.start();
        do {
            bool bOk = false;
            if (m_desktop == EDesktop::Gnome) {
                // The titles are the program's own, without quotes.
                if (Eval("global.get_window_actors().some(a => a.visible && "
                         "a.meta_window.get_title() === '" +
                         strTitle + "')") == "true")
                    return true;
                Sleep(100);
                continue;
            }
            const QByteArray tree = Run({"swaymsg", "-r", "-t", "get_tree"}, 5000, &bOk);
            if (bOk && HasTitle(QJsonDocument::fromJson(tree).object(), strTitle)) return true;
            Sleep(100);
        } while (clock.elapsed() < nTimeoutMs);
        return false;
    }

    // The user's mouse.
    bool Pointer(const QString& strCommand) {
        m_pointer.write(strCommand.toLatin1() + '\n');
        return ReadLine(m_pointer, 5000) == "ok";
    }
    bool Click(const QPoint& at, const char* pszButton) {
        return Pointer(QStringLiteral("move %1 %2").arg(at.x()).arg(at.y())) &&
               Pointer(QStringLiteral("click ") + pszButton);
    }
    // Out of the way of the bar, so nothing there is hovered.
    bool PointerAway() { return Pointer("move 500 600"); }

    // The items the bar's watcher has registered, each as its bus name and object path.
    QList<QPair<QString, QString>> Items() {
        bool bOk = false;
        const QByteArray reply =
            Run({"gdbus", "call", "--session", "--dest", "org.kde.StatusNotifierWatcher",
                 "--object-path", "/StatusNotifierWatcher", "--method",
                 "org.freedesktop.DBus.Properties.Get", "org.kde.StatusNotifierWatcher",
                 "RegisteredStatusNotifierItems"},
                5000, &bOk);
        QList<QPair<QString, QString>> items;
        // (<['service/path', ...]>,); GNOME Shell's: 'service@/path'.
        static const QRegularExpression kQuoted("'([^']*)'");
        for (auto match = kQuoted.globalMatch(QString::fromUtf8(reply)); match.hasNext();) {
            const QString entry = match.next().captured(1);
            const qsizetype slash = entry.indexOf('/');
            if (slash < 0)
                items.append({entry, "/StatusNotifierItem"});
            else
                items.append({entry.left(slash).section('@', 0, 0), entry.mid(slash)});
        }
        return items;
    }
    // Reads one property of the item as a host does; the time it took, or -1 when no answer
    // came within 2 s.
    qint64 ReadItem(const QPair<QString, QString>& item, const char* pszProperty) {
        QElapsedTimer clock;
        clock.start();
        bool bOk = false;
        const QByteArray reply =
            Run({"dbus-send", "--session", "--print-reply", "--reply-timeout=2000",
                 "--dest=" + item.first, item.second, "org.freedesktop.DBus.Properties.Get",
                 "string:org.kde.StatusNotifierItem", QStringLiteral("string:") + pszProperty},
                5000, &bOk);
        const qint64 nMs = clock.elapsed();
        return bOk && !reply.isEmpty() ? nMs : -1;
    }

private:
    QProcessEnvironment Environment() const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const QString& setting : Session())
            env.insert(setting.section('=', 0, 0), setting.section('=', 1));
        env.insert("SWAYSOCK", m_strRuntime + "/sway-ipc");
        env.insert("XDG_CONFIG_HOME", m_strRuntime + "/home/.config");
        // GTK's accessibility bus and settings daemon would be started through the bus and
        // outlive the session.
        env.insert("NO_AT_BRIDGE", "1");
        env.insert("GSETTINGS_BACKEND", "memory");
        env.remove("DISPLAY");
        if (m_desktop == EDesktop::Gnome) {
            // GNOME Shell's settings from a key file in the session's home, its extensions
            // there too, and a system bus of the session's own, without which it dies at start.
            env.insert("GSETTINGS_BACKEND", "keyfile");
            env.insert("XDG_DATA_HOME", m_strRuntime + "/home/.local/share");
            env.insert("DBUS_SYSTEM_BUS_ADDRESS", m_strSystemBus);
        }
        return env;
    }

    // GNOME Shell's answer to a script, unquoted; empty when it gave none.
    QString Eval(const QString& strScript) {
        bool bOk = false;
        const QByteArray reply =
            Run({"gdbus", "call", "--session", "--dest", "org.gnome.Shell", "--object-path",
                 "/org/gnome/Shell", "--method", "org.gnome.Shell.Eval", strScript},
                5000, &bOk);
        // (true, 'ANSWER')
        static const QRegularExpression kAnswer("^\\(true, '(.*)'\\)$");
        const QRegularExpressionMatch match = kAnswer.match(QString::fromUtf8(reply.trimmed()));
        return bOk && match.hasMatch() ? match.captured(1) : QString();
    }
    // Enables or disables the AppIndicator extension, as the Extensions application does.
    bool Extension(const char* pszMethod) {
        bool bOk = false;
        Run({"gdbus", "call", "--session", "--dest", "org.gnome.Shell", "--object-path",
             "/org/gnome/Shell", "--method",
             QStringLiteral("org.gnome.Shell.Extensions.") + pszMethod, kAppIndicator},
            5000, &bOk);
        return bOk;
    }

    // A command as the session's user; its standard output.
    QByteArray Run(const QStringList& command, int nTimeoutMs, bool* pbOk) {
        QProcess process;
        process.setProcessEnvironment(Environment());
        const QStringList full = AsUser(command);
        process.start(full.first(), full.mid(1));
        *pbOk = process.waitForFinished(nTimeoutMs) &&
                process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished();
        }
        return process.readAllStandardOutput();
    }

    bool Fail(const QString& strWhy) {
        m_strFailure = strWhy;
        return false;
    }

    // The runtime folder, the user's own and closed to others as a login's is, with what the
    // session's programs read: the configurations, the program and the sanitizers' list.
    bool Prepare() {
        if (!m_runtime.isValid()) return Fail("no temporary folder");
        m_strRuntime = m_runtime.path();
        QDir runtime(m_strRuntime);
        if (!runtime.mkpath("home/.config") || !runtime.mkpath("bin"))
            return Fail("cannot fill " + m_strRuntime);
        const QString config = QStringLiteral(QV_WAYLAND_CONFIG_DIR);
        const QString program = QStringLiteral(QV_QUORVANE_PATH);
        const QString programDir = QFileInfo(program).absolutePath();
        QList<QPair<QString, QString>> copies = {
            {QStringLiteral(QV_LSAN_SUPPRESSIONS), "lsan.supp"},
            {program, "bin/quorvane"},
            {programDir + "/libquorvane_sound.so", "bin/libquorvane_sound.so"}};
        if (m_desktop == EDesktop::Gnome) {
            // GNOME Shell's settings as on X11.
            for (const CHostFile& file : TrayHost("gnome-shell")->files)
                copies += {QStringLiteral(QV_HOSTS_DIR "/") + file.pszSource,
                           QStringLiteral("home/") + file.pszHome};
            copies += {QStringLiteral(QV_GNOME_POINTER_PATH), "bin/qvpointer"};
        } else
            copies += {{config + "/sway.config", "sway.config"},
                       {config + "/waybar.json", "waybar.json"},
                       {config + "/waybar.css", "waybar.css"},
                       {QStringLiteral(QV_POINTER_PATH), "bin/qvpointer"}};
        for (const auto& copy : copies) {
            if (!runtime.mkpath(QFileInfo(copy.second).path()) ||
                !QFile::copy(copy.first, m_strRuntime + "/" + copy.second))
                return Fail("cannot copy " + copy.first);
        }
        QProcess chown;
        chown.start("chown", {"-R", QStringLiteral("%1:%1").arg(kUser), m_strRuntime});
        if (!chown.waitForFinished(5000) || chown.exitCode() != 0 ||
            ::chmod(QFile::encodeName(m_strRuntime).constData(), 0700) != 0)
            return Fail("cannot give " + m_strRuntime + " to the session's user");
        return true;
    }

    bool StartBus() {
        const QStringList command =
            AsUser({"dbus-daemon", "--session", "--nofork", "--nopidfile",
                    "--address=unix:path=" + m_strRuntime + "/bus", "--print-address"});
        m_bus.start(command.first(), command.mid(1));
        const QByteArray address = ReadLine(m_bus, 10000);
        if (address.isEmpty()) return Fail("dbus-daemon: " + m_bus.readAllStandardError());
        m_strBus = QString::fromLatin1(address);
        if (m_desktop != EDesktop::Gnome) return true;
        const QStringList system =
            AsUser({"dbus-daemon", "--session", "--nofork", "--nopidfile",
                    "--address=unix:path=" + m_strRuntime + "/system-bus", "--print-address"});
        m_systemBus.start(system.first(), system.mid(1));
        const QByteArray systemAddress = ReadLine(m_systemBus, 10000);
        if (systemAddress.isEmpty())
            return Fail("dbus-daemon: " + m_systemBus.readAllStandardError());
        m_strSystemBus = QString::fromLatin1(systemAddress);
        return true;
    }

    bool StartCompositor() {
        if (m_desktop == EDesktop::Gnome) return StartShell();
        QProcessEnvironment env = Environment();
        // No display hardware and no input devices: one virtual screen, drawn by the CPU.
        env.insert("WLR_BACKENDS", "headless");
        env.insert("WLR_LIBINPUT_NO_DEVICES", "1");
        env.insert("WLR_RENDERER", "pixman");
        m_compositor.setProcessEnvironment(env);
        m_compositor.setStandardOutputFile(m_strRuntime + "/sway.log");
        m_compositor.setStandardErrorFile(m_strRuntime + "/sway.log", QIODevice::Append);
        const QStringList command = AsUser({"sway", "-c", m_strRuntime + "/sway.config"});
        m_compositor.start(command.first(), command.mid(1));
        if (!m_compositor.waitForStarted(5000)) return Fail("sway does not start");
        // Its display socket has the first free name; the screen is there once sway answers.
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 15000 && m_compositor.state() == QProcess::Running) {
            const QStringList sockets = QDir(m_strRuntime)
                                            .entryList({"wayland-*"}, QDir::System)
                                            .filter(QRegularExpression("^wayland-\\d+$"));
            if (!sockets.isEmpty() && QFileInfo::exists(m_strRuntime + "/sway-ipc")) {
                m_strDisplay = sockets.first();
                bool bOk = false;
                const QByteArray outputs = Run({"swaymsg", "-r", "-t", "get_outputs"}, 5000, &bOk);
                if (bOk && outputs.contains("HEADLESS-1")) return true;
            }
            Sleep(100);
        }
        QFile log(m_strRuntime + "/sway.log");
        log.open(QIODevice::ReadOnly);
        return Fail("sway: no screen; its log:\n" + QString::fromUtf8(log.readAll()));
    }

    // GNOME Shell, headless, with one virtual monitor; up once it has started, with the
    // test's extension enabled (the workspace shown, the screenshots allowed).
    bool StartShell() {
        m_compositor.setProcessEnvironment(Environment());
        m_compositor.setStandardOutputFile(m_strRuntime + "/shell.log");
        m_compositor.setStandardErrorFile(m_strRuntime + "/shell.log", QIODevice::Append);
        const QStringList command =
            AsUser({"gnome-shell", "--headless", "--wayland", "--no-x11", "--virtual-monitor",
                    QStringLiteral("%1x%2").arg(kScreenWidth).arg(kScreenHeight)});
        m_compositor.start(command.first(), command.mid(1));
        if (!m_compositor.waitForStarted(5000)) return Fail("gnome-shell does not start");
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 30000 && m_compositor.state() == QProcess::Running) {
            const QStringList sockets = QDir(m_strRuntime)
                                            .entryList({"wayland-*"}, QDir::System)
                                            .filter(QRegularExpression("^wayland-\\d+$"));
            if (!sockets.isEmpty() &&
                Eval("!Main.layoutManager._startingUp && global.context.unsafe_mode") == "true" &&
                !Screen(Bar()).isNull()) {
                m_strDisplay = sockets.first();
                return true;
            }
            Sleep(100);
        }
        QFile log(m_strRuntime + "/shell.log");
        log.open(QIODevice::ReadOnly);
        return Fail("gnome-shell: not up; its log:\n" + QString::fromUtf8(log.readAll()));
    }

    bool StartPointer() {
        m_pointer.setProcessEnvironment(Environment());
        const QStringList command =
            AsUser({m_strRuntime + "/bin/qvpointer", QString::number(kScreenWidth),
                    QString::number(kScreenHeight)});
        m_pointer.start(command.first(), command.mid(1));
        if (ReadLine(m_pointer, 5000) != "ok")
            return Fail("no pointer: " + m_pointer.readAllStandardError());
        // The compositor draws it into the screen: off the bar from the start.
        return PointerAway() || Fail("the pointer does not move");
    }

    bool HasWatcher() {
        bool bOk = false;
        const QByteArray reply =
            Run({"gdbus", "call", "--session", "--dest", "org.freedesktop.DBus", "--object-path",
                 "/org/freedesktop/DBus", "--method", "org.freedesktop.DBus.NameHasOwner",
                 "org.kde.StatusNotifierWatcher"},
                5000, &bOk);
        return bOk && reply.contains("true");
    }

    // The bar's colour where no module is, once the bar is drawn.
    QColor BarColour() {
        const QImage bar = Screen(QRect(0, 0, 8, kBarHeight));
        if (bar.isNull()) return {};
        const QColor colour = bar.pixelColor(4, kBarHeight / 2);
        return colour == QColor(0x80, 0x80, 0x80) ? colour : QColor();
    }

    QRect IconNow() {
        const QImage bar = Screen(Bar());
        if (bar.isNull()) return {};
        if (m_desktop == EDesktop::Gnome) {
            // Its top bar holds other icons and text: the icon is where its colours are.
            CPictureCount count;
            for (int y = 0; y < bar.height(); ++y) {
                for (int x = 0; x < bar.width(); ++x) {
                    const QRgb pixel = bar.pixel(x, y);
                    count.Add(qRed(pixel), qGreen(pixel), qBlue(pixel), QPoint(x, y));
                }
            }
            const QRect found = count.Area();
            if (found.width() < 8 || found.width() > 48 || found.height() < 8) return {};
            return found;
        }
        const QRgb background = bar.pixel(4, kBarHeight / 2);
        QRect found;
        for (int y = 0; y < bar.height(); ++y) {
            for (int x = 0; x < bar.width(); ++x) {
                const QRgb pixel = bar.pixel(x, y);
                if (std::abs(qRed(pixel) - qRed(background)) +
                        std::abs(qGreen(pixel) - qGreen(background)) +
                        std::abs(qBlue(pixel) - qBlue(background)) >
                    48)
                    found |= QRect(x, y, 1, 1);
            }
        }
        // A tray icon's size, not a menu or a tooltip over the bar.
        if (found.width() < 8 || found.width() > 48 || found.height() < 8) return {};
        return found;
    }

    const EDesktop m_desktop;
    QTemporaryDir m_runtime;
    QString m_strRuntime;
    QString m_strBus;
    QString m_strSystemBus;
    QString m_strDisplay;
    QString m_strFailure;
    QProcess m_bus;
    QProcess m_systemBus;
    QProcess m_compositor;
    QProcess m_pointer;
    std::unique_ptr<QProcess> m_pBar;
    bool m_bUp = false;
};

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
