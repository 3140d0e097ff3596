#include "platform/linux/icmppacket.h"

#include <netinet/in.h>

#include <cstring>

namespace {

constexpr std::size_t kMinIpHeaderSize = 20;

WORD Get16(const BYTE* p) { return static_cast<WORD>(p[0] << 8 | p[1]); }

void Put16(BYTE* p, WORD value) {
    p[0] = static_cast<BYTE>(value >> 8);
    p[1] = static_cast<BYTE>(value);
}

IPAddr GetAddr(const BYTE* p) {
    IPAddr address;
    std::memcpy(&address, p, sizeof address);
    return address;
}

// Whether an ICMP message starts like our request. Datagram sockets hide the identifier
// (the kernel owns it), so it is compared only where we chose it.
bool QuotesRequest(const BYTE* pIcmp, std::size_t size, const CEchoRequest& request,
                   bool bCheckIdent) {
    return size >= kIcmpHeaderSize && pIcmp[0] == kIcmpEcho &&
           (!bCheckIdent || Get16(pIcmp + 4) == request.m_wIdent) &&
           Get16(pIcmp + 6) == request.m_wSequence;
}

// The IP header at p: its length, or 0 when it is no IPv4 header carrying ICMP that fits in
// size bytes.
std::size_t IcmpIpHeaderSize(const BYTE* p, std::size_t size) {
    if (size < kMinIpHeaderSize || (p[0] >> 4) != 4) return 0;
    const std::size_t headerSize = static_cast<std::size_t>(p[0] & 0x0F) * 4;
    if (headerSize < kMinIpHeaderSize || headerSize > size || p[9] != IPPROTO_ICMP) return 0;
    return headerSize;
}

bool IsIcmpError(BYTE type) {
    return type == kIcmpDestUnreachable || type == kIcmpSourceQuench || type == kIcmpTimeExceeded ||
           type == kIcmpParamProblem;
}

CEchoAnswer MatchIcmp(const BYTE* pIcmp, std::size_t size, IPAddr source,
                      const CEchoRequest& request, bool bRaw) {
    CEchoAnswer answer;
    answer.m_source = source;
    if (size < kIcmpHeaderSize) return answer;
    // Only the kernel checks it for datagram sockets; on raw ones a damaged packet is ours
    // to drop.
    if (bRaw && IcmpChecksum(pIcmp, size) != 0) return answer;

    const BYTE type = pIcmp[0];
    if (type == kIcmpEchoReply) {
        // Every part must be ours: another program's echo, a late answer to an earlier
        // request, a reply from elsewhere or a cut or altered copy would all pass otherwise.
        // An echo reply has code 0: the kernel passes any other code on to us unchecked.
        if (pIcmp[1] != 0 || source != request.m_destination) return answer;
        if (bRaw && Get16(pIcmp + 4) != request.m_wIdent) return answer;
        if (Get16(pIcmp + 6) != request.m_wSequence) return answer;
        if (size - kIcmpHeaderSize != request.m_wSize) return answer;
        if (request.m_wSize > 0 &&
            std::memcmp(pIcmp + kIcmpHeaderSize, request.m_pData, request.m_wSize) != 0)
            return answer;
        answer.m_eKind = CEchoAnswer::kReply;
        return answer;
    }

    // Datagram sockets report errors through their error queue instead.
    if (!bRaw || !IsIcmpError(type)) return answer;
    // An error quotes the IP header of the packet it is about and at least 8 bytes after it.
    const BYTE* pQuoted = pIcmp + kIcmpHeaderSize;
    const std::size_t quotedSize = size - kIcmpHeaderSize;
    const std::size_t quotedHeaderSize = IcmpIpHeaderSize(pQuoted, quotedSize);
    if (quotedHeaderSize == 0 || GetAddr(pQuoted + 16) != request.m_destination) return answer;
    if (!QuotesRequest(pQuoted + quotedHeaderSize, quotedSize - quotedHeaderSize, request, true))
        return answer;
    answer.m_eKind = CEchoAnswer::kError;
    answer.m_dwStatus = StatusOfIcmpError(type, pIcmp[1]);
    return answer;
}

}  // namespace

WORD IcmpChecksum(const BYTE* pData, std::size_t size) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i + 1 < size; i += 2) sum += Get16(pData + i);
    if (size % 2 != 0) sum += static_cast<std::uint32_t>(pData[size - 1]) << 8;
    while (sum > 0xFFFF) sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<WORD>(~sum);
}

std::vector<BYTE> BuildEchoRequest(const CEchoRequest& request) {
    std::vector<BYTE> packet(kIcmpHeaderSize + request.m_wSize, 0);
    packet[0] = kIcmpEcho;
    Put16(&packet[4], request.m_wIdent);
    Put16(&packet[6], request.m_wSequence);
    if (request.m_wSize > 0)
        std::memcpy(&packet[kIcmpHeaderSize], request.m_pData, request.m_wSize);
    Put16(&packet[2], IcmpChecksum(packet.data(), packet.size()));
    return packet;
}

DWORD StatusOfIcmpError(BYTE type, BYTE code) {
    switch (type) {
        case kIcmpDestUnreachable:
            switch (code) {
                case 0:   // network unreachable
                case 6:   // network unknown
                case 9:   // network prohibited
                case 11:  // network unreachable for the type of service
                    return IP_DEST_NET_UNREACHABLE;
                case 2:
                    return IP_DEST_PROT_UNREACHABLE;
                case 3:
                    return IP_DEST_PORT_UNREACHABLE;
                case 4:  // fragmentation needed with "don't fragment" set
                    return IP_PACKET_TOO_BIG;
                case 5:
                    return IP_BAD_ROUTE;
                default:
                    return IP_DEST_HOST_UNREACHABLE;
            }
        case kIcmpTimeExceeded:
            return code == 0 ? IP_TTL_EXPIRED_TRANSIT : IP_TTL_EXPIRED_REASSEM;
        case kIcmpParamProblem:
            return IP_PARAM_PROBLEM;
        case kIcmpSourceQuench:
            return IP_SOURCE_QUENCH;
        default:
            return IP_GENERAL_FAILURE;
    }
}

CEchoAnswer MatchRawPacket(const BYTE* pPacket, std::size_t size, const CEchoRequest& request) {
    const std::size_t headerSize = IcmpIpHeaderSize(pPacket, size);
    if (headerSize == 0) return {};
    // The IP length, when sane, tells where the packet ends better than the read size.
    const std::size_t totalSize = Get16(pPacket + 2);
    if (totalSize >= headerSize && totalSize < size) size = totalSize;
    CEchoAnswer answer =
        MatchIcmp(pPacket + headerSize, size - headerSize, GetAddr(pPacket + 12), request, true);
    answer.m_nTtl = pPacket[8];
    return answer;
}

CEchoAnswer MatchDatagramPacket(const BYTE* pIcmp, std::size_t size, IPAddr source,
                                const CEchoRequest& request) {
    return MatchIcmp(pIcmp, size, source, request, false);
}

bool IsOurQueuedError(const BYTE* pIcmp, std::size_t size, IPAddr destination,
                      const CEchoRequest& request) {
    return destination == request.m_destination && QuotesRequest(pIcmp, size, request, false);
}
