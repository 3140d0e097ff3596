// Measures, in one run, TryPing to 127.0.0.1 (an ICMP socket opened and closed every time)
// against a bare echo exchange on one socket kept open, and prints the medians; for each socket
// kind this namespace lets it switch to. Run it in the private network namespace:
//   scripts/in-netns.sh build/release/bench/bench_prober [rounds]
// or, for counting system calls: bench_prober --probes N (nothing but N probes). bench/prober.sh
// runs it for two builds in one go.

#include <arpa/inet.h>
#include <net/if.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "harness/netns.h"
#include "logic/keepalivedlg.h"
#include "platform/linux/icmpfacility.h"
#include "platform/linux/icmppacket.h"
#include "platform/linux/qtplatform.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kPerRound = 100;
constexpr int kWarmUp = 50;
const char kPingGroupRange[] = "/proc/sys/net/ipv4/ping_group_range";
const char kPayload[] = "Harrowbecks Software, Incorporated";

double Micros(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

double Percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v[static_cast<std::size_t>(p * static_cast<double>(v.size() - 1))];
}

// An echo with nothing around it: one socket kept open, a request sent, the first reply with
// its sequence taken, nothing else checked. Classic: wait with poll, then read. Lean: read at
// once and wait only when nothing is queued yet, the least an echo can cost. Per probe: the
// lean exchange on a socket opened and closed for each echo, as every probe does.
class CBareEcho {
public:
    CBareEcho(bool bRaw, bool bLean, bool bPerProbe = false)
        : m_bRaw(bRaw),
          m_bLean(bLean),
          m_bPerProbe(bPerProbe),
          m_nFd(bPerProbe ? -1 : Open()),
          m_buffer(65536) {
        m_to.sin_family = AF_INET;
        m_to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    }
    ~CBareEcho() {
        if (m_nFd >= 0) close(m_nFd);
    }
    CBareEcho(const CBareEcho&) = delete;
    CBareEcho& operator=(const CBareEcho&) = delete;

    // A raw socket gets every ICMP packet of the namespace: what the others sent meanwhile is
    // dropped before timing, or it would fill the queue and push our reply out.
    void Drain() {
        while (m_nFd >= 0 && recv(m_nFd, m_buffer.data(), m_buffer.size(), MSG_DONTWAIT) >= 0) {
        }
    }

    bool Exchange() {
        if (!m_bPerProbe) return Exchange(m_nFd);
        const int fd = Open();
        const bool bDone = fd >= 0 && Exchange(fd);
        if (fd >= 0) close(fd);
        return bDone;
    }

private:
    int Open() const { return socket(AF_INET, m_bRaw ? SOCK_RAW : SOCK_DGRAM, IPPROTO_ICMP); }

    bool Exchange(int fd) {
        CEchoRequest request;
        request.m_wIdent = m_wIdent;
        request.m_wSequence = ++m_wSequence;
        request.m_pData = reinterpret_cast<const BYTE*>(kPayload);
        request.m_wSize = sizeof kPayload;
        const std::vector<BYTE> packet = BuildEchoRequest(request);
        if (sendto(fd, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&m_to),
                   sizeof m_to) < 0)
            return false;
        for (bool bWait = !m_bLean;; bWait = true) {
            pollfd pfd{fd, POLLIN, 0};
            if (bWait && poll(&pfd, 1, 1000) <= 0) return false;
            const ssize_t size = recv(fd, m_buffer.data(), m_buffer.size(), MSG_DONTWAIT);
            if (size < 0 && errno == EAGAIN && !bWait) continue;
            if (size < 0) return false;
            const std::size_t offset =
                m_bRaw ? static_cast<std::size_t>(m_buffer[0] & 0x0F) * 4 : 0;
            // On a raw socket our own request comes back first.
            if (static_cast<std::size_t>(size) >= offset + kIcmpHeaderSize &&
                m_buffer[offset] == kIcmpEchoReply &&
                (!m_bRaw || (m_buffer[offset + 4] << 8 | m_buffer[offset + 5]) == m_wIdent) &&
                (m_buffer[offset + 6] << 8 | m_buffer[offset + 7]) == m_wSequence)
                return true;
        }
    }

    bool m_bRaw;
    bool m_bLean;
    bool m_bPerProbe;
    int m_nFd;
    WORD m_wIdent = static_cast<WORD>(getpid() + (m_bLean ? 1 : 2));
    WORD m_wSequence = 0;
    sockaddr_in m_to{};
    std::vector<BYTE> m_buffer;
};

// Switches the facility to one socket kind through the namespace's ping_group_range.
bool UseSocketKind(bool bRaw) {
    std::ofstream(kPingGroupRange) << (bRaw ? "1 0\n" : "0 2147483647\n");
    HANDLE hIcmp = QvIcmpCreateFile();
    const bool bMatches = hIcmp != INVALID_HANDLE_VALUE && QvIcmpIsRawHandle(hIcmp) == bRaw;
    QvIcmpCloseHandle(hIcmp);
    return bMatches;
}

bool Measure(bool bRaw, CKeepAliveDlg& dlg, int rounds) {
    CBareEcho classic(bRaw, false);
    CBareEcho lean(bRaw, true);
    CBareEcho perProbe(bRaw, true, true);
    std::vector<double> tryPing;
    std::vector<double> classicTimes;
    std::vector<double> leanTimes;
    std::vector<double> perProbeTimes;
    for (int i = 0; i < kWarmUp; ++i) {
        if (dlg.TryPing("127.0.0.1") < 0 || !classic.Exchange() || !lean.Exchange() ||
            !perProbe.Exchange())
            return false;
    }
    auto time = [&](auto&& echo, std::vector<double>& times) {
        classic.Drain();
        lean.Drain();
        for (int i = 0; i < kPerRound; ++i) {
            const auto start = Clock::now();
            if (!echo()) return false;
            times.push_back(Micros(Clock::now() - start));
        }
        return true;
    };
    // Interleaved rounds, so drift on the machine weighs on all alike.
    for (int round = 0; round < rounds; ++round) {
        if (!time([&] { return dlg.TryPing("127.0.0.1") >= 0; }, tryPing) ||
            !time([&] { return classic.Exchange(); }, classicTimes) ||
            !time([&] { return lean.Exchange(); }, leanTimes) ||
            !time([&] { return perProbe.Exchange(); }, perProbeTimes))
            return false;
    }
    const double tryPingMedian = Percentile(tryPing, 0.5);
    std::printf("%s socket, %zu echoes each to 127.0.0.1 (median, p90):\n",
                bRaw ? "raw" : "datagram", tryPing.size());
    std::printf("  TryPing: open, send, wait, close     %6.1f us  %6.1f us\n", tryPingMedian,
                Percentile(tryPing, 0.9));
    auto report = [&](const char* name, const std::vector<double>& times) {
        const double median = Percentile(times, 0.5);
        std::printf("  %-36s %6.1f us  %6.1f us   TryPing %.2fx\n", name, median,
                    Percentile(times, 0.9), tryPingMedian / median);
    };
    report("bare exchange: send, poll, receive", classicTimes);
    report("lean exchange: send, receive", leanTimes);
    report("lean, own socket: open ... close", perProbeTimes);
    const double ratio = tryPingMedian / Percentile(classicTimes, 0.5);
    std::printf("  goal, TryPing at most 2x the bare exchange: %s\n",
                ratio <= 2.0 ? "met" : "NOT met");
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    // Only ever in a namespace of its own: nothing may reach a real network.
    if (!OnlyLoopback()) {
        std::fprintf(stderr, "bench_prober: run it as scripts/in-netns.sh %s\n", argv[0]);
        return 1;
    }
    QCoreApplication app(argc, argv);
    // --probes N: nothing but N probes, for counting what they cost (strace -c).
    const bool bProbesOnly = argc > 2 && std::strcmp(argv[1], "--probes") == 0;
    const char* pszCount = bProbesOnly ? argv[2] : argc > 1 ? argv[1] : "20";
    const int rounds = std::max(1, std::atoi(pszCount));

    CQtPlatform platform;
    CIcmpLibrary icmp;
    if (icmp.Bind(platform) != nullptr) {
        std::fprintf(stderr, "bench_prober: %s\n", platform.GetLoadLibraryError().c_str());
        return 1;
    }
    CKeepAliveDlg dlg(platform, icmp);
    if (bProbesOnly) {
        for (int i = 0; i < rounds; ++i) {
            if (dlg.TryPing("127.0.0.1") < 0) return 1;
        }
        return 0;
    }

    // The namespace's setting, put back at the end.
    std::string strRange;
    std::getline(std::ifstream(kPingGroupRange), strRange);
    int measured = 0;
    bool bFailed = false;
    for (bool bRaw : {false, true}) {
        if (bFailed || !UseSocketKind(bRaw)) continue;
        bFailed = !Measure(bRaw, dlg, rounds);
        ++measured;
    }
    if (!strRange.empty()) std::ofstream(kPingGroupRange) << strRange << '\n';
    if (measured == 0) {
        // Not allowed to switch: measure whatever the facility opens.
        HANDLE hIcmp = QvIcmpCreateFile();
        const bool bRaw = QvIcmpIsRawHandle(hIcmp);
        QvIcmpCloseHandle(hIcmp);
        bFailed = !Measure(bRaw, dlg, rounds);
    }
    if (bFailed) std::fprintf(stderr, "bench_prober: an echo to 127.0.0.1 failed\n");
    return bFailed ? 1 : 0;
}
