// The whole program at work in the loopback-only namespace: the echo requests it puts on the
// wire, in order and in time, with every server answering and with one whose echoes a
// firewall rule drops.

#include <arpa/inet.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <netinet/ip.h>
#include <netinet/ip_icmp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest/QtTest>

#include "netns.h"

namespace {

struct CSeen {
    QString strDestination;
    double seconds;  // since the capture started
};

// Every echo request leaving through lo, seen before any firewall rule can drop it.
class CCapture {
public:
    CCapture() {
        m_fd = ::socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC, htons(ETH_P_IP));
        if (m_fd < 0) return;
        sockaddr_ll where{};
        where.sll_family = AF_PACKET;
        where.sll_protocol = htons(ETH_P_IP);
        where.sll_ifindex = static_cast<int>(if_nametoindex("lo"));
        if (::bind(m_fd, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0) {
            ::close(m_fd);
            m_fd = -1;
        }
        m_clock.start();
    }
    ~CCapture() {
        if (m_fd >= 0) ::close(m_fd);
    }
    bool IsOpen() const { return m_fd >= 0; }

    // Collects until the given number of seconds has passed since the capture started.
    void RunUntil(double seconds) {
        for (;;) {
            const qint64 left = static_cast<qint64>(seconds * 1000) - m_clock.elapsed();
            if (left <= 0) return;
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
            unsigned char packet[2048];
            sockaddr_ll from{};
            socklen_t fromLength = sizeof from;
            const ssize_t n = ::recvfrom(m_fd, packet, sizeof packet, 0,
                                         reinterpret_cast<sockaddr*>(&from), &fromLength);
            // Taken as it arrives on lo, before any firewall rule; some kernels also show
            // the outgoing copy, which would count it twice.
            if (n < 20 || from.sll_pkttype != PACKET_HOST) continue;
            const auto* ip = reinterpret_cast<const iphdr*>(packet);
            const std::size_t header = ip->ihl * 4u;
            if (ip->protocol != IPPROTO_ICMP || n < static_cast<ssize_t>(header + 8) ||
                packet[header] != ICMP_ECHO)
                continue;
            in_addr destination{ip->daddr};
            m_seen.push_back(
                {QString::fromLatin1(inet_ntoa(destination)), m_clock.elapsed() / 1000.0});
        }
    }

    // The requests to the given addresses, in order.
    QVector<CSeen> To(const QStringList& addresses) const {
        QVector<CSeen> seen;
        for (const CSeen& s : m_seen) {
            if (addresses.contains(s.strDestination)) seen.push_back(s);
        }
        return seen;
    }

private:
    int m_fd = -1;
    QElapsedTimer m_clock;
    QVector<CSeen> m_seen;
};

QStringList Destinations(const QVector<CSeen>& seen) {
    QStringList list;
    for (const CSeen& s : seen) list << s.strDestination;
    return list;
}

// The program, started in its own working directory with its own list file.
class CProgram {
public:
    CProgram(const QByteArray& listFile) {
        QFile file(m_dir.path() + "/Quorvane.Lst");
        file.open(QIODevice::WriteOnly);
        file.write(listFile);
        file.close();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        m_process.setProcessEnvironment(env);
        m_process.setWorkingDirectory(m_dir.path());
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QStringLiteral(QV_QUORVANE_PATH), {});
    }
    ~CProgram() {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }
    bool Started() { return m_process.waitForStarted(); }
    // Ends it as the session would: SIGTERM, then a clean exit.
    bool EndCleanly() {
        m_process.terminate();
        return m_process.waitForFinished(5000) && m_process.exitStatus() == QProcess::NormalExit &&
               m_process.exitCode() == 0;
    }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
};

bool Nft(const QStringList& args) {
    QProcess nft;
    nft.start("nft", args);
    return nft.waitForFinished(5000) && nft.exitStatus() == QProcess::NormalExit &&
           nft.exitCode() == 0;
}

}  // namespace

class CTestEndToEnd : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void RoundRobinOnTheWire();
    void SilentServerOnTheWire();
    void cleanupTestCase();
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
    QVERIFY(program.EndCleanly());

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
    Nft({"delete", "table", "inet", "qvtest"});
    QVERIFY(Nft({"add", "table", "inet", "qvtest"}));
    QVERIFY(
        Nft({"add", "chain", "inet", "qvtest", "input", "{ type filter hook input priority 0; }"}));
    QVERIFY(Nft({"add", "rule", "inet", "qvtest", "input", "ip", "daddr",
                 "{ 127.0.0.2, 127.0.0.12 }", "icmp", "type", "echo-request", "drop"}));

    CProgram off("3\r\n0\r\n0\r\n127.0.0.1\r\n127.0.0.2\r\n127.0.0.3\r\n");
    CProgram on("3\r\n1\r\n0\r\n127.0.0.11\r\n127.0.0.12\r\n127.0.0.13\r\n");
    QVERIFY(off.Started() && on.Started());
    // Tick 1 at 3 s, tick 2 at 6 s waits 3 x 5 s for the silent server, tick 3 at 24 s.
    capture.RunUntil(26.0);
    QVERIFY(off.EndCleanly());
    QVERIFY(on.EndCleanly());
    Nft({"delete", "table", "inet", "qvtest"});

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

void CTestEndToEnd::cleanupTestCase() { Nft({"delete", "table", "inet", "qvtest"}); }

QTEST_APPLESS_MAIN(CTestEndToEnd)
#include "test_endtoend.moc"
