// The whole program at work in the loopback-only namespace: the echo requests it puts on the
// wire, in order and in time, with every server answering and with one whose echoes a
// firewall rule drops.

#include <QtTest/QtTest>

#include "harness/netns.h"
#include "harness/program.h"
#include "harness/wire.h"

class CTestEndToEnd : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void RoundRobinOnTheWire();
    void SilentServerOnTheWire();
};

void CTestEndToEnd::initTestCase() {
    if (!OnlyLoopback()) QSKIP("real echo requests only in a namespace that holds nothing but lo");
}

void CTestEndToEnd::RoundRobinOnTheWire() {
    CCapture capture;
    if (!capture.IsOpen()) QSKIP("no packet capture here (needs CAP_NET_RAW)");
    CProgram program("3\r\n0\r\n0\r\n127.0.0.1\r\n127.0.0.2\r\n127.0.0.3\r\n");
    QVERIFY(program.Started());
    capture.RunUntil(11.0);
    QVERIFY2(program.EndCleanly(), qPrintable(program.Outcome()));

    const QVector<CSeen> seen = capture.To({"127.0.0.1", "127.0.0.2", "127.0.0.3"});
    QVERIFY2(seen.size() >= 3, qPrintable(Destinations(seen).join(' ')));
    QCOMPARE(Destinations(seen).mid(0, 3), QStringList({"127.0.0.1", "127.0.0.2", "127.0.0.3"}));
    // One tick every delay, counted from the end of the previous round.
    for (int i = 1; i < 3; ++i) {
        const double gap = seen[i].seconds - seen[i - 1].seconds;
        QVERIFY2(gap > 2.9 && gap < 3.6, qPrintable(QString::number(gap)));
    }
}

void CTestEndToEnd::SilentServerOnTheWire() {
    CCapture capture;
    if (!capture.IsOpen()) QSKIP("no packet capture here (needs CAP_NET_RAW)");
    // Two programs at once, one with "Cycle on No Contact" off and one with it on, each
    // with a server whose echoes are dropped.
    CSilentServers silent({"127.0.0.2", "127.0.0.12"});
    QVERIFY(silent.IsSet());

    CProgram off("3\r\n0\r\n0\r\n127.0.0.1\r\n127.0.0.2\r\n127.0.0.3\r\n");
    CProgram on("3\r\n1\r\n0\r\n127.0.0.11\r\n127.0.0.12\r\n127.0.0.13\r\n");
    QVERIFY(off.Started() && on.Started());
    // Tick 1 at 3 s, tick 2 at 6 s waits 3 x 5 s for the silent server, tick 3 at 24 s.
    capture.RunUntil(26.0);
    QVERIFY2(off.EndCleanly(), qPrintable(off.Outcome()));
    QVERIFY2(on.EndCleanly(), qPrintable(on.Outcome()));

    const QVector<CSeen> seenOff = capture.To({"127.0.0.1", "127.0.0.2", "127.0.0.3"});
    QCOMPARE(Destinations(seenOff).mid(0, 5),
             QStringList({"127.0.0.1", "127.0.0.2", "127.0.0.2", "127.0.0.2", "127.0.0.3"}));
    // The three requests to the silent server are one timeout apart.
    for (int i = 2; i < 4; ++i) {
        const double gap = seenOff[i].seconds - seenOff[i - 1].seconds;
        QVERIFY2(gap > 4.9 && gap < 5.6, qPrintable(QString::number(gap)));
    }
    // With the option on, the same tick goes on to the next server.
    const QVector<CSeen> seenOn = capture.To({"127.0.0.11", "127.0.0.12", "127.0.0.13"});
    QCOMPARE(Destinations(seenOn).mid(0, 6),
             QStringList({"127.0.0.11", "127.0.0.12", "127.0.0.12", "127.0.0.12", "127.0.0.13",
                          "127.0.0.11"}));
    const double sameTick = seenOn[4].seconds - seenOn[3].seconds;
    QVERIFY2(sameTick > 4.9 && sameTick < 5.6, qPrintable(QString::number(sameTick)));
    const double nextTick = seenOn[5].seconds - seenOn[4].seconds;
    QVERIFY2(nextTick > 2.9 && nextTick < 3.6, qPrintable(QString::number(nextTick)));
}

QTEST_APPLESS_MAIN(CTestEndToEnd)
#include "test_endtoend.moc"
