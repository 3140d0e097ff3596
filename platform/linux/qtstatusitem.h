#pragma once
// The notification icon as a tray host on the session bus sees it: a StatusNotifierItem (the
// picture, the tip, the clicks) with its menu (com.canonical.dbusmenu): the About entry, and
// before it an Open entry for hosts that show the menu on a left click, where the user has no
// other way to the dialog. Xfce, LXQt, Plasma, waybar and GNOME's AppIndicator extension read
// these. Every request of the host is
// answered at once from what is kept here; nothing here ever waits for the host.

#include <QDBusConnection>
#include <QIcon>
#include <QString>
#include <functional>
#include <memory>

class CQtStatusItem {
public:
    // What the host asks for on the user's behalf.
    enum class ERequest { Activate, SecondaryActivate, ContextMenu, OpenEntry, AboutEntry };

    // Exports the item at kItemPath and its menu on connection. strId names the program to
    // the host; strOpenLabel and strAboutLabel are the menu's entries, the first one hidden
    // until SetOpenEntry. onRequest hears of a request only after the host has had its reply,
    // from the event loop: a box it opens never holds a reply.
    CQtStatusItem(const QDBusConnection& connection, const QString& strId,
                  const QString& strOpenLabel, const QString& strAboutLabel,
                  std::function<void(ERequest)> onRequest);
    ~CQtStatusItem();
    CQtStatusItem(const CQtStatusItem&) = delete;
    CQtStatusItem& operator=(const CQtStatusItem&) = delete;

    // False when the paths were taken on the connection already.
    bool IsExported() const;

    // Changes announce themselves to the host, which reads them when it likes. The pixels
    // drawn from an icon are kept by its key: hand the same QIcon for the same picture.
    // strName names the picture in the theme at SetIconThemePath's folder; a host that finds
    // it there draws it at its own size, and one that does not takes the pixels.
    void SetIcon(const QIcon& icon, const QString& strName = QString());
    // Before the item is registered: hosts read it with the rest.
    void SetIconThemePath(const QString& strPath);
    // The tip, which is also the item's title.
    void SetToolTip(const QString& strText);
    // Active is shown, Passive hidden.
    void SetActive(bool bActive);
    // Shows or hides the Open entry, at the top of the menu; the host hears of the change.
    void SetOpenEntry(bool bShown);

    // The object path a watcher is given to register the item.
    static constexpr char kItemPath[] = "/StatusNotifierItem";

    class CImpl;

private:
    std::unique_ptr<CImpl> m_pImpl;
};
