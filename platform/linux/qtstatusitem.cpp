// The StatusNotifierItem and its menu: two QtDBus adaptors over one state, which the tray keeps
// up to date and the host reads.

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

// The bus's own shapes for the icon and the menu, with their (un)marshalling.

// One picture of the icon, (iiay): width, height and its ARGB32 pixels in network byte order.
struct CSniPixmap {
    int nWidth = 0;
    int nHeight = 0;
    QByteArray bytes;
};
using CSniPixmaps = QList<CSniPixmap>;

// The tip, (sa(iiay)ss): an icon name, pictures, a title and a text.
struct CSniToolTip {
    QString strIconName;
    CSniPixmaps pixmaps;
    QString strTitle;
    QString strText;
};

// A menu entry and what hangs below it, (ia{sv}av); each child a variant holding the same.
struct CMenuLayout {
    int nId = 0;
    QVariantMap properties;
    QVariantList children;
};

// An entry's properties, (ia{sv}), and the names of those it lost, (ias).
struct CMenuItemProperties {
    int nId = 0;
    QVariantMap properties;
};
struct CMenuItemRemoved {
    int nId = 0;
    QStringList names;
};

// What the user did with an entry, (isvu).
struct CMenuEvent {
    int nId = 0;
    QString strEvent;
    QDBusVariant data;
    uint nTimestamp = 0;
};

Q_DECLARE_METATYPE(CSniPixmap)
Q_DECLARE_METATYPE(CSniToolTip)
Q_DECLARE_METATYPE(CMenuLayout)
Q_DECLARE_METATYPE(CMenuItemProperties)
Q_DECLARE_METATYPE(CMenuItemRemoved)
Q_DECLARE_METATYPE(CMenuEvent)

bool operator==(const CSniPixmap& a, const CSniPixmap& b) {
    return a.nWidth == b.nWidth && a.nHeight == b.nHeight && a.bytes == b.bytes;
}

QDBusArgument& operator<<(QDBusArgument& arg, const CSniPixmap& pixmap) {
    arg.beginStructure();
    arg << pixmap.nWidth << pixmap.nHeight << pixmap.bytes;
    arg.endStructure();
    return arg;
}
const QDBusArgument& operator>>(const QDBusArgument& arg, CSniPixmap& pixmap) {
    arg.beginStructure();
    arg >> pixmap.nWidth >> pixmap.nHeight >> pixmap.bytes;
    arg.endStructure();
    return arg;
}

QDBusArgument& operator<<(QDBusArgument& arg, const CSniToolTip& tip) {
    arg.beginStructure();
    arg << tip.strIconName << tip.pixmaps << tip.strTitle << tip.strText;
    arg.endStructure();
    return arg;
}
const QDBusArgument& operator>>(const QDBusArgument& arg, CSniToolTip& tip) {
    arg.beginStructure();
    arg >> tip.strIconName >> tip.pixmaps >> tip.strTitle >> tip.strText;
    arg.endStructure();
    return arg;
}

QDBusArgument& operator<<(QDBusArgument& arg, const CMenuLayout& layout) {
    arg.beginStructure();
    arg << layout.nId << layout.properties;
    arg.beginArray(QMetaType::fromType<QDBusVariant>());
    for (const QVariant& child : layout.children) arg << QDBusVariant(child);
    arg.endArray();
    arg.endStructure();
    return arg;
}
const QDBusArgument& operator>>(const QDBusArgument& arg, CMenuLayout& layout) {
    arg.beginStructure();
    arg >> layout.nId >> layout.properties;
    layout.children.clear();
    arg.beginArray();
    while (!arg.atEnd()) {
        QDBusVariant child;
        arg >> child;
        layout.children << child.variant();
    }
    arg.endArray();
    arg.endStructure();
    return arg;
}

QDBusArgument& operator<<(QDBusArgument& arg, const CMenuItemProperties& item) {
    arg.beginStructure();
    arg << item.nId << item.properties;
    arg.endStructure();
    return arg;
}
const QDBusArgument& operator>>(const QDBusArgument& arg, CMenuItemProperties& item) {
    arg.beginStructure();
    arg >> item.nId >> item.properties;
    arg.endStructure();
    return arg;
}

QDBusArgument& operator<<(QDBusArgument& arg, const CMenuItemRemoved& item) {
    arg.beginStructure();
    arg << item.nId << item.names;
    arg.endStructure();
    return arg;
}
const QDBusArgument& operator>>(const QDBusArgument& arg, CMenuItemRemoved& item) {
    arg.beginStructure();
    arg >> item.nId >> item.names;
    arg.endStructure();
    return arg;
}

QDBusArgument& operator<<(QDBusArgument& arg, const CMenuEvent& event) {
    arg.beginStructure();
    arg << event.nId << event.strEvent << event.data << event.nTimestamp;
    arg.endStructure();
    return arg;
}
const QDBusArgument& operator>>(const QDBusArgument& arg, CMenuEvent& event) {
    arg.beginStructure();
    arg >> event.nId >> event.strEvent >> event.data >> event.nTimestamp;
    arg.endStructure();
    return arg;
}

namespace {

constexpr char kMenuPath[] = "/MenuBar";
// What panels of 16 to 48 pixels ask for; a host scales the nearest.
constexpr int kPixmapSizes[] = {16, 22, 24, 32, 48};
constexpr int kRootId = 0;
constexpr int kEntryId = 1;
// The menu never changes, so its layout keeps its first revision.
constexpr uint kLayoutRevision = 1;

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

// The properties asked for out of all of them; none asked for means all.
QVariantMap Only(const QVariantMap& all, const QStringList& names) {
    if (names.isEmpty()) return all;
    QVariantMap some;
    for (const QString& name : names) {
        const auto it = all.constFind(name);
        if (it != all.constEnd()) some.insert(name, it.value());
    }
    return some;
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

class CItemAdaptor;

class CQtStatusItem::CImpl {
public:
    CImpl(const QDBusConnection& connection, const QString& strId, const QString& strMenuLabel,
          std::function<void(ERequest)> onRequest);
    ~CImpl();

    // Hands a request on from the event loop, once the host's call has had its reply.
    void Request(ERequest request) {
        QMetaObject::invokeMethod(
            &m_itemObject, [this, request] { m_onRequest(request); }, Qt::QueuedConnection);
    }

    QVariantMap EntryProperties(int nId) const {
        if (nId == kRootId)
            return {{QStringLiteral("children-display"), QStringLiteral("submenu")}};
        return {{QStringLiteral("label"), m_strMenuLabel},
                {QStringLiteral("enabled"), true},
                {QStringLiteral("visible"), true}};
    }

    QDBusConnection m_connection;
    const QString m_strId;
    const QString m_strMenuLabel;
    std::function<void(ERequest)> m_onRequest;
    CSniPixmaps m_pixmaps;
    // The pictures' pixels as sent, by the icon they were drawn from: a tick shows two.
    QHash<qint64, CSniPixmaps> m_pixmapsOf;
    QString m_strTip;
    bool m_bActive = true;
    bool m_bExported = false;
    // The objects at the two paths; each carries its adaptor.
    QObject m_itemObject;
    QObject m_menuObject;
    CItemAdaptor* m_pItem = nullptr;
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
    Q_PROPERTY(QString IconThemePath READ None)
    Q_PROPERTY(QString IconName READ None)
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
    CItemAdaptor(QObject* pObject, CQtStatusItem::CImpl& impl)
        : QDBusAbstractAdaptor(pObject), m_impl(impl) {}

    QString Category() const { return QStringLiteral("ApplicationStatus"); }
    QString Id() const { return m_impl.m_strId; }
    QString Title() const { return m_impl.m_strTip; }
    QString Status() const {
        return m_impl.m_bActive ? QStringLiteral("Active") : QStringLiteral("Passive");
    }
    int WindowId() const { return 0; }
    QString None() const { return {}; }
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
    // The wheel means nothing to the program.
    void Scroll(int, const QString&) {}

Q_SIGNALS:
    void NewTitle();
    void NewIcon();
    void NewAttentionIcon();
    void NewOverlayIcon();
    void NewToolTip();
    void NewStatus(const QString& status);

private:
    CQtStatusItem::CImpl& m_impl;
};

// com.canonical.dbusmenu at kMenuPath: the root and its one entry.
class CMenuAdaptor : public QDBusAbstractAdaptor, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.canonical.dbusmenu")
    Q_PROPERTY(uint Version READ Version)
    Q_PROPERTY(QString TextDirection READ TextDirection)
    Q_PROPERTY(QString Status READ Status)
    Q_PROPERTY(QStringList IconThemePath READ IconThemePath)

public:
    CMenuAdaptor(QObject* pObject, CQtStatusItem::CImpl& impl)
        : QDBusAbstractAdaptor(pObject), m_impl(impl) {}

    uint Version() const { return 3; }
    QString TextDirection() const { return QStringLiteral("ltr"); }
    QString Status() const { return QStringLiteral("normal"); }
    QStringList IconThemePath() const { return {}; }

public Q_SLOTS:
    uint GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames,
                   CMenuLayout& layout) {
        if (!Known(parentId)) return kLayoutRevision;
        layout = {parentId, Only(m_impl.EntryProperties(parentId), propertyNames), {}};
        if (parentId == kRootId && recursionDepth != 0) {
            layout.children << QVariant::fromValue(
                CMenuLayout{kEntryId, Only(m_impl.EntryProperties(kEntryId), propertyNames), {}});
        }
        return kLayoutRevision;
    }
    QList<CMenuItemProperties> GetGroupProperties(const QList<int>& ids,
                                                  const QStringList& propertyNames) {
        QList<CMenuItemProperties> items;
        for (int nId : ids) {
            if (nId == kRootId || nId == kEntryId)
                items << CMenuItemProperties{nId, Only(m_impl.EntryProperties(nId), propertyNames)};
        }
        return items;
    }
    QDBusVariant GetProperty(int id, const QString& name) {
        if (!Known(id)) return QDBusVariant(QString());
        const QVariantMap properties = m_impl.EntryProperties(id);
        const auto it = properties.constFind(name);
        if (it == properties.constEnd()) {
            sendErrorReply(QDBusError::InvalidArgs, QStringLiteral("no property ") + name);
            return QDBusVariant(QString());
        }
        return QDBusVariant(it.value());
    }
    void Event(int id, const QString& eventId, const QDBusVariant&, uint) {
        if (id == kEntryId && eventId == QLatin1String("clicked"))
            m_impl.Request(CQtStatusItem::ERequest::MenuEntry);
    }
    QList<int> EventGroup(const QList<CMenuEvent>& events) {
        QList<int> idErrors;
        for (const CMenuEvent& event : events) {
            if (event.nId != kRootId && event.nId != kEntryId)
                idErrors << event.nId;
            else
                Event(event.nId, event.strEvent, event.data, event.nTimestamp);
        }
        return idErrors;
    }
    // Nothing to bring up to date before the menu opens.
    bool AboutToShow(int) { return false; }
    QList<int> AboutToShowGroup(const QList<int>& ids, QList<int>& idErrors) {
        for (int nId : ids) {
            if (nId != kRootId && nId != kEntryId) idErrors << nId;
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
        if (nId == kRootId || nId == kEntryId) return true;
        sendErrorReply(QDBusError::InvalidArgs, QStringLiteral("no menu entry %1").arg(nId));
        return false;
    }

    CQtStatusItem::CImpl& m_impl;
};

CQtStatusItem::CImpl::CImpl(const QDBusConnection& connection, const QString& strId,
                            const QString& strMenuLabel, std::function<void(ERequest)> onRequest)
    : m_connection(connection),
      m_strId(strId),
      m_strMenuLabel(strMenuLabel),
      m_onRequest(std::move(onRequest)) {
    RegisterBusTypes();
    m_pItem = new CItemAdaptor(&m_itemObject, *this);
    new CMenuAdaptor(&m_menuObject, *this);
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
                             const QString& strMenuLabel, std::function<void(ERequest)> onRequest)
    : m_pImpl(std::make_unique<CImpl>(connection, strId, strMenuLabel, std::move(onRequest))) {}

CQtStatusItem::~CQtStatusItem() = default;

bool CQtStatusItem::IsExported() const { return m_pImpl->m_bExported; }

void CQtStatusItem::SetIcon(const QIcon& icon) {
    auto it = m_pImpl->m_pixmapsOf.find(icon.cacheKey());
    if (it == m_pImpl->m_pixmapsOf.end())
        it = m_pImpl->m_pixmapsOf.insert(icon.cacheKey(), PixmapsOf(icon));
    if (*it == m_pImpl->m_pixmaps) return;
    m_pImpl->m_pixmaps = *it;
    emit m_pImpl->m_pItem->NewIcon();
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

#include "qtstatusitem.moc"
