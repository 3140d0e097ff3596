// What another peer on the session bus can do to the program: for each call (or burst of
// calls) to its item and menu, whether it still runs, how long the answer took, its resident
// memory before and after, and the widest gap between its echo requests from the call until
// 8 s after the answer (the delay is 3 s). Each row starts the program afresh, under Xvfb with
// icewm's tray and a session bus of its own. Run it in the private network namespace, after
// scripts/build.sh release:
//   scripts/in-netns.sh build/release/bench/bench_bus [QUORVANE]

#include <signal.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QTemporaryDir>
#include <atomic>
#include <cstdio>
#include <functional>
#include <thread>
#include <vector>

#include "harness/desktop.h"
#include "harness/netns.h"
#include "harness/wire.h"

namespace {

const QString kItemPath = QStringLiteral("/StatusNotifierItem");
const QString kMenuPath = QStringLiteral("/MenuBar");

QDBusMessage Call(const QString& strTo, const QString& strPath, const char* pszInterface,
                  const char* pszMethod, const QVariantList& args) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        strTo, strPath, QString::fromLatin1(pszInterface), QString::fromLatin1(pszMethod));
    call.setArguments(args);
    return call;
}

QDBusMessage Menu(const QString& strTo, const char* pszMethod, const QVariantList& args) {
    return Call(strTo, kMenuPath, "com.canonical.dbusmenu", pszMethod, args);
}

struct CAttack {
    const char* pszWhat;
    std::function<std::vector<QDBusMessage>(const QString& strTo)> calls;
};

// Resident memory in MiB; 0 once the process is gone.
double RssOf(qint64 nPid) {
    QFile status(QStringLiteral("/proc/%1/status").arg(nPid));
    if (!status.open(QIODevice::ReadOnly)) return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ')[0].toDouble() / 1024;
    }
    return 0;
}

// The program's own connection: the one other peer that serves an item.
QString ProgramOn(QDBusConnection& bus) {
    for (const QString& strName : bus.interface()->registeredServiceNames().value()) {
        if (!strName.startsWith(':') || strName == bus.baseService()) continue;
        const QDBusMessage reply = bus.call(
            Call(strName, kItemPath, "org.freedesktop.DBus.Introspectable", "Introspect", {}),
            QDBus::Block, 1000);
        if (reply.arguments().value(0).toString().contains("org.kde.StatusNotifierItem"))
            return strName;
    }
    return {};
}

void Run(const QString& strProgram, const CAttack& attack) {
    CCapture capture;
    QElapsedTimer clock;  // as the capture's
    clock.start();
    CDesktop desktop;
    if (!desktop.IsUp()) {
        std::printf("%-44s no desktop\n", attack.pszWhat);
        return;
    }
    QDBusConnection bus =
        QDBusConnection::connectToBus(desktop.BusAddress(), QStringLiteral("bench"));

    QTemporaryDir dir;
    QFile list(dir.filePath("Quorvane.Lst"));
    if (list.open(QIODevice::WriteOnly)) list.write("3\r\n0\r\n0\r\n127.0.0.1\r\n");
    list.close();
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString& setting : desktop.Session())
        env.insert(setting.section('=', 0, 0), setting.section('=', 1));
    program.setProcessEnvironment(env);
    program.setWorkingDirectory(dir.path());
    program.setStandardErrorFile(QProcess::nullDevice());
    program.start(strProgram, {});
    QString strTo;
    while (strTo.isEmpty() && clock.elapsed() < 20000 && program.state() != QProcess::NotRunning) {
        capture.RunUntil(clock.elapsed() / 1000.0 + 0.2);
        strTo = ProgramOn(bus);
    }
    if (strTo.isEmpty()) {
        std::printf("%-44s the program did not come up on the bus\n", attack.pszWhat);
        return;
    }
    capture.RunUntil(clock.elapsed() / 1000.0 + 4.0);  // settled
    const double rssBefore = RssOf(program.processId());
    const std::vector<QDBusMessage> calls = attack.calls(strTo);

    // The calls go from a thread of their own, so that making them never holds the capture up.
    const double sentAt = clock.elapsed() / 1000.0;
    std::atomic<bool> bDone{false};
    int nAnswered = 0;
    QString strFirstError;
    std::thread caller([&] {
        std::vector<QDBusPendingCall> pending;
        for (const QDBusMessage& call : calls) pending.push_back(bus.asyncCall(call, 120000));
        for (QDBusPendingCall& call : pending) {
            call.waitForFinished();
            const QString strError = call.error().name();
            if (!strError.endsWith(".NoReply") && !strError.endsWith(".ServiceUnknown"))
                ++nAnswered;
            if (strFirstError.isEmpty()) strFirstError = strError.section('.', -1);
        }
        bDone = true;
    });
    while (!bDone) {
        capture.RunUntil(clock.elapsed() / 1000.0 + 0.01);
        QCoreApplication::processEvents();
    }
    caller.join();
    const double answeredAt = clock.elapsed() / 1000.0;
    capture.RunUntil(answeredAt + 8.0);
    const double rssAfter = RssOf(program.processId());
    program.waitForFinished(0);

    const QVector<CSeen> requests = capture.To({"127.0.0.1"});
    double last = sentAt;
    double widest = 0;
    for (const CSeen& seen : requests) {
        if (seen.seconds < sentAt) {
            last = seen.seconds;
            continue;
        }
        widest = qMax(widest, seen.seconds - last);
        last = seen.seconds;
    }
    widest = qMax(widest, clock.elapsed() / 1000.0 - last);

    QString strState = QStringLiteral("running");
    if (program.state() == QProcess::NotRunning)
        strState = program.exitStatus() == QProcess::CrashExit
                       ? QStringLiteral("signal %1").arg(program.exitCode())
                       : QStringLiteral("exit %1").arg(program.exitCode());
    // Once the program is gone the gap only says how long the row watched.
    std::printf("%-44s %-9s %4d/%-4zu %-16s %8.0f ms %6.1f -> %6.1f MiB %6.2f s%s\n",
                attack.pszWhat, qPrintable(strState), nAnswered, calls.size(),
                qPrintable(strFirstError.isEmpty() ? QStringLiteral("-") : strFirstError),
                (answeredAt - sentAt) * 1000, rssBefore, rssAfter, widest,
                program.state() == QProcess::NotRunning ? " (no requests since)" : "");
    std::fflush(stdout);
    if (program.state() != QProcess::NotRunning) {
        program.terminate();
        if (!program.waitForFinished(5000)) program.kill();
        program.waitForFinished();
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("bench"));
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    if (!OnlyLoopback()) {
        std::fprintf(stderr,
                     "bench_bus: run it in the loopback-only namespace (scripts/in-netns.sh)\n");
        return 1;
    }
    if (!CCapture().IsOpen()) {
        std::fprintf(stderr, "bench_bus: no packet capture here (needs CAP_NET_RAW)\n");
        return 1;
    }
    const QString strProgram =
        argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(QV_QUORVANE_PATH);

    QList<int> ids(1000000);
    for (int i = 0; i < ids.size(); ++i) ids[i] = i % 2;
    const QString wide(64 * 1024, QChar('v'));
    const std::vector<CAttack> attacks = {
        {"GetProperty 1 \"nonexistent\"",
         [](const QString& to) {
             return std::vector<QDBusMessage>{Menu(to, "GetProperty", {1, "nonexistent"})};
         }},
        {"GetProperty 7 \"label\"",
         [](const QString& to) {
             return std::vector<QDBusMessage>{Menu(to, "GetProperty", {7, "label"})};
         }},
        {"GetLayout 5 0 []",
         [](const QString& to) {
             return std::vector<QDBusMessage>{Menu(to, "GetLayout", {5, 0, QStringList()})};
         }},
        {"GetLayout -1 -1 []",
         [](const QString& to) {
             return std::vector<QDBusMessage>{Menu(to, "GetLayout", {-1, -1, QStringList()})};
         }},
        {"GetGroupProperties 1,000,000 ids",
         [&](const QString& to) {
             return std::vector<QDBusMessage>{
                 Menu(to, "GetGroupProperties", {QVariant::fromValue(ids), QStringList()})};
         }},
        {"GetGroupProperties 1,000,000 ids, 5 at once",
         [&](const QString& to) {
             return std::vector<QDBusMessage>(
                 5, Menu(to, "GetGroupProperties", {QVariant::fromValue(ids), QStringList()}));
         }},
        {"Scroll with 64 KiB, 1,000 at once",
         [&](const QString& to) {
             return std::vector<QDBusMessage>(
                 1000, Call(to, kItemPath, "org.kde.StatusNotifierItem", "Scroll", {1, wide}));
         }},
    };
    std::printf("program: %s\n%-44s %-9s %9s %-16s %11s %22s %8s\n", qPrintable(strProgram),
                "calls", "program", "answered", "first error", "answer", "RSS before -> after",
                "echo gap");
    for (const CAttack& attack : attacks) Run(strProgram, attack);
    return 0;
}
