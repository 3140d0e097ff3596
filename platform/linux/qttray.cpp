#include "platform/linux/qttray.h"

#include <QApplication>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QFile>
#include <QGuiApplication>
#include <QSystemTrayIcon>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <utility>

#include "base/platform.h"
#include "framework/linux/qtbackend.h"
#include "framework/wnd.h"
#include "platform/linux/qticontheme.h"
#include "platform/linux/qtstatusitem.h"
#include "res/resource.h"
#include "res/resources.h"

namespace {

const QString kWatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kWatcherPath = QStringLiteral("/StatusNotifierWatcher");
// A picture goes to the tray from the event loop, so only one that lasts until the loop runs is
// shown. A tick changes the picture to probing and back: when the answer was there as soon as
// the request went (a server on this host), the loop never ran in between, and the change
// would only cost a repaint or, on the bus, an announcement that the host answers by reading
// the item again (LXQt's panel two properties, Xfce's, Plasma and waybar all of them) after
// both changes, when the picture is back. A request that waits runs the loop at once, and
// shows the probing picture for its whole wait.
constexpr int kShowAfterMs = 0;
// A watcher that has not said within this whether a host is there is taken to have none.
constexpr int kWatcherTimeoutMs = 5000;

// What a click of each button is, to the held input: one address each.
const void* KindOf(UINT nMouse) {
    static std::map<UINT, char> kinds;
    return &kinds[nMouse];
}

bool OnX11() { return QGuiApplication::platformName() == QLatin1String("xcb"); }

// Whether the process with that id is GNOME Shell, whose AppIndicator extension holds the
// watcher there; unknown when the process cannot be seen (another PID namespace, say). Its
// name is the kernel's, at most 15 bytes: no peer can make this read grow.
std::optional<bool> IsShellProcess(uint nPid) {
    if (nPid == 0) return std::nullopt;
    QFile comm(QStringLiteral("/proc/%1/comm").arg(nPid));
    if (!comm.open(QIODevice::ReadOnly)) return std::nullopt;
    return comm.read(64).trimmed() == "gnome-shell";
}

// The session says it is GNOME's.
bool OnGnomeDesktop() {
    return qEnvironmentVariable("XDG_CURRENT_DESKTOP")
        .split(QLatin1Char(':'))
        .contains(QLatin1String("GNOME"));
}

// Asks the bus daemon itself, which always answers at once; never the host.
QDBusMessage BusCall(const char* pszMethod) {
    return QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QString::fromLatin1(pszMethod));
}

// Hears the watcher say that a host came or went. Only the watcher's owner is heard: the bus
// connection matches these signals to its sender.
class CHostSignals : public QObject {
    Q_OBJECT
public:
    CHostSignals(QObject* pParent, std::function<void()> onRegistered,
                 std::function<void()> onUnregistered)
        : QObject(pParent),
          m_onRegistered(std::move(onRegistered)),
          m_onUnregistered(std::move(onUnregistered)) {}

public Q_SLOTS:
    void OnRegistered() { m_onRegistered(); }
    void OnUnregistered() { m_onUnregistered(); }

private:
    std::function<void()> m_onRegistered;
    std::function<void()> m_onUnregistered;
};

}  // namespace

CQtTray::CQtTray(const CString& strAppName) : m_strAppName(strAppName) {
    m_showTimer.setSingleShot(true);
    m_showTimer.setInterval(kShowAfterMs);
    QObject::connect(&m_showTimer, &QTimer::timeout, &m_context, [this] { ShowPicture(); });
}

CQtTray::~CQtTray() = default;

bool CQtTray::Notify(DWORD dwMessage, const CNotifyIconData& data) {
    if (dwMessage == NIM_DELETE) {
        if (!m_bAdded) return false;
        m_bAdded = false;
        m_pWnd = nullptr;
        // Hosts hide a passive item at once; the item itself goes with the connection.
        if (m_pItem) m_pItem->SetActive(false);
        DropFallback();
        return true;
    }
    if (dwMessage == NIM_ADD) {
        if (m_bAdded || data.hWnd == nullptr) return false;
        // Without a display there is no tray to wait for.
        if (QGuiApplication::platformName() == QLatin1String("offscreen")) return false;
        m_bAdded = true;
        m_pWnd = data.hWnd;
        m_nCallback = data.uCallbackMessage;
        m_nId = data.uID;
        Apply(data);
        if (!m_bus) {
            Start();
        } else {
            if (m_pItem) m_pItem->SetActive(true);
            Update();
        }
    } else if (dwMessage != NIM_MODIFY || !m_bAdded) {
        return false;
    } else {
        Apply(data);
    }
    return (m_bRegistered && m_bHost) || IsFallbackDocked();
}

void CQtTray::Apply(const CNotifyIconData& data) {
    // Every record brings the picture and the tip: only what differs goes on.
    if ((data.uFlags & NIF_ICON) != 0 && data.hIcon != nullptr &&
        data.hIcon->nResourceId != m_nIconId) {
        m_nIconId = data.hIcon->nResourceId;
        // From the event loop, which runs as soon as a request waits.
        if (!m_showTimer.isActive()) m_showTimer.start();
    }
    if ((data.uFlags & NIF_TIP) != 0) {
        const QString strTip =
            QString::fromUtf8(data.szTip, int(qstrnlen(data.szTip, sizeof(data.szTip))));
        if (strTip != m_strTip) {
            m_strTip = strTip;
            if (m_pItem) m_pItem->SetToolTip(m_strTip);
            if (m_pFallback) m_pFallback->setToolTip(m_strTip);
        }
    }
}

void CQtTray::ShowPicture() {
    if (!m_bAdded) return;
    // Each hears of a picture only when it differs from what it has. Every size of the picture: the
    // bus's host picks the one it draws, and the XEmbed icon paints the one for its window's real
    // size on the screen's density.
    if (m_pItem) m_pItem->SetIcon(IconOf(m_nIconId), ThemeNameOf(m_nIconId));
    if (m_pFallback && m_nFallbackIconId != m_nIconId) {
        m_nFallbackIconId = m_nIconId;
        m_pFallback->setIcon(IconOf(m_nIconId));
    }
}

const QIcon& CQtTray::IconOf(UINT nIconId) {
    auto it = m_icons.find(nIconId);
    if (it == m_icons.end()) it = m_icons.emplace(nIconId, QtIconOf(nIconId)).first;
    return it->second;
}

QString CQtTray::ThemeNameOf(UINT nIconId) const {
    return m_strIconTheme.isEmpty() || nIconId == 0
               ? QString()
               : IconThemeName(QtString(m_strAppName), nIconId);
}

void CQtTray::Start() {
    // The process's one connection to the session bus, made once.
    m_bus = QDBusConnection::sessionBus();
    if (m_bus->isConnected()) {
        m_pItem = std::make_unique<CQtStatusItem>(
            *m_bus, QtString(m_strAppName), QtString(LoadResString(IDS_TRAY_OPEN)),
            QtString(AboutBoxTemplate().pszCaption), [this](CQtStatusItem::ERequest request) {
                switch (request) {
                    case CQtStatusItem::ERequest::Activate:
                    case CQtStatusItem::ERequest::OpenEntry:
                        Deliver(WM_LBUTTONDOWN);
                        break;
                    case CQtStatusItem::ERequest::SecondaryActivate:
                        Deliver(WM_MBUTTONDOWN);
                        break;
                    case CQtStatusItem::ERequest::ContextMenu:
                    case CQtStatusItem::ERequest::AboutEntry:
                        Deliver(WM_RBUTTONDOWN);
                        break;
                }
            });
        if (!m_pItem->IsExported()) m_pItem.reset();
    }
    if (!m_pItem) {
        // No bus, or our paths taken on it: XEmbed is all there is.
        OnWatcherOwner(QString());
        return;
    }
    m_strIconTheme = ExportIconTheme(QtString(m_strAppName));
    m_pItem->SetIconThemePath(m_strIconTheme);
    m_pItem->SetIcon(IconOf(m_nIconId), ThemeNameOf(m_nIconId));
    m_pItem->SetToolTip(m_strTip);

    // What the watcher says of hosts, whichever connection holds its name...
    auto* pHostSignals = new CHostSignals(
        &m_context,
        [this] {
            if (m_strWatcherOwner.isEmpty()) return;
            m_bHost = true;
            Update();
        },
        [this] {
            if (m_strWatcherOwner.isEmpty()) return;
            // That one went; the XEmbed icon shows until the watcher says another is there
            // (Qt's first one, which asks the watcher itself, only once it answered again).
            m_bHost = false;
            m_bWatcherAnswers = false;
            Update();
            AskForHost();
        });
    m_bus->connect(kWatcherService, kWatcherPath, kWatcherService,
                   QStringLiteral("StatusNotifierHostRegistered"), pHostSignals,
                   SLOT(OnRegistered()));
    m_bus->connect(kWatcherService, kWatcherPath, kWatcherService,
                   QStringLiteral("StatusNotifierHostUnregistered"), pHostSignals,
                   SLOT(OnUnregistered()));

    // ...every watcher that comes, goes or changes hands from now on...
    m_pWatcher = std::make_unique<QDBusServiceWatcher>(kWatcherService, *m_bus,
                                                       QDBusServiceWatcher::WatchForOwnerChange);
    QObject::connect(m_pWatcher.get(), &QDBusServiceWatcher::serviceOwnerChanged, &m_context,
                     [this](const QString&, const QString&, const QString& strNewOwner) {
                         OnWatcherOwner(strNewOwner);
                     });
    // ...and the one there is now. The answer comes after any change the bus told of before
    // it, and before any it tells of after, so each is taken as it comes.
    QDBusMessage ask = BusCall("GetNameOwner");
    ask << kWatcherService;
    auto* pPending = new QDBusPendingCallWatcher(m_bus->asyncCall(ask), &m_context);
    QObject::connect(pPending, &QDBusPendingCallWatcher::finished, &m_context,
                     [this](QDBusPendingCallWatcher* pCall) {
                         pCall->deleteLater();
                         const QDBusPendingReply<QString> reply = *pCall;
                         OnWatcherOwner(reply.isValid() ? reply.value() : QString());
                     });
}

void CQtTray::OnWatcherOwner(const QString& strOwner) {
    const bool bFirst = !m_bWatcherKnown;
    if (!bFirst && strOwner == m_strWatcherOwner) return;
    m_bWatcherKnown = true;
    m_strWatcherOwner = strOwner;
    m_bRegistered = false;
    m_bRegistering = false;
    m_bHost = false;
    m_bWatcherAnswers = false;
    ++m_nWatcherGeneration;
    if (m_pItem) m_pItem->SetOpenEntry(false);
    if (!strOwner.isEmpty()) {
        // The item is offered at once; it replaces the XEmbed icon once a host shows it.
        Register();
        AskForHost();
        AskWhoWatches(strOwner);
    }
    Update();
    if (bFirst) SayIfNowhere();
}

void CQtTray::Register() {
    QDBusMessage call =
        QDBusMessage::createMethodCall(kWatcherService, kWatcherPath, kWatcherService,
                                       QStringLiteral("RegisterStatusNotifierItem"));
    // By path: the watcher takes our connection's name from the call itself.
    call << QString::fromLatin1(CQtStatusItem::kItemPath);
    call.setAutoStartService(false);
    const unsigned nGeneration = m_nWatcherGeneration;
    m_bRegistering = true;
    // A host that hangs only ever leaves this unanswered; the program goes on.
    auto* pPending =
        new QDBusPendingCallWatcher(m_bus->asyncCall(call, kWatcherTimeoutMs), &m_context);
    QObject::connect(pPending, &QDBusPendingCallWatcher::finished, &m_context,
                     [this, nGeneration](QDBusPendingCallWatcher* pCall) {
                         pCall->deleteLater();
                         if (nGeneration != m_nWatcherGeneration) return;
                         m_bRegistering = false;
                         m_bRegistered = !pCall->isError();
                         Update();
                     });
}

void CQtTray::AskForHost() {
    QDBusMessage call = QDBusMessage::createMethodCall(
        kWatcherService, kWatcherPath, QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("Get"));
    call << kWatcherService << QStringLiteral("IsStatusNotifierHostRegistered");
    call.setAutoStartService(false);
    const unsigned nGeneration = m_nWatcherGeneration;
    auto* pPending =
        new QDBusPendingCallWatcher(m_bus->asyncCall(call, kWatcherTimeoutMs), &m_context);
    QObject::connect(
        pPending, &QDBusPendingCallWatcher::finished, &m_context,
        [this, nGeneration](QDBusPendingCallWatcher* pCall) {
            pCall->deleteLater();
            if (nGeneration != m_nWatcherGeneration) return;
            const QDBusPendingReply<QDBusVariant> reply = *pCall;
            const QDBusError::ErrorType error =
                reply.isError() ? reply.error().type() : QDBusError::NoError;
            m_bWatcherAnswers = error != QDBusError::NoReply && error != QDBusError::Timeout;
            const QVariant value = reply.isValid() ? reply.value().variant() : QVariant();
            m_bHost = value.userType() == QMetaType::Bool && value.toBool();
            Update();
        });
}

void CQtTray::AskWhoWatches(const QString& strOwner) {
    if (!m_pItem) return;
    QDBusMessage ask = BusCall("GetConnectionUnixProcessID");
    ask << strOwner;
    const unsigned nGeneration = m_nWatcherGeneration;
    auto* pPending = new QDBusPendingCallWatcher(m_bus->asyncCall(ask), &m_context);
    QObject::connect(pPending, &QDBusPendingCallWatcher::finished, &m_context,
                     [this, nGeneration](QDBusPendingCallWatcher* pCall) {
                         pCall->deleteLater();
                         if (nGeneration != m_nWatcherGeneration || !m_pItem) return;
                         const QDBusPendingReply<uint> reply = *pCall;
                         const std::optional<bool> bShell =
                             reply.isValid() ? IsShellProcess(reply.value()) : std::nullopt;
                         m_pItem->SetOpenEntry(bShell.value_or(OnGnomeDesktop()));
                     });
}

void CQtTray::Update() {
    if (!m_bWatcherKnown) return;
    // Desktops that host both prefer the item, and so do we: one icon, not two.
    if (m_bRegistered && m_bHost)
        DropFallback();
    else
        ShowFallback();
}

void CQtTray::ShowFallback() {
    // Wayland has no XEmbed: Qt's icon there would only complain.
    if (m_pFallback || m_bNoFallback || !m_bAdded || !OnX11()) return;
    // Qt's first icon asks the watcher on the bus, if any, and blocks until it answers (see
    // below): made only while there is none, or just after it answered us, so that a stalled
    // one cannot hold the program.
    if (!m_bTrayChosen && !m_strWatcherOwner.isEmpty() && !m_bWatcherAnswers) return;
    // A watcher with a host that is still taking our item (GNOME Shell's looks at it first)
    // is about to show it: an XEmbed icon meanwhile would stand beside it for a moment, in the
    // same bar where the host docks XEmbed icons too.
    if (m_bHost && m_bRegistering) return;
    m_bTrayChosen = true;
    m_pFallback = std::make_unique<QSystemTrayIcon>();
    QObject::connect(m_pFallback.get(), &QSystemTrayIcon::activated, &m_context,
                     [this](QSystemTrayIcon::ActivationReason reason) {
                         switch (reason) {
                             case QSystemTrayIcon::Trigger:
                                 Deliver(WM_LBUTTONDOWN);
                                 break;
                             case QSystemTrayIcon::Context:
                                 Deliver(WM_RBUTTONDOWN);
                                 break;
                             case QSystemTrayIcon::DoubleClick:
                                 Deliver(WM_LBUTTONDBLCLK);
                                 break;
                             case QSystemTrayIcon::MiddleClick:
                                 Deliver(WM_MBUTTONDOWN);
                                 break;
                             default:
                                 break;
                         }
                     });
    m_nFallbackIconId = m_nIconId;
    if (m_nIconId != 0) m_pFallback->setIcon(IconOf(m_nIconId));
    m_pFallback->setToolTip(m_strTip);
    m_pFallback->show();
    // Qt chooses between XEmbed and a D-Bus tray of its own once per process, when its first
    // icon is made: a D-Bus one if a watcher with a host is on the bus then (asking it, and
    // waiting), else XEmbed for good. Made while the bus has no watcher, or one that has just
    // said it has no host, the icon gets XEmbed, and its XEmbed side waits for a tray with a
    // watcher object of Qt's. Should a host have come in that very instant, Qt's own D-Bus icon
    // would stand beside ours: it goes, and this process does without XEmbed.
    bool bXembed = false;
    for (QObject* pChild : m_pFallback->children())
        bXembed |= pChild->inherits("QSystemTrayWatcher");
    if (!bXembed) {
        m_bNoFallback = true;
        m_pFallback.reset();
    }
}

void CQtTray::DropFallback() {
    if (!m_pFallback) return;
    // The icon may be going from inside its own click (Exit from the About box it opened):
    // let it finish delivering that first.
    m_pFallback->hide();
    m_pFallback.release()->deleteLater();
}

bool CQtTray::IsFallbackDocked() const {
    if (!m_pFallback) return false;
    for (QWidget* pWidget : QApplication::topLevelWidgets()) {
        if (pWidget->inherits("QSystemTrayIconSys") && pWidget->isVisible()) return true;
    }
    return false;
}

void CQtTray::Deliver(UINT nMouse) {
    // As a click of the user's: held while a probe waits, and dropped once the icon is gone.
    // Clicked again and again meanwhile, a button still counts once.
    QtDeliver(
        [this, nMouse] {
            if (m_bAdded && m_pWnd != nullptr)
                m_pWnd->SendMessage(m_nCallback, m_nId, static_cast<LPARAM>(nMouse));
        },
        KindOf(nMouse));
}

const char* NoTrayHint(const char* pszDesktops) {
    if (pszDesktops == nullptr) return "";
    // A list of names separated by colons, the desktop's own first ("ubuntu:GNOME").
    const QList<QByteArray> desktops = QByteArray(pszDesktops).split(':');
    for (const QByteArray& desktop : desktops) {
        // GNOME Shell shows no items until its AppIndicator extension is on; elsewhere the
        // panel has its area, and there is nothing we could say that holds everywhere.
        if (desktop.compare("GNOME", Qt::CaseInsensitive) == 0)
            return " (GNOME needs the AppIndicator extension)";
    }
    return "";
}

void CQtTray::SayIfNowhere() {
    if (m_bSaidNowhere || !m_strWatcherOwner.isEmpty() || IsFallbackDocked()) return;
    m_bSaidNowhere = true;
    // Until one starts nothing shows the program is running, so it says so, once.
    if (m_pItem || m_pFallback)
        std::fprintf(stderr,
                     "%s: no notification area is running: the icon appears once one "
                     "starts%s; the cycle runs meanwhile\n",
                     m_strAppName.c_str(), NoTrayHint(std::getenv("XDG_CURRENT_DESKTOP")));
    else
        std::fprintf(stderr,
                     "%s: no notification area can be reached without a session bus; the "
                     "cycle runs without an icon\n",
                     m_strAppName.c_str());
}

#include "qttray.moc"
