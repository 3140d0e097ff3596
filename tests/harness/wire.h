#pragma once
// What the real program puts on the wire in the loopback-only namespace, and the firewall
// rules that make a server silent there. Header-only: shared by the end-to-end tests and the
// bus benchmark.

#include <linux/sockios.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/time.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QStringList>
#include <QVector>
#include <ctime>

#include "packet.h"

struct CSeen {
    QString strDestination;
    double seconds;  // since the capture started
};

// Every echo request leaving through lo, seen before any firewall rule can drop it.
class CCapture {
public:
    CCapture() : m_fd(OpenLoopbackCapture()) { m_clock.start(); }
    ~CCapture() {
        if (m_fd >= 0) ::close(m_fd);
    }
    CCapture(const CCapture&) = delete;
    CCapture& operator=(const CCapture&) = delete;
    bool IsOpen() const { return m_fd >= 0; }
    // Seconds since the capture started.
    double Now() const { return m_clock.elapsed() / 1000.0; }

    // Collects until the given number of seconds has passed since the capture started.
    void RunUntil(double seconds) {
        for (;;) {
            const qint64 left = static_cast<qint64>(seconds * 1000) - m_clock.elapsed();
            if (left <= 0) return;
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
            const std::optional<CEchoRequest> request = ReceiveEchoRequest(m_fd);
            if (request)
                m_seen.push_back({QString::fromStdString(request->strDestination), SentAt()});
        }
    }

    // Collects until a request to one of the addresses has been seen, or the seconds pass.
    bool RunUntilSeen(const QStringList& addresses, double seconds) {
        while (To(addresses).isEmpty() && m_clock.elapsed() < seconds * 1000)
            RunUntil(m_clock.elapsed() / 1000.0 + 0.1);
        return !To(addresses).isEmpty();
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
    // When the packet just read went through lo: by the kernel's stamp, as a test busy with
    // something else reads what was queued meanwhile late.
    double SentAt() const {
        const double now = m_clock.elapsed() / 1000.0;
        timeval stamp{};
        timespec realNow{};
        if (::ioctl(m_fd, SIOCGSTAMP, &stamp) != 0 ||
            ::clock_gettime(CLOCK_REALTIME, &realNow) != 0)
            return now;
        const double age = static_cast<double>(realNow.tv_sec - stamp.tv_sec) +
                           (realNow.tv_nsec / 1000 - stamp.tv_usec) / 1e6;
        return age >= 0 && age < now ? now - age : now;
    }

    int m_fd = -1;
    QElapsedTimer m_clock;
    QVector<CSeen> m_seen;
};

inline QStringList Destinations(const QVector<CSeen>& seen) {
    QStringList list;
    for (const CSeen& s : seen) list << s.strDestination;
    return list;
}

// Echo requests to the given addresses are dropped by this namespace's firewall while the
// rule lives.
class CSilentServers {
public:
    explicit CSilentServers(const QStringList& addresses) {
        Nft({"delete", "table", "inet", "qvtest"});
        m_bOk = Nft({"add", "table", "inet", "qvtest"}) &&
                Nft({"add", "chain", "inet", "qvtest", "input",
                     "{ type filter hook input priority 0; }"}) &&
                Nft({"add", "rule", "inet", "qvtest", "input", "ip", "daddr",
                     "{ " + addresses.join(", ") + " }", "icmp", "type", "echo-request", "drop"});
    }
    ~CSilentServers() { Nft({"delete", "table", "inet", "qvtest"}); }
    CSilentServers(const CSilentServers&) = delete;
    CSilentServers& operator=(const CSilentServers&) = delete;
    bool IsSet() const { return m_bOk; }

private:
    static bool Nft(const QStringList& args) {
        QProcess nft;
        nft.start("nft", args);
        return nft.waitForFinished(5000) && nft.exitStatus() == QProcess::NormalExit &&
               nft.exitCode() == 0;
    }
    bool m_bOk = false;
};
