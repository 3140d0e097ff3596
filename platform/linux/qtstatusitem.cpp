// The StatusNotifierItem and its menu: two QtDBus adaptors over one state, which the tray keeps
// up to date and the host reads. Any peer on the session bus may call them, with anything: each
// call gets a reply or a D-Bus error, and no answer or work grows with what the caller sends.

#include "platform/linux/qtstatusitem.h"

#include <QDBusAbstractAdaptor>
#include <QDBusArgument>
#include <QDBusContext>
#include <QDBusError>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QHash>
#include <QImage>
#include <QObject>
#include <QPixmap>
#include <QtEndian>
#include <utility>

#include "platform/linux/qtbustypes.h"

namespace {

constexpr char kMenuPath[] = "/MenuBar";
// The pixels go to every host that reads IconPixmap, on every change: Xfce's panel, Plasma and
// waybar read all the item's properties each time, GNOME Shell the pixels with the name. All
// of them draw the named picture from the item's theme instead, so the pixels are for hosts
// that do not look there: the sizes panels show the icon at (22 and 24, 44 and 48 at scale 2,
// as test_traypictures photographs them; 16 and 32 on smaller panels). The largest is 48, so a
// host that takes the largest and scales it (Xfce's panel and waybar do, without the theme)
// scales little, and at 48 nothing.
constexpr int kPixmapSizes[] = {16, 22, 24, 32, 44, 48};
constexpr int kRootId = 0;
constexpr int kAboutId = 1;
// Above the About entry when shown, with an id of its own: a host that has the menu without it
// keeps the ids it knows.
constexpr int kOpenId = 2;
// The menu's ids are 0 to kEntryCount - 1, the Open entry's only while it is shown.
constexpr int kEntryCount = 3;
// The property names a host asks for are a handful; the rest of a longer list is not read.
constexpr int kMaxNamesRead = 64;
// Unknown ids are named back at most this many times, each once.
constexpr int kMaxIdErrors = 16;

CSniPixmaps PixmapsOf(const QIcon& icon) {
    CSniPixmaps pixmaps;
    if (icon.isNull()) return pixmaps;
    for (int nSize : kPixmapSizes) {
        // At the size it says, whatever the screen's density: the host scales it for its own.
        QImage image = icon.pixmap(QSize(nSize, nSize), 1.0).toImage();
        if (image.isNull()) continue;
        if (image.size() != QSize(nSize, nSize))
            image = image.scaled(nSize, nSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        image = image.convertToFormat(QImage::Format_ARGB32);
        CSniPixmap pixmap{nSize, nSize, QByteArray(nSize * nSize * 4, Qt::Uninitialized)};
        char* pOut = pixmap.bytes.data();
        for (int y = 0; y < nSize; ++y) {
            const auto* pLine = reinterpret_cast<const QRgb*>(image.constScanLine(y));
            for (int x = 0; x < nSize; ++x, pOut += 4) qToBigEndian<quint32>(pLine[x], pOut);
        }
        pixmaps << pixmap;
    }
    return pixmaps;
}

// The properties asked for out of all of them; none asked for means all. Reads no further than
// it must: until every one is found, or kMaxNamesRead names.
QVariantMap Only(const QVariantMap& all, const QStringList& names) {
    if (names.isEmpty()) return all;
    QVariantMap some;
    const qsizetype nRead = qMin<qsizetype>(names.size(), kMaxNamesRead);
    for (qsizetype i = 0; i < nRead && some.size() < all.size(); ++i) {
        const auto it = all.constFind(names[i]);
        if (it != all.constEnd()) some.insert(it.key(), it.value());
    }
    return some;
}

// The unknown ids of a list, each once and no more than kMaxIdErrors of them.
void AddIdError(QList<int>& idErrors, int nId) {
    if (idErrors.size() < kMaxIdErrors && !idErrors.contains(nId)) idErrors << nId;
}

void RegisterBusTypes() {
    static const bool bRegistered = [] {
        qDBusRegisterMetaType<CSniPixmap>();
        qDBusRegisterMetaType<CSniPixmaps>();
        qDBusRegisterMetaType<CSniToolTip>();
        qDBusRegisterMetaType<CMenuLayout>();
        qDBusRegisterMetaType<CMenuItemProperties>();
        qDBusRegisterMetaType<QList<CMenuItemProperties>>();
        qDBusRegisterMetaType<CMenuItemRemoved>();
        qDBusRegisterMetaType<QList<CMenuItemRemoved>>();
        qDBusRegisterMetaType<CMenuEvent>();
        qDBusRegisterMetaType<QList<CMenuEvent>>();
        return true;
    }();
    (void)bRegistered;
}

}  // namespace

// The object at a path. Qt D-Bus gives the call's context to it, not to the adaptor it carries
// (an adaptor of its own would have none, and its error reply would crash): the adaptor turns a
// call down through it.
class CBusObject : public QObject, public QDBusContext {
    Q_OBJECT
public:
    // The caller gets this error instead of the slot's return value.
    void Refuse(QDBusError::ErrorType type, const QString& strText) const {
        if (calledFromDBus()) sendErrorReply(type, strText);
    }
};

class CItemAdaptor;
class CMenuAdaptor;

class CQtStatusItem::CImpl {
public:
    CImpl(const QDBusConnection& connection, const QString& strId, const QString& strOpenLabel,
          const QString& strAboutLabel, std::function<void(ERequest)> onRequest);
    ~CImpl();

    // Hands a request on from the event loop, once the host's call has had its reply. A burst
    // of calls before the loop comes round is one request: a peer cannot queue up thousands.
    void Request(ERequest request) {
        const unsigned nBit = 1u << static_cast<unsigned>(request);
        if ((m_nPending & nBit) != 0) return;
        m_nPending |= nBit;
        QMetaObject::invokeMethod(
            &m_itemObject,
            [this, request, nBit] {
                m_nPending &= ~nBit;
                m_onRequest(request);
            },
            Qt::QueuedConnection);
    }

    bool IsEntry(int nId) const {
        return nId == kRootId || nId == kAboutId || (nId == kOpenId && m_bOpenEntry);
    }
    // The root's children, top down.
    QList<int> Entries() const {
        if (m_bOpenEntry) return {kOpenId, kAboutId};
        return {kAboutId};
    }
    // dbusmenu has no property for a default entry (Qt's own menus export none either, and no
    // host here marks one): the Open entry is the default by being first.
    QVariantMap EntryProperties(int nId) const {
        if (nId == kRootId)
            return {{QStringLiteral("children-display"), QStringLiteral("submenu")}};
        return {{QStringLiteral("label"), nId == kOpenId ? m_strOpenLabel : m_strAboutLabel},
                {QStringLiteral("enabled"), true},
                {QStringLiteral("visible"), true}};
    }

    QDBusConnection m_connection;
    const QString m_strId;
    const QString m_strOpenLabel;
    const QString m_strAboutLabel;
    std::function<void(ERequest)> m_onRequest;
    CSniPixmaps m_pixmaps;
    // The icon the pixels were drawn from; 0 for none yet.
    qint64 m_nIconKey = 0;
    QString m_strIconName;
    QString m_strIconThemePath;
    // The pictures' pixels as sent, by the icon they were drawn from: a tick shows two.
    QHash<qint64, CSniPixmaps> m_pixmapsOf;
    QString m_strTip;
    bool m_bActive = true;
    bool m_bExported = false;
    bool m_bOpenEntry = false;
    // Counts the menu's changes, as its layout's revision.
    uint m_nRevision = 1;
    // The requests handed on and not yet heard, one bit each.
    unsigned m_nPending = 0;
    // The objects at the two paths; each carries its adaptor.
    CBusObject m_itemObject;
    CBusObject m_menuObject;
    CItemAdaptor* m_pItem = nullptr;
    CMenuAdaptor* m_pMenu = nullptr;
};

// org.kde.StatusNotifierItem at kItemPath.
class CItemAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierItem")
    Q_PROPERTY(QString Category READ Category)
    Q_PROPERTY(QString Id READ Id)
    Q_PROPERTY(QString Title READ Title)
    Q_PROPERTY(QString Status READ Status)
    Q_PROPERTY(int WindowId READ WindowId)
    Q_PROPERTY(QString IconThemePath READ IconThemePath)
    Q_PROPERTY(QString IconName READ IconName)
    Q_PROPERTY(CSniPixmaps IconPixmap READ IconPixmap)
    Q_PROPERTY(QString OverlayIconName READ None)
    Q_PROPERTY(CSniPixmaps OverlayIconPixmap READ NoPixmaps)
    Q_PROPERTY(QString AttentionIconName READ None)
    Q_PROPERTY(CSniPixmaps AttentionIconPixmap READ NoPixmaps)
    Q_PROPERTY(QString AttentionMovieName READ None)
    Q_PROPERTY(CSniToolTip ToolTip READ ToolTip)
    Q_PROPERTY(bool ItemIsMenu READ ItemIsMenu)
    Q_PROPERTY(QDBusObjectPath Menu READ Menu)

public:
    CItemAdaptor(CBusObject* pObject, CQtStatusItem::CImpl& impl)
        : QDBusAbstractAdaptor(pObject), m_object(*pObject), m_impl(impl) {}

    QString Category() const { return QStringLiteral("ApplicationStatus"); }
    QString Id() const { return m_impl.m_strId; }
    QString Title() const { return m_impl.m_strTip; }
    QString Status() const {
        return m_impl.m_bActive ? QStringLiteral("Active") : QStringLiteral("Passive");
    }
    int WindowId() const { return 0; }
    QString None() const { return {}; }
    QString IconThemePath() const { return m_impl.m_strIconThemePath; }
    QString IconName() const { return m_impl.m_strIconName; }
    CSniPixmaps IconPixmap() const { return m_impl.m_pixmaps; }
    CSniPixmaps NoPixmaps() const { return {}; }
    CSniToolTip ToolTip() const { return {QString(), {}, m_impl.m_strTip, QString()}; }
    // A click activates; the menu is for the other button.
    bool ItemIsMenu() const { return false; }
    QDBusObjectPath Menu() const { return QDBusObjectPath(QString::fromLatin1(kMenuPath)); }

public Q_SLOTS:
    void Activate(int, int) { m_impl.Request(CQtStatusItem::ERequest::Activate); }
    void SecondaryActivate(int, int) { m_impl.Request(CQtStatusItem::ERequest::SecondaryActivate); }
    void ContextMenu(int, int) { m_impl.Request(CQtStatusItem::ERequest::ContextMenu); }
    // The wheel means nothing to the program: a scroll is answered, a wrong orientation
    // turned down.
    void Scroll(int, const QString& strOrientation) {
        if (strOrientation.compare(QLatin1String("vertical"), Qt::CaseInsensitive) != 0 &&
            strOrientation.compare(QLatin1String("horizontal"), Qt::CaseInsensitive) != 0)
            m_object.Refuse(QDBusError::InvalidArgs,
                            QStringLiteral("orientation is vertical or horizontal"));
    }

Q_SIGNALS:
    void NewTitle();
    void NewIcon();
    void NewAttentionIcon();
    void NewOverlayIcon();
    void NewToolTip();
    void NewStatus(const QString& status);

private:
    const CBusObject& m_object;
    CQtStatusItem::CImpl& m_impl;
};

// com.canonical.dbusmenu at kMenuPath: the root and its entries. Every list a caller sends is
// read only as far as the menu's own ids and names go, and each id is answered once.
class CMenuAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.canonical.dbusmenu")
    Q_PROPERTY(uint Version READ Version)
    Q_PROPERTY(QString TextDirection READ TextDirection)
    Q_PROPERTY(QString Status READ Status)
    Q_PROPERTY(QStringList IconThemePath READ IconThemePath)

public:
    CMenuAdaptor(CBusObject* pObject, CQtStatusItem::CImpl& impl)
        : QDBusAbstractAdaptor(pObject), m_object(*pObject), m_impl(impl) {}

    uint Version() const { return 3; }
    QString TextDirection() const { return QStringLiteral("ltr"); }
    QString Status() const { return QStringLiteral("normal"); }
    QStringList IconThemePath() const { return {}; }

public Q_SLOTS:
    uint GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames,
                   CMenuLayout& layout) {
        if (!Known(parentId)) return m_impl.m_nRevision;
        layout = {parentId, Only(m_impl.EntryProperties(parentId), propertyNames), {}};
        if (parentId == kRootId && recursionDepth != 0) {
            for (int nId : m_impl.Entries())
                layout.children << QVariant::fromValue(
                    CMenuLayout{nId, Only(m_impl.EntryProperties(nId), propertyNames), {}});
        }
        return m_impl.m_nRevision;
    }
    QList<CMenuItemProperties> GetGroupProperties(const QList<int>& ids,
                                                  const QStringList& propertyNames) {
        bool bAsked[kEntryCount] = {};
        int nLeft = kEntryCount;
        for (auto it = ids.cbegin(); it != ids.cend() && nLeft > 0; ++it) {
            if (m_impl.IsEntry(*it) && !bAsked[*it]) {
                bAsked[*it] = true;
                --nLeft;
            }
        }
        QList<CMenuItemProperties> items;
        for (int nId = 0; nId < kEntryCount; ++nId) {
            if (bAsked[nId])
                items << CMenuItemProperties{nId, Only(m_impl.EntryProperties(nId), propertyNames)};
        }
        return items;
    }
    QDBusVariant GetProperty(int id, const QString& name) {
        if (!Known(id)) return QDBusVariant(QString());
        const QVariantMap properties = m_impl.EntryProperties(id);
        const auto it = properties.constFind(name);
        if (it == properties.constEnd()) {
            m_object.Refuse(QDBusError::InvalidArgs,
                            QStringLiteral("menu entry %1 has no such property").arg(id));
            return QDBusVariant(QString());
        }
        return QDBusVariant(it.value());
    }
    void Event(int id, const QString& eventId, const QDBusVariant&, uint) {
        if (!Known(id)) return;
        if (eventId != QLatin1String("clicked")) return;
        if (id == kAboutId) m_impl.Request(CQtStatusItem::ERequest::AboutEntry);
        if (id == kOpenId) m_impl.Request(CQtStatusItem::ERequest::OpenEntry);
    }
    QList<int> EventGroup(const QList<CMenuEvent>& events) {
        QList<int> idErrors;
        bool bAnyKnown = false;
        bool bAboutClicked = false;
        bool bOpenClicked = false;
        for (const CMenuEvent& event : events) {
            if (!m_impl.IsEntry(event.nId)) {
                AddIdError(idErrors, event.nId);
                continue;
            }
            bAnyKnown = true;
            const bool bClicked = event.strEvent == QLatin1String("clicked");
            bAboutClicked |= bClicked && event.nId == kAboutId;
            bOpenClicked |= bClicked && event.nId == kOpenId;
        }
        if (!events.isEmpty() && !bAnyKnown) {
            m_object.Refuse(QDBusError::InvalidArgs,
                            QStringLiteral("no menu entry among the events"));
            return {};
        }
        // However many clicks it holds, each entry was chosen once.
        if (bOpenClicked) m_impl.Request(CQtStatusItem::ERequest::OpenEntry);
        if (bAboutClicked) m_impl.Request(CQtStatusItem::ERequest::AboutEntry);
        return idErrors;
    }
    // Nothing to bring up to date before the menu opens.
    bool AboutToShow(int id) {
        Known(id);
        return false;
    }
    QList<int> AboutToShowGroup(const QList<int>& ids, QList<int>& idErrors) {
        for (int nId : ids) {
            if (!m_impl.IsEntry(nId)) AddIdError(idErrors, nId);
            if (idErrors.size() == kMaxIdErrors) break;
        }
        return {};
    }

Q_SIGNALS:
    void ItemsPropertiesUpdated(const QList<CMenuItemProperties>& updatedProps,
                                const QList<CMenuItemRemoved>& removedProps);
    void LayoutUpdated(uint revision, int parent);
    void ItemActivationRequested(int id, uint timestamp);

private:
    bool Known(int nId) {
        if (m_impl.IsEntry(nId)) return true;
        m_object.Refuse(QDBusError::InvalidArgs, QStringLiteral("no menu entry %1").arg(nId));
        return false;
    }

    const CBusObject& m_object;
    CQtStatusItem::CImpl& m_impl;
};

CQtStatusItem::CImpl::CImpl(const QDBusConnection& connection, const QString& strId,
                            const QString& strOpenLabel, const QString& strAboutLabel,
                            std::function<void(ERequest)> onRequest)
    : m_connection(connection),
      m_strId(strId),
      m_strOpenLabel(strOpenLabel),
      m_strAboutLabel(strAboutLabel),
      m_onRequest(std::move(onRequest)) {
    RegisterBusTypes();
    m_pItem = new CItemAdaptor(&m_itemObject, *this);
    m_pMenu = new CMenuAdaptor(&m_menuObject, *this);
    m_bExported = m_connection.registerObject(QString::fromLatin1(kItemPath), &m_itemObject,
                                              QDBusConnection::ExportAdaptors) &&
                  m_connection.registerObject(QString::fromLatin1(kMenuPath), &m_menuObject,
                                              QDBusConnection::ExportAdaptors);
}

CQtStatusItem::CImpl::~CImpl() {
    m_connection.unregisterObject(QString::fromLatin1(kMenuPath));
    m_connection.unregisterObject(QString::fromLatin1(kItemPath));
}

CQtStatusItem::CQtStatusItem(const QDBusConnection& connection, const QString& strId,
                             const QString& strOpenLabel, const QString& strAboutLabel,
                             std::function<void(ERequest)> onRequest)
    : m_pImpl(std::make_unique<CImpl>(connection, strId, strOpenLabel, strAboutLabel,
                                      std::move(onRequest))) {}

CQtStatusItem::~CQtStatusItem() = default;

bool CQtStatusItem::IsExported() const { return m_pImpl->m_bExported; }

void CQtStatusItem::SetIcon(const QIcon& icon, const QString& strName) {
    // The same picture again is no change, and is not announced: a host reads the whole icon
    // again on each announcement, most of them the pixels too. Known by the icon it is drawn
    // from, not compared pixel by pixel.
    const qint64 nKey = icon.cacheKey();
    if (nKey == m_pImpl->m_nIconKey && strName == m_pImpl->m_strIconName) return;
    auto it = m_pImpl->m_pixmapsOf.find(nKey);
    if (it == m_pImpl->m_pixmapsOf.end()) it = m_pImpl->m_pixmapsOf.insert(nKey, PixmapsOf(icon));
    m_pImpl->m_nIconKey = nKey;
    m_pImpl->m_pixmaps = *it;
    m_pImpl->m_strIconName = strName;
    emit m_pImpl->m_pItem->NewIcon();
}

void CQtStatusItem::SetIconThemePath(const QString& strPath) {
    m_pImpl->m_strIconThemePath = strPath;
}

void CQtStatusItem::SetToolTip(const QString& strText) {
    if (strText == m_pImpl->m_strTip) return;
    m_pImpl->m_strTip = strText;
    emit m_pImpl->m_pItem->NewTitle();
    emit m_pImpl->m_pItem->NewToolTip();
}

void CQtStatusItem::SetActive(bool bActive) {
    if (bActive == m_pImpl->m_bActive) return;
    m_pImpl->m_bActive = bActive;
    emit m_pImpl->m_pItem->NewStatus(m_pImpl->m_pItem->Status());
}

void CQtStatusItem::SetOpenEntry(bool bShown) {
    if (bShown == m_pImpl->m_bOpenEntry) return;
    m_pImpl->m_bOpenEntry = bShown;
    emit m_pImpl->m_pMenu->LayoutUpdated(++m_pImpl->m_nRevision, kRootId);
}

#include "qtstatusitem.moc"
