// Usage: qvcapture SECONDS
// The echo requests crossing lo, for the shell tests (harness.sh's qv_capture): says
// "listening on lo" on stderr once it sees every packet, then prints one line per request,
// at once: TIME DESTINATION TTL PAYLOAD, TIME in seconds since the epoch (the packet's own
// time on lo), PAYLOAD in lowercase hex or "-" when empty. Ends after SECONDS, or on SIGTERM.
// A host program in every build, the Windows one included: it runs beside Wine, not under it.

#include <linux/sockios.h>
#include <poll.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "packet.h"

int main(int argc, char** argv) {
    char* end = nullptr;
    const double seconds = argc == 2 ? std::strtod(argv[1], &end) : 0;
    if (argc != 2 || *end != '\0' || !(seconds > 0)) {
        std::fprintf(stderr, "usage: qvcapture SECONDS\n");
        return 2;
    }
    const int fd = OpenLoopbackCapture();
    if (fd < 0) {
        std::fprintf(stderr, "qvcapture: cannot capture on lo: %s\n", std::strerror(errno));
        return 1;
    }
    std::fprintf(stderr, "qvcapture: listening on lo\n");

    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                          std::chrono::duration<double>(seconds));
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return 0;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
        const std::optional<CEchoRequest> request = ReceiveEchoRequest(fd);
        if (!request) continue;
        // When the kernel took the packet in, not when this loop got to it.
        timespec when{};
        if (::ioctl(fd, SIOCGSTAMPNS, &when) != 0) ::clock_gettime(CLOCK_REALTIME, &when);
        std::printf("%lld.%06ld %s %d ", static_cast<long long>(when.tv_sec), when.tv_nsec / 1000,
                    request->strDestination.c_str(), request->nTtl);
        for (const unsigned char byte : request->payload) std::printf("%02x", byte);
        std::printf("%s\n", request->payload.empty() ? "-" : "");
        std::fflush(stdout);
    }
}
