// Measures, in one run under Wine, the Windows probe (TryPing to 127.0.0.1: ICMP handle opened,
// echo sent and waited for, handle closed) against bare echoes through the system's ICMP.DLL:
// IcmpSendEcho on one handle kept open, IcmpSendEcho2 with an event on it, and IcmpCreateFile,
// IcmpSendEcho and IcmpCloseHandle for every echo. Prints one line a way: its name, the median
// and the 90th percentile in microseconds. bench/wine_prober.sh runs it, and the same source
// built against an earlier tree, in one session and prints them side by side:
//   scripts/in-netns.sh scripts/wine-session.sh bench/wine_prober.sh [EARLIER_TREE [ROUNDS]]

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

#include "base/icmplib.h"
#include "base/inet.h"
#include "harness/netns.h"
#include "logic/keepalivedlg.h"
#include "platform/windows/win32platform.h"

// After the sockets header, which the program's headers bring in first.
#include <iphlpapi.h>

namespace {

constexpr int kPerRound = 50;
constexpr int kWarmUp = 20;
char g_payload[] = "Harrowbecks Software, Incorporated";

double Percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v[static_cast<std::size_t>(p * static_cast<double>(v.size() - 1))];
}

// Bound here, not from the library record: an earlier tree's has no such members.
using PFN_SendEcho2 = DWORD(WINAPI*)(HANDLE, HANDLE, void*, void*, IPAddr, void*, WORD,
                                     IP_OPTION_INFORMATION*, void*, DWORD, DWORD);
using PFN_ParseReplies = DWORD(WINAPI*)(void*, DWORD);

// A bare echo through the library: the answer counted, nothing else looked at.
class CBareEcho {
public:
    CBareEcho(const CIcmpLibrary& icmp) : m_icmp(icmp) {
        m_options.Ttl = 254;
        m_hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        m_pfnSendEcho2 = reinterpret_cast<PFN_SendEcho2>(
            reinterpret_cast<void*>(GetProcAddress(icmp.m_hIcmpLib, "IcmpSendEcho2")));
        m_pfnParseReplies = reinterpret_cast<PFN_ParseReplies>(
            reinterpret_cast<void*>(GetProcAddress(icmp.m_hIcmpLib, "IcmpParseReplies")));
    }
    ~CBareEcho() {
        if (m_hKept != INVALID_HANDLE_VALUE) m_icmp.m_pfnIcmpCloseHandle(m_hKept);
        CloseHandle(m_hEvent);
    }
    CBareEcho(const CBareEcho&) = delete;
    CBareEcho& operator=(const CBareEcho&) = delete;

    bool Open() {
        m_hKept = m_icmp.m_pfnIcmpCreateFile();
        return m_hKept != INVALID_HANDLE_VALUE;
    }
    bool Kept() { return Send(m_hKept); }
    bool PerEcho() {
        const HANDLE hIcmp = m_icmp.m_pfnIcmpCreateFile();
        if (hIcmp == INVALID_HANDLE_VALUE) return false;
        const bool bAnswered = Send(hIcmp);
        return m_icmp.m_pfnIcmpCloseHandle(hIcmp) && bAnswered;
    }
    bool KeptWithEvent() {
        if (m_pfnSendEcho2 == nullptr || m_pfnParseReplies == nullptr) return false;
        const DWORD dwSent =
            m_pfnSendEcho2(m_hKept, m_hEvent, nullptr, nullptr, m_loopback, g_payload,
                           sizeof g_payload, &m_options, m_reply, sizeof m_reply, 1000);
        if (dwSent != 0) return dwSent == 1;
        if (GetLastError() != ERROR_IO_PENDING ||
            WaitForSingleObject(m_hEvent, 2000) != WAIT_OBJECT_0)
            return false;
        return m_pfnParseReplies(m_reply, sizeof m_reply) == 1;
    }

private:
    bool Send(HANDLE hIcmp) {
        return m_icmp.m_pfnIcmpSendEcho(hIcmp, m_loopback, g_payload, sizeof g_payload, &m_options,
                                        m_reply, sizeof m_reply, 1000) == 1;
    }

    const CIcmpLibrary& m_icmp;
    // Without Winsock, as the program itself sends.
    const IPAddr m_loopback = InetAddr("127.0.0.1");
    HANDLE m_hKept = INVALID_HANDLE_VALUE;
    HANDLE m_hEvent = nullptr;
    PFN_SendEcho2 m_pfnSendEcho2 = nullptr;
    PFN_ParseReplies m_pfnParseReplies = nullptr;
    IP_OPTION_INFORMATION m_options{};
    alignas(8) unsigned char m_reply[280];
};

struct CWay {
    const char* pszName;
    std::function<bool()> echo;
    std::vector<double> times;
};

}  // namespace

int main(int argc, char** argv) {
    if (!OnlyLoopback()) {
        std::fprintf(stderr, "bench_prober_win32: run it in the loopback-only namespace\n");
        return 1;
    }
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    CWin32Platform platform;
    CIcmpLibrary icmp;
    if (icmp.Bind(platform) != nullptr) {
        std::fprintf(stderr, "bench_prober_win32: ICMP.DLL does not bind\n");
        return 1;
    }
    CKeepAliveDlg dlg(platform, icmp);
    CBareEcho bare(icmp);
    if (!bare.Open()) {
        std::fprintf(stderr, "bench_prober_win32: no ICMP handle\n");
        return 1;
    }
    std::vector<CWay> ways;
    ways.push_back({"TryPing", [&] { return dlg.TryPing("127.0.0.1") >= 0; }, {}});
    ways.push_back({"IcmpSendEcho, kept handle", [&] { return bare.Kept(); }, {}});
    ways.push_back({"IcmpSendEcho2+event, kept handle", [&] { return bare.KeptWithEvent(); }, {}});
    ways.push_back({"IcmpCreateFile+SendEcho+Close", [&] { return bare.PerEcho(); }, {}});

    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    for (CWay& way : ways) {
        for (int i = 0; i < kWarmUp; ++i) {
            if (!way.echo()) {
                std::fprintf(stderr, "bench_prober_win32: %s: an echo failed\n", way.pszName);
                return 1;
            }
        }
    }
    // Interleaved rounds, so drift on the machine weighs on all alike.
    for (int round = 0; round < rounds; ++round) {
        for (CWay& way : ways) {
            for (int i = 0; i < kPerRound; ++i) {
                LARGE_INTEGER start;
                LARGE_INTEGER end;
                QueryPerformanceCounter(&start);
                if (!way.echo()) {
                    std::fprintf(stderr, "bench_prober_win32: %s: an echo failed\n", way.pszName);
                    return 1;
                }
                QueryPerformanceCounter(&end);
                way.times.push_back(static_cast<double>(end.QuadPart - start.QuadPart) * 1e6 /
                                    static_cast<double>(frequency.QuadPart));
            }
        }
    }
    for (const CWay& way : ways)
        std::printf("%s\t%.1f\t%.1f\n", way.pszName, Percentile(way.times, 0.5),
                    Percentile(way.times, 0.9));
    return 0;
}
