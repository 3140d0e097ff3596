#pragma once
// The notification icon on the Linux desktop. Tray hosts on the session bus (a
// StatusNotifierWatcher: Xfce, LXQt, Plasma, waybar, GNOME with AppIndicator) get our own
// StatusNotifierItem; an X11 session without one gets Qt's XEmbed icon, which docks into an
// XEmbed tray whenever one runs. Which of the two shows follows the bus as hosts start, stop and
// restart, before or after the program started; nothing here ever waits for a host. A watcher
// alone proves nothing (any peer can take its name): the XEmbed icon goes only once the watcher
// says a host is registered and has taken our item.

#include <QDBusConnection>
#include <QIcon>
#include <QObject>
#include <QString>
#include <QTimer>
#include <map>
#include <memory>
#include <optional>

#include "base/wintypes.h"

class CQtStatusItem;
class CWnd;
class QDBusServiceWatcher;
class QSystemTrayIcon;
struct CNotifyIconData;

// What a user on these desktops (XDG_CURRENT_DESKTOP's list) can do when no notification area
// is running, to go in the line that says so: " (...)", or empty where there is nothing to say.
const char* NoTrayHint(const char* pszDesktops);

class CQtTray {
public:
    // strAppName: the program's name, for its one notice on stderr and its id on the bus.
    explicit CQtTray(const CString& strAppName);
    ~CQtTray();
    CQtTray(const CQtTray&) = delete;
    CQtTray& operator=(const CQtTray&) = delete;

    // NIM_ADD, NIM_MODIFY and NIM_DELETE as the shell takes them. True when the icon is
    // known to be shown somewhere now; a host being asked has not answered yet.
    bool Notify(DWORD dwMessage, const CNotifyIconData& data);

private:
    void Apply(const CNotifyIconData& data);
    // Hands the picture on to the item and the XEmbed icon, where it differs.
    void ShowPicture();
    // Each picture is decoded once and kept: every tick shows two of them.
    const QIcon& IconOf(UINT nIconId);
    // The picture's name in the program's own icon theme, empty without one.
    QString ThemeNameOf(UINT nIconId) const;
    void Start();
    // What the bus says of the watcher: its owner's unique name, empty for none.
    void OnWatcherOwner(const QString& strOwner);
    void Register();
    // Asks the watcher whether a host is registered; its answer, or its silence, comes later.
    void AskForHost();
    // Asks the bus which process holds the watcher. GNOME Shell's AppIndicator extension shows
    // the item's menu on a left click (activating it only on a double click), so there the
    // menu gets an Open entry first, which does what a left click does elsewhere.
    void AskWhoWatches(const QString& strOwner);
    // The bus's icon where a host shows it, XEmbed's otherwise.
    void Update();
    void ShowFallback();
    void DropFallback();
    bool IsFallbackDocked() const;
    void Deliver(UINT nMouse);
    void SayIfNowhere();

    const CString m_strAppName;
    // The program's window and the message that tells it of clicks, from NIM_ADD.
    CWnd* m_pWnd = nullptr;
    UINT m_nCallback = 0;
    UINT m_nId = 0;
    bool m_bAdded = false;
    // The picture and the tip as last handed over.
    UINT m_nIconId = 0;
    // The picture the XEmbed icon has.
    UINT m_nFallbackIconId = 0;
    // Runs from a change of the picture until it is shown.
    QTimer m_showTimer;
    std::map<UINT, QIcon> m_icons;
    // The folder of the program's icon theme, for hosts that look pictures up by name.
    QString m_strIconTheme;
    QString m_strTip;

    std::optional<QDBusConnection> m_bus;
    std::unique_ptr<CQtStatusItem> m_pItem;
    std::unique_ptr<QDBusServiceWatcher> m_pWatcher;
    bool m_bWatcherKnown = false;
    QString m_strWatcherOwner;
    // Counts the watchers seen, so that a registration's late answer for one gone is ignored.
    unsigned m_nWatcherGeneration = 0;
    // The watcher took our item, and says a host is registered with it.
    bool m_bRegistered = false;
    // Our item is offered and the watcher has not answered yet (within kWatcherTimeoutMs).
    bool m_bRegistering = false;
    bool m_bHost = false;
    // The watcher answered our last question (a stalled one has not).
    bool m_bWatcherAnswers = false;

    std::unique_ptr<QSystemTrayIcon> m_pFallback;
    // Qt has made its choice of tray for this process (its first icon is made).
    bool m_bTrayChosen = false;
    // Qt chose its own D-Bus tray for its icons (a watcher came in the very instant the first
    // one was made): no XEmbed icon can be had in this process.
    bool m_bNoFallback = false;
    bool m_bSaidNowhere = false;

    // Owns every callback from the bus: none comes once it is gone.
    QObject m_context;
};
