// Loads a list file of 10,000 servers into the dialog's list and saves it again, on the real
// file system, and prints the median times.  Run: build/release/bench/bench_listfile [runs]

#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <vector>

#include "benchutil.h"
#include "logic/keepalivedlg.h"
#include "platform/linux/qtplatform.h"
#include "res/resource.h"

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 9;
    constexpr int kServers = 10000;

    QTemporaryDir dir;
    if (!dir.isValid() || ::chdir(dir.path().toLocal8Bit().constData()) != 0) return 1;
    {
        // Written unsorted, the worst case for a sorted list.
        std::ofstream file("Quorvane.Lst", std::ios::binary);
        file << "3600\r\n0\r\n0\r\n";
        for (int i = 0; i < kServers; ++i) {
            const int n = (i * 7919) % kServers;
            file << "10." << n / 65536 << '.' << (n / 256) % 256 << '.' << n % 256 << "\r\n";
        }
    }

    CQtPlatform platform;
    CIcmpLibrary icmp;
    std::vector<double> loads, shows, saves;
    for (int run = 0; run < runs; ++run) {
        CKeepAliveDlg dlg(platform, icmp);
        QElapsedTimer timer;
        timer.start();
        dlg.Create();  // loads the list file while it initialises
        loads.push_back(timer.nsecsElapsed() / 1e6);
        if (dlg.m_lbServers.GetCount() != kServers) {
            std::fprintf(stderr, "loaded %d servers, expected %d\n", dlg.m_lbServers.GetCount(),
                         kServers);
            return 1;
        }
        // The hidden dialog keeps the entries; its widgets take them when first shown.
        timer.restart();
        dlg.ShowWindow(SW_SHOW);
        shows.push_back(timer.nsecsElapsed() / 1e6);
        timer.restart();
        dlg.SendMessage(WM_COMMAND, IDOK);  // saves it
        saves.push_back(timer.nsecsElapsed() / 1e6);
        dlg.DestroyWindow();
    }
    std::printf("list file of %d servers, %d runs\n", kServers, runs);
    std::printf("load (dialog creation included): median %.2f ms, best %.2f ms\n", Median(loads),
                *std::min_element(loads.begin(), loads.end()));
    std::printf("first show of the dialog:        median %.2f ms, best %.2f ms\n", Median(shows),
                *std::min_element(shows.begin(), shows.end()));
    std::printf("save (OK, written to disk):      median %.2f ms, best %.2f ms\n", Median(saves),
                *std::min_element(saves.begin(), saves.end()));
    return 0;
}
