#pragma once
// The desktops' notification areas that read the icon from the session bus, as one table: what
// each needs in the session's home (its settings as a user would have them, files of the
// hosts folder), how it starts, and how it shows the items. A test drives them all alike; a
// new host is a row here and its settings beside this file.
#include <QByteArray>
#include <QColor>
#include <QList>
#include <QRect>
#include <QString>
#include <QStringList>

struct CHostFile {
    const char* pszSource;  // in the hosts folder
    const char* pszHome;    // where the host reads it, in the session's home
};

struct CTrayHostDriver {
    const char* pszName;  // its panel's window class too
    QList<CHostFile> files;
    QList<QStringList> commands;  // started in this order, ended in the reverse one
    QStringList env;              // NAME=VALUE besides the session's
    bool bOwnSystemBus;           // dies at start without a system bus: a private one
    // The daemon module that holds the watcher: nothing asks for it outside the desktop's own
    // session start-up, so the test does.
    const char* pszWatcherModule;
    bool bManagesWindows;   // it is the window manager too
    bool bMenuOnLeftClick;  // a left click shows the item's menu
    QRect area;  // where it always draws the items; empty: its panel window, wherever it is
    // Its first settings file with the panel's background set to a colour, as the user sets
    // it in the panel's preferences; null: no such setting here.
    QByteArray (*pfnBackground)(const QByteArray& settings, const QColor& colour);
};

// Xfce's panel: a solid colour instead of the theme's, as four doubles.
inline QByteArray XfceBackground(const QByteArray& settings, const QColor& colour) {
    QByteArray rgba =
        "<property name=\"background-style\" type=\"uint\" value=\"1\"/>\n"
        "<property name=\"background-rgba\" type=\"array\">\n";
    for (const float value : {colour.redF(), colour.greenF(), colour.blueF(), 1.0f})
        rgba += "<value type=\"double\" value=\"" + QByteArray::number(value, 'f', 6) + "\"/>\n";
    rgba += "</property>\n";
    QByteArray result = settings;
    const qsizetype at = result.indexOf("<property name=\"plugin-ids\"");
    return at < 0 ? QByteArray() : result.insert(at, rgba);
}

// LXQt's panel: a colour instead of the theme's, in the panel's own section.
inline QByteArray LxqtBackground(const QByteArray& settings, const QColor& colour) {
    QByteArray result = settings;
    const QByteArray section = "[panel1]\n";
    const qsizetype at = result.indexOf(section);
    return at < 0 ? QByteArray()
                  : result.insert(at + section.size(),
                                  "background-color=" + colour.name().toLatin1() + "\n");
}

inline const QList<CTrayHostDriver>& TrayHosts() {
    static const QList<CTrayHostDriver> hosts = {
        // Xfce's panel; its settings store, started by the bus, reads the settings. The systray
        // plugin hosts both XEmbed icons and items.
        {"xfce4-panel",
         {{"xfce4-panel.xml", ".config/xfce4/xfconf/xfce-perchannel-xml/xfce4-panel.xml"}},
         {{"xfce4-panel"}},
         {},
         false,
         nullptr,
         false,
         false,
         QRect(),
         XfceBackground},
        // LXQt's panel with its status notifier plugin alone.
        {"lxqt-panel",
         {{"lxqt-panel.conf", ".config/lxqt/panel.conf"}},
         {{"lxqt-panel"}},
         {},
         false,
         nullptr,
         false,
         false,
         QRect(),
         LxqtBackground},
        // GNOME Shell, the window manager whose AppIndicator extension holds the items in the
        // top bar, drawn into its own window over the whole screen; settings from a key file,
        // with the extension and the tests' own enabled.
        {"gnome-shell",
         {{"gnome-shell/settings", ".config/glib-2.0/settings/keyfile"},
          {"gnome-shell/extension.js",
           ".local/share/gnome-shell/extensions/qvtest@quorvane/"
           "extension.js"},
          {"gnome-shell/metadata.json",
           ".local/share/gnome-shell/extensions/qvtest@quorvane/"
           "metadata.json"}},
         {{"gnome-shell", "--x11", "--replace", "--sm-disable"}},
         {"GSETTINGS_BACKEND=keyfile"},
         true,
         nullptr,
         true,
         true,
         QRect(0, 0, 1024, 32),
         nullptr},
        // Plasma: its window manager, its services daemon (which holds the watcher) and its
        // shell, whose default panel holds the system tray.
        {"plasmashell",
         {},
         {{"kwin_x11", "--replace"}, {"kded5"}, {"plasmashell"}},
         {},
         false,
         "statusnotifierwatcher",
         true,
         false,
         QRect(),
         nullptr},
    };
    return hosts;
}

inline const CTrayHostDriver* TrayHost(const QString& strName) {
    for (const CTrayHostDriver& host : TrayHosts())
        if (strName == QLatin1String(host.pszName)) return &host;
    return nullptr;
}
