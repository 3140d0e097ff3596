#pragma once
// The shapes a StatusNotifierItem and its menu (com.canonical.dbusmenu) send and take on the
// session bus, with their (un)marshalling: one definition for the item and for whatever talks
// to it as a host or another peer would.

#include <QByteArray>
#include <QDBusArgument>
#include <QDBusVariant>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>
#include <QVariant>

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

inline bool operator==(const CSniPixmap& a, const CSniPixmap& b) {
    return a.nWidth == b.nWidth && a.nHeight == b.nHeight && a.bytes == b.bytes;
}

inline QDBusArgument& operator<<(QDBusArgument& arg, const CSniPixmap& pixmap) {
    arg.beginStructure();
    arg << pixmap.nWidth << pixmap.nHeight << pixmap.bytes;
    arg.endStructure();
    return arg;
}
inline const QDBusArgument& operator>>(const QDBusArgument& arg, CSniPixmap& pixmap) {
    arg.beginStructure();
    arg >> pixmap.nWidth >> pixmap.nHeight >> pixmap.bytes;
    arg.endStructure();
    return arg;
}

inline QDBusArgument& operator<<(QDBusArgument& arg, const CSniToolTip& tip) {
    arg.beginStructure();
    arg << tip.strIconName << tip.pixmaps << tip.strTitle << tip.strText;
    arg.endStructure();
    return arg;
}
inline const QDBusArgument& operator>>(const QDBusArgument& arg, CSniToolTip& tip) {
    arg.beginStructure();
    arg >> tip.strIconName >> tip.pixmaps >> tip.strTitle >> tip.strText;
    arg.endStructure();
    return arg;
}

inline QDBusArgument& operator<<(QDBusArgument& arg, const CMenuLayout& layout) {
    arg.beginStructure();
    arg << layout.nId << layout.properties;
    arg.beginArray(QMetaType::fromType<QDBusVariant>());
    for (const QVariant& child : layout.children) arg << QDBusVariant(child);
    arg.endArray();
    arg.endStructure();
    return arg;
}
inline const QDBusArgument& operator>>(const QDBusArgument& arg, CMenuLayout& layout) {
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

inline QDBusArgument& operator<<(QDBusArgument& arg, const CMenuItemProperties& item) {
    arg.beginStructure();
    arg << item.nId << item.properties;
    arg.endStructure();
    return arg;
}
inline const QDBusArgument& operator>>(const QDBusArgument& arg, CMenuItemProperties& item) {
    arg.beginStructure();
    arg >> item.nId >> item.properties;
    arg.endStructure();
    return arg;
}

inline QDBusArgument& operator<<(QDBusArgument& arg, const CMenuItemRemoved& item) {
    arg.beginStructure();
    arg << item.nId << item.names;
    arg.endStructure();
    return arg;
}
inline const QDBusArgument& operator>>(const QDBusArgument& arg, CMenuItemRemoved& item) {
    arg.beginStructure();
    arg >> item.nId >> item.names;
    arg.endStructure();
    return arg;
}

inline QDBusArgument& operator<<(QDBusArgument& arg, const CMenuEvent& event) {
    arg.beginStructure();
    arg << event.nId << event.strEvent << event.data << event.nTimestamp;
    arg.endStructure();
    return arg;
}
inline const QDBusArgument& operator>>(const QDBusArgument& arg, CMenuEvent& event) {
    arg.beginStructure();
    arg >> event.nId >> event.strEvent >> event.data >> event.nTimestamp;
    arg.endStructure();
    return arg;
}
