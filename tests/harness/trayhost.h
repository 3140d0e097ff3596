#pragma once
// The tray hosts of the hosts' table (trayhosts.h) started in an X11 desktop session, and the
// session bus as a test sees it: the desktop tests that photograph the icon or talk to the
// item start the hosts through this. For QtTest tests: waits let the test's own bus
// connection deliver what comes in meanwhile.

#include <QColor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusVariant>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QtTest/QtTest>
#include <memory>
#include <vector>

#include "harness/bus.h"
#include "harness/desktop.h"
#include "harness/trayhosts.h"

const QString kWatcher = QStringLiteral("org.kde.StatusNotifierWatcher");

// The session bus as a test sees it: a connection of its own.
class CBus {
public:
    explicit CBus(const QString& strAddress)
        : m_strAddress(strAddress),
          m_connection(QDBusConnection::connectToBus(strAddress, NextName())) {}
    ~CBus() { QDBusConnection::disconnectFromBus(m_connection.name()); }
    CBus(const CBus&) = delete;
    CBus& operator=(const CBus&) = delete;

    bool IsConnected() const { return m_connection.isConnected(); }
    QDBusConnection& Connection() { return m_connection; }

    // The unique name that owns a name; empty for none.
    QString Owner(const QString& strName) {
        const QDBusReply<QString> reply = m_connection.interface()->serviceOwner(strName);
        return reply.isValid() ? reply.value() : QString();
    }
    uint Pid(const QString& strName) {
        const QDBusReply<uint> reply = m_connection.interface()->servicePid(strName);
        return reply.isValid() ? reply.value() : 0;
    }
    // A property, read as a host reads it; invalid when no answer came in time.
    QVariant Get(const QString& strService, const QString& strPath, const QString& strInterface,
                 const QString& strName, int nTimeoutMs = 5000) {
        QDBusMessage call = QDBusMessage::createMethodCall(
            strService, strPath, QStringLiteral("org.freedesktop.DBus.Properties"),
            QStringLiteral("Get"));
        call << strInterface << strName;
        const QDBusMessage reply = m_connection.call(call, QDBus::Block, nTimeoutMs);
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return {};
        return reply.arguments().first().value<QDBusVariant>().variant();
    }
    // The items the watcher has, as "unique name/path".
    QStringList RegisteredItems() {
        return Get(kWatcher, QStringLiteral("/StatusNotifierWatcher"), kWatcher,
                   QStringLiteral("RegisteredStatusNotifierItems"))
            .toStringList();
    }
    // The number the bus gives the next connection (":1.N"): one made and closed to learn it.
    int NextConnectionNumber() {
        const QString strName = NextName();
        const QString strUnique =
            QDBusConnection::connectToBus(m_strAddress, strName).baseService();
        QDBusConnection::disconnectFromBus(strName);
        return strUnique.section('.', 1).toInt();
    }

private:
    static QString NextName() {
        static int nCount = 0;
        return QStringLiteral("qvtest-%1").arg(++nCount);
    }

    QString m_strAddress;
    QDBusConnection m_connection;
};

// A desktop's notification area (a row of the hosts' table), with the settings a user would
// have, in the session's home; its panel in the given colour when one is given (a host that
// has no such setting does not start).
class CTrayHost {
public:
    CTrayHost(CDesktop& desktop, CBus& bus, const QString& strName,
              const QColor& background = QColor())
        : m_desktop(desktop), m_bus(bus), m_pDriver(TrayHost(strName)) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const QString& setting : desktop.Session() + desktop.Home())
            env.insert(setting.section('=', 0, 0), setting.section('=', 1));
        // No accessibility bus of its own for the session to clean up after.
        env.insert("NO_AT_BRIDGE", "1");
        if (m_pDriver == nullptr) return;
        for (const QString& setting : m_pDriver->env)
            env.insert(setting.section('=', 0, 0), setting.section('=', 1));
        if (m_pDriver->bOwnSystemBus) {
            env.insert("DBUS_SYSTEM_BUS_ADDRESS", StartBus(m_systemBus));
        }
        const QDir home(desktop.HomePath());
        for (const CHostFile& file : m_pDriver->files) {
            const QString target = home.filePath(QString::fromLatin1(file.pszHome));
            home.mkpath(QFileInfo(target).path());
            QFile::copy(QStringLiteral(QV_HOSTS_DIR "/") + file.pszSource, target);
        }
        if (background.isValid()) m_bLookSet = SetBackground(home, background);
        m_env = env;
    }
    ~CTrayHost() {
        for (auto& pProcess : m_processes) {
            pProcess->kill();
            pProcess->waitForFinished();
        }
        if (m_systemBus.state() != QProcess::NotRunning) {
            m_systemBus.kill();
            m_systemBus.waitForFinished();
        }
    }
    CTrayHost(const CTrayHost&) = delete;
    CTrayHost& operator=(const CTrayHost&) = delete;

    bool MenuOnLeftClick() const { return m_pDriver != nullptr && m_pDriver->bMenuOnLeftClick; }
    bool ManagesWindows() const { return m_pDriver != nullptr && m_pDriver->bManagesWindows; }

    // True once its watcher is on the bus.
    bool Start() {
        if (m_pDriver == nullptr || !m_bLookSet) return false;
        for (const QStringList& command : m_pDriver->commands) {
            auto pProcess = std::make_unique<QProcess>();
            pProcess->setProcessEnvironment(m_env);
            pProcess->setStandardOutputFile(QProcess::nullDevice());
            pProcess->setStandardErrorFile(QProcess::nullDevice());
            pProcess->start(command.first(), command.mid(1));
            if (!pProcess->waitForStarted(5000)) return false;
            m_processes.push_back(std::move(pProcess));
        }
        if (m_pDriver->pszWatcherModule != nullptr) {
            if (!Until(15000, [this] { return !m_bus.Owner("org.kde.kded5").isEmpty(); }))
                return false;
            m_bus.Connection().call(QDBusMessage::createMethodCall("org.kde.kded5", "/kded",
                                                                   "org.kde.kded5", "loadModule")
                                    << QString::fromLatin1(m_pDriver->pszWatcherModule));
        }
        return Until(15000, [this] { return !m_bus.Owner(kWatcher).isEmpty(); });
    }
    // True once it has ended and its watcher is gone.
    bool Stop() {
        for (auto it = m_processes.rbegin(); it != m_processes.rend(); ++it) {
            (*it)->terminate();
            if (!(*it)->waitForFinished(5000)) {
                (*it)->kill();
                (*it)->waitForFinished();
            }
        }
        m_processes.clear();
        return Until(10000, [this] { return m_bus.Owner(kWatcher).isEmpty(); });
    }
    // Where on the screen it shows the items now; empty when it does not show (yet).
    QRect Area(int nTimeoutMs = 10000) {
        if (m_pDriver == nullptr) return {};
        if (!m_pDriver->area.isEmpty()) return m_pDriver->area;
        const xcb_window_t panel = m_desktop.Panel(m_pDriver->pszName, nTimeoutMs);
        return panel == XCB_NONE ? QRect() : m_desktop.Geometry(panel);
    }

    template <typename Condition>
    static bool Until(int nTimeoutMs, Condition condition) {
        QElapsedTimer clock;
        clock.start();
        do {
            if (condition()) return true;
            QTest::qWait(100);
        } while (clock.elapsed() < nTimeoutMs);
        return false;
    }

private:
    // The panel's colour in its first settings file.
    bool SetBackground(const QDir& home, const QColor& background) {
        if (m_pDriver->pfnBackground == nullptr || m_pDriver->files.isEmpty()) return false;
        QFile file(home.filePath(QString::fromLatin1(m_pDriver->files.first().pszHome)));
        if (!file.open(QIODevice::ReadWrite)) return false;
        const QByteArray settings = m_pDriver->pfnBackground(file.readAll(), background);
        return !settings.isEmpty() && file.resize(0) && file.write(settings) == settings.size();
    }

    CDesktop& m_desktop;
    CBus& m_bus;
    const CTrayHostDriver* m_pDriver;
    QProcessEnvironment m_env;
    std::vector<std::unique_ptr<QProcess>> m_processes;
    QProcess m_systemBus;
    bool m_bLookSet = true;
};
