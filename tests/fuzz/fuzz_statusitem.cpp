// Fuzz target for the status item and its menu as a bus peer reaches them: each input is one
// call (a method of the item, the menu or their properties, or none of them) with arguments of
// any type, count and size read from the bytes, sent over a private peer-to-peer connection to
// the real adaptors. Every call must get a reply or an error, at once, and no reply may hold
// more than a few dozen values, however large the call.

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <QDBusServer>
#include <QDBusVariant>
#include <QElapsedTimer>
#include <QEventLoop>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <string>

#include "platform/linux/qtbustypes.h"
#include "platform/linux/qtstatusitem.h"

namespace {

struct CMethod {
    const char* pszPath;
    const char* pszInterface;
    const char* pszMember;
};

constexpr CMethod kMethods[] = {
    {"/MenuBar", "com.canonical.dbusmenu", "GetLayout"},
    {"/MenuBar", "com.canonical.dbusmenu", "GetGroupProperties"},
    {"/MenuBar", "com.canonical.dbusmenu", "GetProperty"},
    {"/MenuBar", "com.canonical.dbusmenu", "Event"},
    {"/MenuBar", "com.canonical.dbusmenu", "EventGroup"},
    {"/MenuBar", "com.canonical.dbusmenu", "AboutToShow"},
    {"/MenuBar", "com.canonical.dbusmenu", "AboutToShowGroup"},
    {"/MenuBar", "com.canonical.dbusmenu", "Frobnicate"},
    {"/MenuBar", "org.freedesktop.DBus.Properties", "Get"},
    {"/MenuBar", "org.freedesktop.DBus.Properties", "GetAll"},
    {"/MenuBar", "org.freedesktop.DBus.Properties", "Set"},
    {"/StatusNotifierItem", "org.kde.StatusNotifierItem", "Activate"},
    {"/StatusNotifierItem", "org.kde.StatusNotifierItem", "SecondaryActivate"},
    {"/StatusNotifierItem", "org.kde.StatusNotifierItem", "ContextMenu"},
    {"/StatusNotifierItem", "org.kde.StatusNotifierItem", "Scroll"},
    {"/StatusNotifierItem", "org.freedesktop.DBus.Properties", "Get"},
    {"/StatusNotifierItem", "org.freedesktop.DBus.Properties", "GetAll"},
    {"/StatusNotifierItem", "org.freedesktop.DBus.Properties", "Set"},
};

// The names the adaptors know, so that the fuzzer reaches past the first check.
const char* const kWords[] = {"label",
                              "enabled",
                              "visible",
                              "children-display",
                              "clicked",
                              "hovered",
                              "vertical",
                              "horizontal",
                              "Version",
                              "Status",
                              "IconPixmap",
                              "ToolTip",
                              "com.canonical.dbusmenu",
                              "org.kde.StatusNotifierItem",
                              ""};

// Reads the input front to back; past its end every value is zero. A call stays within what a
// bus carries (a message of 128 MiB at most): a few megabytes.
class CReader {
public:
    CReader(const std::uint8_t* pData, std::size_t nSize) : m_pData(pData), m_nSize(nSize) {}
    std::uint8_t Byte() { return m_nAt < m_nSize ? m_pData[m_nAt++] : 0; }
    std::uint16_t Word() { return static_cast<std::uint16_t>(Byte() | Byte() << 8); }
    std::int32_t Int() { return static_cast<std::int32_t>(Word() | std::uint32_t(Word()) << 16); }
    // Short, or one the menu knows, or (when bLong) up to a mebibyte.
    QString String(bool bLong = true) {
        const std::uint8_t nKind = Byte();
        if (nKind < 0x80) {
            QString str;
            for (int i = 0; i < nKind % 16; ++i) str += QChar(Byte() % 0x7f + 1);
            return str;
        }
        if (nKind < 0xf0 || !bLong) return QString::fromLatin1(kWords[nKind % std::size(kWords)]);
        // A long one: up to a mebibyte.
        return QString(int(Word()) * 16, QChar('a' + Byte() % 26));
    }
    // Up to about a million ids: a few from the input, repeated.
    QList<int> Ids() {
        const int nCount = Word() * (Byte() % 2 == 0 ? 1 : 16);
        QList<int> pattern;
        for (int i = 0; i < 4; ++i) pattern << static_cast<std::int8_t>(Byte());
        QList<int> ids(nCount);
        for (int i = 0; i < nCount; ++i) ids[i] = pattern[i % 4] + (i % 7 == 6 ? i : 0);
        return ids;
    }
    QStringList Strings() {
        const int nCount = Word();
        QStringList first;
        for (int i = 0; i < 3; ++i) first << String(false);
        QStringList list;
        list.reserve(nCount);
        for (int i = 0; i < nCount; ++i) list << first[i % 3];
        return list;
    }
    QList<CMenuEvent> Events() {
        const int nCount = Word();
        const QString strEvent = String(false);
        const QList<int> ids = {static_cast<std::int8_t>(Byte()), static_cast<std::int8_t>(Byte())};
        QList<CMenuEvent> events(nCount);
        for (int i = 0; i < nCount; ++i)
            events[i] = {ids[i % 2], strEvent, QDBusVariant(i), static_cast<uint>(i)};
        return events;
    }
    QVariant Value() {
        switch (Byte() % 10) {
            case 0:
                return Int();
            case 1:
                return static_cast<uint>(Int());
            case 2:
                return String();
            case 3:
                return Strings();
            case 4:
                return QVariant::fromValue(Ids());
            case 5:
                return QVariant::fromValue(QDBusVariant(Value()));
            case 6:
                return Byte() % 2 == 0;
            case 7:
                return Int() / 7.0;
            case 8:
                return QVariant::fromValue(Events());
            default:
                return QVariant::fromValue(QDBusVariant(String()));
        }
    }

private:
    const std::uint8_t* m_pData;
    std::size_t m_nSize;
    std::size_t m_nAt = 0;
};

// The values in a reply, counted into arrays, structures, maps and variants.
int CountValues(const QDBusArgument& arg) {
    int nCount = 0;
    while (!arg.atEnd()) {
        switch (arg.currentType()) {
            case QDBusArgument::BasicType:
                arg.asVariant();
                ++nCount;
                break;
            case QDBusArgument::VariantType: {
                QDBusVariant value;
                arg >> value;
                const QVariant inner = value.variant();
                nCount += 1 + (inner.canConvert<QDBusArgument>()
                                   ? CountValues(inner.value<QDBusArgument>())
                                   : 0);
                break;
            }
            case QDBusArgument::ArrayType:
                arg.beginArray();
                nCount += CountValues(arg);
                arg.endArray();
                break;
            case QDBusArgument::StructureType:
                arg.beginStructure();
                nCount += CountValues(arg);
                arg.endStructure();
                break;
            case QDBusArgument::MapType:
                arg.beginMap();
                nCount += CountValues(arg);
                arg.endMap();
                break;
            case QDBusArgument::MapEntryType:
                arg.beginMapEntry();
                nCount += CountValues(arg);
                arg.endMapEntry();
                break;
            default:
                return nCount;
        }
    }
    return nCount;
}

int CountValues(const QVariant& value) {
    if (value.canConvert<QDBusArgument>()) return CountValues(value.value<QDBusArgument>());
    if (value.userType() == QMetaType::QStringList) return int(value.toStringList().size());
    if (value.userType() == QMetaType::QByteArray) return int(value.toByteArray().size()) / 64;
    return 1;
}

// The item on one end of a private connection, and the caller on the other.
struct CSetup {
    std::unique_ptr<QDBusServer> pServer;
    std::unique_ptr<CQtStatusItem> pItem;
    std::unique_ptr<QDBusConnection> pCaller;
};

CSetup* g_pSetup = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* pArgc, char*** pArgv) {
    static QCoreApplication app(*pArgc, *pArgv);
    qDBusRegisterMetaType<CMenuEvent>();
    qDBusRegisterMetaType<QList<CMenuEvent>>();
    g_pSetup = new CSetup;
    g_pSetup->pServer = std::make_unique<QDBusServer>(QStringLiteral("unix:tmpdir=/tmp"));
    QObject::connect(g_pSetup->pServer.get(), &QDBusServer::newConnection,
                     [](const QDBusConnection& connection) {
                         g_pSetup->pItem = std::make_unique<CQtStatusItem>(
                             connection, QStringLiteral("Quorvane"),
                             QStringLiteral("Open Quorvane"), QStringLiteral("About Quorvane"),
                             [](CQtStatusItem::ERequest) {});
                         // The fuller menu, as GNOME Shell gets it.
                         g_pSetup->pItem->SetOpenEntry(true);
                     });
    g_pSetup->pCaller = std::make_unique<QDBusConnection>(
        QDBusConnection::connectToPeer(g_pSetup->pServer->address(), QStringLiteral("fuzz")));
    QElapsedTimer clock;
    clock.start();
    while (!g_pSetup->pItem && clock.elapsed() < 10000) QCoreApplication::processEvents();
    if (!g_pSetup->pItem || !g_pSetup->pItem->IsExported()) std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    CReader reader(data, size);
    const CMethod& method = kMethods[reader.Byte() % std::size(kMethods)];
    QDBusMessage call = QDBusMessage::createMethodCall(
        QString(), QString::fromLatin1(method.pszPath), QString::fromLatin1(method.pszInterface),
        QString::fromLatin1(method.pszMember));
    QVariantList args;
    for (int i = reader.Byte() % 6; i > 0; --i) args << reader.Value();
    call.setArguments(args);

    QDBusPendingCall pending = g_pSetup->pCaller->asyncCall(call, 5000);
    QDBusPendingCallWatcher watcher(pending);
    QEventLoop loop;
    QObject::connect(&watcher, &QDBusPendingCallWatcher::finished, &loop, &QEventLoop::quit);
    if (!pending.isFinished()) loop.exec();
    const QDBusMessage reply = pending.reply();
    // An answer of the program's own, never the connection's verdict that none came.
    if (reply.type() == QDBusMessage::ErrorMessage) {
        const QString strError = reply.errorName();
        if (strError.endsWith(QLatin1String(".NoReply")) ||
            strError.endsWith(QLatin1String(".Timeout")) ||
            strError.endsWith(QLatin1String(".Disconnected"))) {
            std::fprintf(stderr, "%s: %s %s\n", method.pszMember, qPrintable(strError),
                         qPrintable(reply.errorMessage()));
            std::abort();
        }
        return 0;
    }
    if (reply.type() != QDBusMessage::ReplyMessage) std::abort();
    int nValues = 0;
    for (const QVariant& value : reply.arguments()) nValues += CountValues(value);
    // The whole menu with every property, or the item's properties with its five pictures.
    if (nValues > 64 && method.pszMember != std::string("GetAll")) std::abort();
    return 0;
}
