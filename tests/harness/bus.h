#pragma once
// A message bus of the test's own, and the first line a starting server prints.
#include <QElapsedTimer>
#include <QProcess>
#include <QString>
#include <QStringList>

// Reads a process's standard output until a full line has come, or the time is up.
inline QByteArray ReadLine(QProcess& process, int nTimeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!process.canReadLine() && clock.elapsed() < nTimeoutMs &&
           process.state() != QProcess::NotRunning)
        process.waitForReadyRead(100);
    return process.canReadLine() ? process.readLine().trimmed() : QByteArray();
}

// Starts dbus-daemon with a session bus's settings in process (whose environment the caller
// has set), run through prefix (another user's, say), listening at strAddress or where it
// chooses; its address once it listens, empty when it does not within 10 s. A system bus of
// the test's own is one of these too: nothing it carries needs more.
inline QString StartBus(QProcess& process, const QStringList& prefix = {},
                        const QString& strAddress = {}) {
    QStringList command = prefix + QStringList{"dbus-daemon", "--session", "--nofork",
                                               "--nopidfile", "--print-address"};
    if (!strAddress.isEmpty()) command << "--address=" + strAddress;
    process.start(command.first(), command.mid(1));
    return QString::fromLatin1(ReadLine(process, 10000));
}
