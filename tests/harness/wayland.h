#pragma once
// A Wayland desktop session for the end-to-end tests, as nobody (sway refuses root): sway
// (headless) with waybar, whose tray is a StatusNotifierItem host, or GNOME Shell (headless)
// with its AppIndicator extension. What the bar shows is read from its pixels (grim; GNOME
// Shell's own screenshot interface), the user's clicks come from a virtual pointer (the
// compositor's, qvpointer; GNOME Shell's remote desktop interface, qvgnomepointer). A test that
// uses it is registered with qv_uses_wayland_session, which gives the paths it needs.
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QThread>
#include <map>
#include <memory>

#include "harness/bus.h"
#include "harness/panellook.h"
#include "harness/picture.h"
#include "harness/trayhosts.h"
#include "harness/wait.h"

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

inline EPicture PictureOf(const QImage& image) {
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
inline QStringList AsUser(const QStringList& command) {
    return QStringList{"setpriv", "--reuid=" + QString::number(kUser),
                       "--regid=" + QString::number(kUser), "--clear-groups"} +
           command;
}

inline void Stop(QProcess& process) {
    if (process.state() == QProcess::NotRunning) return;
    process.terminate();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished();
    }
}

// A window of sway's tree with the given title, anywhere in it.
inline bool HasTitle(const QJsonObject& node, const QString& strTitle) {
    if (node.value("name").toString() == strTitle && node.value("visible").toBool()) return true;
    for (const char* children : {"nodes", "floating_nodes"}) {
        for (const QJsonValue& child : node.value(children).toArray())
            if (HasTitle(child.toObject(), strTitle)) return true;
    }
    return false;
}

// One Wayland session: a runtime folder of the user's own, its session bus, the compositor with
// one headless screen, a pointer, and the bar when a test wants one (GNOME Shell's is its
// AppIndicator extension, enabled and disabled). sway's screen and bar take the look: the
// output's scale (the screen keeps its size in logical pixels; grabs come in the screen's own)
// and the bar's colour.
class CSession {
public:
    explicit CSession(EDesktop desktop, const CPanelLook& look = {})
        : m_desktop(desktop), m_look(look) {
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
        const QString config = QStringLiteral(QV_HOSTS_DIR "/sway");
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
        if (m_desktop == EDesktop::Sway && !SetLook()) return Fail("cannot set the bar's look");
        QProcess chown;
        chown.start("chown", {"-R", QStringLiteral("%1:%1").arg(kUser), m_strRuntime});
        if (!chown.waitForFinished(5000) || chown.exitCode() != 0 ||
            ::chmod(QFile::encodeName(m_strRuntime).constData(), 0700) != 0)
            return Fail("cannot give " + m_strRuntime + " to the session's user");
        return true;
    }

    // The output's scale, its mode grown with it, and the bar's colour, in the copies of the
    // settings.
    bool SetLook() {
        const auto edit = [this](const QString& strName, const QByteArray& from,
                                 const QByteArray& to) {
            QFile file(m_strRuntime + "/" + strName);
            if (!file.open(QIODevice::ReadWrite)) return false;
            QByteArray text = file.readAll();
            if (!text.contains(from)) return false;
            text.replace(from, to);
            return file.resize(0) && file.write(text) == text.size();
        };
        const QByteArray output = QStringLiteral("resolution %1x%2 position 0 0 scale %3")
                                      .arg(kScreenWidth * m_look.nScale)
                                      .arg(kScreenHeight * m_look.nScale)
                                      .arg(m_look.nScale)
                                      .toLatin1();
        return edit("sway.config", "resolution 1024x768 position 0 0 scale 1", output) &&
               edit("waybar.css", "background: #808080;",
                    "background: " + BarColourSet().name().toLatin1() + ";");
    }
    QColor BarColourSet() const {
        return m_look.background.isValid() ? m_look.background : QColor(0x80, 0x80, 0x80);
    }

    bool StartBus() {
        m_strBus = ::StartBus(m_bus, AsUser({}), "unix:path=" + m_strRuntime + "/bus");
        if (m_strBus.isEmpty()) return Fail("dbus-daemon: " + m_bus.readAllStandardError());
        if (m_desktop != EDesktop::Gnome) return true;
        m_strSystemBus =
            ::StartBus(m_systemBus, AsUser({}), "unix:path=" + m_strRuntime + "/system-bus");
        if (m_strSystemBus.isEmpty())
            return Fail("dbus-daemon: " + m_systemBus.readAllStandardError());
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
        return colour == BarColourSet() ? colour : QColor();
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
    const CPanelLook m_look;
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
