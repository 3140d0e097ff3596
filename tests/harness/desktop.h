#pragma once
// An X11 desktop session for the end-to-end tests: Xvfb, a session bus and a window manager
// (icewm, whose notification area is an XEmbed tray host), with what a test needs to look at
// it (windows, their properties, the tray pictures by their pixels) and to act on it as the
// user (xdotool). Header-only, shared by the desktop tests.

#include <signal.h>
#include <xcb/xcb.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRect>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "harness/bus.h"
#include "harness/panellook.h"
#include "harness/picture.h"
#include "harness/wait.h"

// The main dialog's caption, by which the tests find its window.
inline constexpr char kDialogCaption[] = "Quorvane by Harrowbecks Software, Inc.";

// One X server with a window manager and a notification area, and a connection to it.
class CDesktop {
public:
    // A session with or without a notification area, at the look's scale; icewm's taskbar
    // in the look's colour.
    explicit CDesktop(bool bWithTray = true, const CPanelLook& look = {}) : m_look(look) {
        m_server.start("Xvfb",
                       {"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
        const QByteArray number = ReadLine(m_server, 10000);
        if (number.isEmpty()) return;
        m_strDisplay = ":" + QString::fromLatin1(number);
        m_pConnection = xcb_connect(m_strDisplay.toLatin1().constData(), nullptr);
        if (xcb_connection_has_error(m_pConnection) != 0) return;
        m_root = xcb_setup_roots_iterator(xcb_get_setup(m_pConnection)).data->root;

        // The session's message bus, which every desktop has and Qt looks for. What it starts
        // on demand (a panel's settings store, Plasma's activity manager) lives in this
        // session's home and on its display too.
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const QString& setting : Home())
            env.insert(setting.section('=', 0, 0), setting.section('=', 1));
        env.insert("DISPLAY", m_strDisplay);
        m_bus.setProcessEnvironment(env);
        m_strBus = StartBus(m_bus);
        if (m_strBus.isEmpty()) return;

        m_bUp = !bWithTray || StartTray();
    }
    // Starts the window manager, whose notification area is the tray host; true once it owns
    // the tray selection.
    bool StartTray() {
        if (!StartIcewm(true)) return false;
        return WaitFor([this] { return SelectionOwner("_NET_SYSTEM_TRAY_S0") != XCB_NONE; });
    }
    // Starts the window manager alone, with no taskbar and so no notification area of its
    // own; true once it manages the screen.
    bool StartWindowManager() {
        if (!StartIcewm(false)) return false;
        return WaitFor([this] { return !Cardinals(m_root, "_NET_SUPPORTING_WM_CHECK").empty(); });
    }
    // Ends the window manager, and its notification area with it.
    bool StopWindowManager() {
        m_wm.terminate();
        return m_wm.waitForFinished(5000);
    }
    ~CDesktop() {
        if (m_pConnection != nullptr) xcb_disconnect(m_pConnection);
        EndBusServices();
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
        return QStringList{"QT_QPA_PLATFORM=xcb", "DISPLAY=" + m_strDisplay,
                           "DBUS_SESSION_BUS_ADDRESS=" + m_strBus} +
               m_look.Environment();
    }
    // The session's own home and settings, for the desktop's programs.
    QStringList Home() const {
        return {"HOME=" + m_home.path(), "XDG_CONFIG_HOME=" + m_home.filePath(".config"),
                "XDG_CACHE_HOME=" + m_home.filePath(".cache"),
                "XDG_DATA_HOME=" + m_home.filePath(".local/share")};
    }
    QString HomePath() const { return m_home.path(); }
    QString BusAddress() const { return m_strBus; }

    xcb_window_t SelectionOwner(const char* pszSelection) {
        std::unique_ptr<xcb_get_selection_owner_reply_t, decltype(&std::free)> owner(
            xcb_get_selection_owner_reply(
                m_pConnection, xcb_get_selection_owner(m_pConnection, Atom(pszSelection)), nullptr),
            &std::free);
        return owner ? owner->owner : XCB_NONE;
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
        if (!values.empty()) std::memcpy(values.data(), bytes.constData(), values.size() * 4);
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

    // A menu that has come up on the screen.
    xcb_window_t PopupMenu(int nTimeoutMs) {
        return Wait(nTimeoutMs, [this](xcb_window_t window, xcb_window_t parent) {
            return parent == m_root && IsViewable(window) && Geometry(window).width() > 20 &&
                   HasAtom(window, "_NET_WM_WINDOW_TYPE", "_NET_WM_WINDOW_TYPE_POPUP_MENU");
        });
    }
    // A panel across the screen, by its program's class (not the desktop behind it, which
    // some have too).
    xcb_window_t Panel(const QByteArray& windowClass, int nTimeoutMs) {
        return Wait(nTimeoutMs, [this, windowClass](xcb_window_t window, xcb_window_t) {
            const QRect geometry = Geometry(window);
            return Property(window, "WM_CLASS").startsWith(windowClass) && IsViewable(window) &&
                   geometry.width() >= 500 && geometry.height() <= 100;
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
        return Count(window, QRect(QPoint(0, 0), Geometry(window).size())).Picture();
    }
    // What shows in an area of the screen, and where the icon is in it.
    CPictureCount CountOnScreen(const QRect& area) { return Count(m_root, area); }
    // An area of the screen as it shows now.
    QImage Screen(const QRect& area) {
        QImage image(area.size(), QImage::Format_RGB32);
        std::unique_ptr<xcb_get_image_reply_t, decltype(&std::free)> reply(
            xcb_get_image_reply(
                m_pConnection,
                xcb_get_image(m_pConnection, XCB_IMAGE_FORMAT_Z_PIXMAP, m_root,
                              static_cast<int16_t>(area.x()), static_cast<int16_t>(area.y()),
                              static_cast<uint16_t>(area.width()),
                              static_cast<uint16_t>(area.height()), ~0u),
                nullptr),
            &std::free);
        if (!reply || xcb_get_image_data_length(reply.get()) < area.width() * area.height() * 4)
            return {};
        const uint8_t* pixels = xcb_get_image_data(reply.get());
        for (int y = 0; y < area.height(); ++y)
            std::memcpy(image.scanLine(y), pixels + 4 * area.width() * y, 4 * area.width());
        return image;
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
    bool Click(xcb_window_t window) { return ClickAt(Geometry(window).center()); }
    bool ClickAt(const QPoint& at, int nButton = 1) {
        return Xdotool({"mousemove", QString::number(at.x()), QString::number(at.y()), "click",
                        QString::number(nButton)});
    }
    // The pointer off every panel and icon, where no host highlights anything under it.
    bool PointerAway() { return Xdotool({"mousemove", "512", "384"}); }
    bool Keys(xcb_window_t window, const QString& keys) { return Keys(window, QStringList{keys}); }
    // Keys pressed one after the other, as the user would.
    bool Keys(xcb_window_t window, const QStringList& keys) {
        return Xdotool({"windowactivate", "--sync", QString::number(window)}) &&
               Xdotool(QStringList{"key", "--clearmodifiers", "--delay", "50"} + keys);
    }
    // The program's dialog, opened with a left click on its tray icon.
    xcb_window_t OpenDialog() {
        const xcb_window_t icon = TrayIcon(10000);
        if (icon == XCB_NONE || !Click(icon)) return XCB_NONE;
        return WindowNamed(kDialogCaption, 10000);
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
    // Ends what the bus started on demand (a desktop's helpers) while it is there, and so is
    // whatever reaps them: some outlive their bus. They are the processes left with this
    // session's bus in their environment once the test's own have ended.
    void EndBusServices() {
        if (m_bus.state() != QProcess::Running) return;
        const QByteArray setting = "DBUS_SESSION_BUS_ADDRESS=" + m_strBus.toLatin1();
        const auto left = [&setting] {
            std::vector<pid_t> pids;
            for (const QString& strPid : QDir("/proc").entryList(QDir::Dirs)) {
                QFile environment("/proc/" + strPid + "/environ");
                if (strPid.toInt() > 0 && environment.open(QIODevice::ReadOnly) &&
                    environment.readAll().split('\0').contains(setting))
                    pids.push_back(static_cast<pid_t>(strPid.toInt()));
            }
            return pids;
        };
        for (const pid_t pid : left()) ::kill(pid, SIGTERM);
        QElapsedTimer clock;
        clock.start();
        while (!left().empty() && clock.elapsed() < 3000) Sleep(50);
        for (const pid_t pid : left()) ::kill(pid, SIGKILL);
    }
    // The pixels of source, an area of drawable, counted; the area found is in screen
    // coordinates.
    CPictureCount Count(xcb_window_t drawable, const QRect& source) {
        CPictureCount count;
        if (source.isEmpty()) return count;
        std::unique_ptr<xcb_get_image_reply_t, decltype(&std::free)> image(
            xcb_get_image_reply(
                m_pConnection,
                xcb_get_image(m_pConnection, XCB_IMAGE_FORMAT_Z_PIXMAP, drawable,
                              static_cast<int16_t>(source.x()), static_cast<int16_t>(source.y()),
                              static_cast<uint16_t>(source.width()),
                              static_cast<uint16_t>(source.height()), ~0u),
                nullptr),
            &std::free);
        if (!image || xcb_get_image_data_length(image.get()) < source.width() * source.height() * 4)
            return count;
        const QPoint origin = Geometry(drawable).topLeft() + source.topLeft();
        const uint8_t* pixels = xcb_get_image_data(image.get());
        for (int y = 0; y < source.height(); ++y) {
            for (int x = 0; x < source.width(); ++x, pixels += 4)
                count.Add(pixels[2], pixels[1], pixels[0], origin + QPoint(x, y));
        }
        return count;
    }
    bool StartIcewm(bool bWithTray) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DISPLAY", m_strDisplay);
        env.insert("DBUS_SESSION_BUS_ADDRESS", m_strBus);
        env.insert("HOME", m_home.path());
        // Without its taskbar icewm has no notification area: another program is the host.
        QDir(m_home.path()).mkpath(".icewm");
        QFile preferences(m_home.filePath(".icewm/preferences"));
        if (!preferences.open(QIODevice::WriteOnly)) return false;
        preferences.write(bWithTray ? "" : "ShowTaskBar=0\n");
        preferences.close();
        // The look, over the theme's own settings: the taskbar's colour, and at scale 2 a
        // taskbar of twice the height whose tray icons get twice the pixels (icewm has no scale
        // of its own).
        QByteArray look;
        if (m_look.background.isValid())
            look += QString::asprintf("ColorDefaultTaskBar=\"rgb:%02x/%02x/%02x\"\n",
                                      m_look.background.red(), m_look.background.green(),
                                      m_look.background.blue())
                        .toLatin1();
        if (m_look.nScale > 1)
            look += QString::asprintf(
                        "TaskBarDoubleHeight=1\nTrayIconMaxHeight=%d\n"
                        "TrayIconMaxWidth=%d\n",
                        24 * m_look.nScale, 32 * m_look.nScale)
                        .toLatin1();
        QFile overrides(m_home.filePath(".icewm/prefoverride"));
        if (!overrides.open(QIODevice::WriteOnly) || overrides.write(look) != look.size())
            return false;
        overrides.close();
        m_wm.setProcessEnvironment(env);
        m_wm.setProcessChannelMode(QProcess::MergedChannels);
        m_wm.start("icewm", {});
        return m_wm.waitForStarted(5000);
    }
    template <typename Condition>
    static bool WaitFor(Condition condition) {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 15000) {
            if (condition()) return true;
            Sleep(100);
        }
        return false;
    }
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

    const CPanelLook m_look;
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
