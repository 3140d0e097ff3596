#pragma once
// The echo requests crossing lo in the loopback-only namespace, read from the packets' own
// bytes. Qt-free: shared by CCapture (wire.h) and the qvcapture tool the shell tests run.

#include <arpa/inet.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <netinet/ip.h>
#include <netinet/ip_icmp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

struct CEchoRequest {
    std::string strDestination;  // dotted quad
    int nTtl;
    std::vector<unsigned char> payload;  // after the 8-byte ICMP header
};

// One captured IPv4 packet (from its IP header on) as an echo request, or nothing when it is
// something else or was cut short.
inline std::optional<CEchoRequest> DecodeEchoRequest(const unsigned char* packet,
                                                     std::size_t length) {
    if (length < sizeof(iphdr) || packet[0] >> 4 != 4) return std::nullopt;
    const std::size_t header = (packet[0] & 0x0f) * 4u;
    const std::size_t total = packet[2] * 256u + packet[3];
    if (header < sizeof(iphdr) || total < header + 8 || total > length ||
        packet[9] != IPPROTO_ICMP || packet[header] != ICMP_ECHO)
        return std::nullopt;
    char destination[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, packet + 16, destination, sizeof destination);
    return CEchoRequest{destination, packet[8],
                        std::vector<unsigned char>(packet + header + 8, packet + total)};
}

// A socket that sees every IPv4 packet on lo as it arrives, before any firewall rule can drop
// it; -1 (errno set) when it cannot be opened, which takes CAP_NET_RAW in the namespace.
inline int OpenLoopbackCapture() {
    const int fd = ::socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC, htons(ETH_P_IP));
    if (fd < 0) return -1;
    sockaddr_ll where{};
    where.sll_family = AF_PACKET;
    where.sll_protocol = htons(ETH_P_IP);
    where.sll_ifindex = static_cast<int>(if_nametoindex("lo"));
    if (::bind(fd, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Reads one packet from such a socket: the echo request it holds, or nothing.
inline std::optional<CEchoRequest> ReceiveEchoRequest(int fd) {
    unsigned char packet[2048];
    sockaddr_ll from{};
    socklen_t fromLength = sizeof from;
    const ssize_t n =
        ::recvfrom(fd, packet, sizeof packet, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
    // Taken as it arrives on lo; some kernels also show the outgoing copy, which would count
    // it twice.
    if (n <= 0 || from.sll_pkttype != PACKET_HOST) return std::nullopt;
    return DecodeEchoRequest(packet, static_cast<std::size_t>(n));
}
