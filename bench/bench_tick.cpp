// One keep-alive tick with 10 and with 10,000 servers, every echo answered at once by the
// recording platform: the cost of the tick itself must not grow with the list.
// Run: build/release/bench/bench_tick [ticks]

#include <QApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "benchutil.h"
#include "harness/fakeplatform.h"
#include "logic/keepalivedlg.h"

namespace {

double MedianTickMicros(int nServers, int nTicks) {
    CFakePlatform platform;
    const CIcmpLibrary icmp = platform.BoundIcmp();
    CKeepAliveDlg dlg(platform, icmp);
    dlg.Create();
    std::vector<CString> servers;
    for (int i = 0; i < nServers; ++i) {
        const CString address = "10." + std::to_string(i / 65536) + "." +
                                std::to_string(i / 256 % 256) + "." + std::to_string(i % 256);
        platform.m_echoAnswers[address] = {};
        servers.push_back(address);
    }
    dlg.m_lbServers.AddStrings(servers);
    dlg.m_nDelay = 3;
    dlg.m_bCycling = TRUE;
    dlg.SetTimer(ID_PING_TIMER, 3000);

    std::vector<double> micros;
    QElapsedTimer timer;
    for (int n = 0; n < nTicks; ++n) {
        platform.m_echoRequests.clear();
        platform.m_events.clear();
        platform.m_trayCalls.clear();
        timer.start();
        platform.FireTimer(dlg, ID_PING_TIMER);
        micros.push_back(timer.nsecsElapsed() / 1e3);
        if (platform.m_echoRequests.size() != 1) {
            std::fprintf(stderr, "a tick sent %zu requests, expected 1\n",
                         platform.m_echoRequests.size());
            std::exit(1);
        }
    }
    return Median(micros);
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int ticks = argc > 1 ? std::max(1, std::atoi(argv[1])) : 2001;
    const double small = MedianTickMicros(10, ticks);
    const double large = MedianTickMicros(10000, ticks);
    std::printf("one tick, every echo answered at once, median of %d ticks\n", ticks);
    std::printf("     10 servers: %8.2f us\n", small);
    std::printf("  10000 servers: %8.2f us  (%.2fx)\n", large, large / small);
    return 0;
}
