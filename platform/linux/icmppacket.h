#pragma once
// The echo wire format: our request, and the verdict on every packet an ICMP socket hands us.
// Pure: bytes in, verdict out, so the rules can be read (and tested) apart from the sockets.

#include <cstddef>
#include <vector>

#include "base/icmplib.h"

// Status values of the reply record, with the system ICMP library's numbers.
constexpr DWORD IP_SUCCESS = 0;
constexpr DWORD IP_BUF_TOO_SMALL = 11001;
constexpr DWORD IP_DEST_NET_UNREACHABLE = 11002;
constexpr DWORD IP_DEST_HOST_UNREACHABLE = 11003;
constexpr DWORD IP_DEST_PROT_UNREACHABLE = 11004;
constexpr DWORD IP_DEST_PORT_UNREACHABLE = 11005;
constexpr DWORD IP_NO_RESOURCES = 11006;
constexpr DWORD IP_PACKET_TOO_BIG = 11009;
constexpr DWORD IP_REQ_TIMED_OUT = 11010;
constexpr DWORD IP_BAD_REQ = 11011;
constexpr DWORD IP_BAD_ROUTE = 11012;
constexpr DWORD IP_TTL_EXPIRED_TRANSIT = 11013;
constexpr DWORD IP_TTL_EXPIRED_REASSEM = 11014;
constexpr DWORD IP_PARAM_PROBLEM = 11015;
constexpr DWORD IP_SOURCE_QUENCH = 11016;
constexpr DWORD IP_GENERAL_FAILURE = 11050;

constexpr BYTE kIcmpEchoReply = 0;
constexpr BYTE kIcmpDestUnreachable = 3;
constexpr BYTE kIcmpSourceQuench = 4;
constexpr BYTE kIcmpEcho = 8;
constexpr BYTE kIcmpTimeExceeded = 11;
constexpr BYTE kIcmpParamProblem = 12;
constexpr std::size_t kIcmpHeaderSize = 8;

// One echo request as sent.
struct CEchoRequest {
    IPAddr m_destination = 0;
    WORD m_wIdent = 0;  // checked on raw sockets only: datagram sockets get the kernel's
    WORD m_wSequence = 0;
    const BYTE* m_pData = nullptr;
    WORD m_wSize = 0;
};

// What one received packet means for the request.
struct CEchoAnswer {
    enum EKind { kForeign, kReply, kError };
    EKind m_eKind = kForeign;
    DWORD m_dwStatus = IP_SUCCESS;  // for kError: what the error says
    IPAddr m_source = 0;            // the replier, or the router that reported the error
    BYTE m_nTtl = 0;                // of the answer; 0 when the socket did not say
};

// The Internet checksum of size bytes, ready to store in network byte order.
WORD IcmpChecksum(const BYTE* pData, std::size_t size);

// ICMP header and payload; the checksum is filled in (datagram sockets redo it anyway).
std::vector<BYTE> BuildEchoRequest(const CEchoRequest& request);

// The status an ICMP error of this type and code reports.
DWORD StatusOfIcmpError(BYTE type, BYTE code);

// A whole IPv4 packet from a raw socket: every ICMP packet of the host arrives there, our own
// request looped back on lo included, so everything is checked, the checksum too.
CEchoAnswer MatchRawPacket(const BYTE* pPacket, std::size_t size, const CEchoRequest& request);

// An ICMP message from a datagram socket (no IP header; the kernel has checked the checksum
// and the identifier), sent by source.
CEchoAnswer MatchDatagramPacket(const BYTE* pIcmp, std::size_t size, IPAddr source,
                                const CEchoRequest& request);

// Whether an error from a datagram socket's error queue is about this request: the queue
// returns the start of the request the error is about, and the destination it was sent to.
// The kernel files an error under our socket by the quoted identifier alone, so an error about
// a request to another destination (an earlier one, or a forged one) would pass otherwise.
bool IsOurQueuedError(const BYTE* pIcmp, std::size_t size, IPAddr destination,
                      const CEchoRequest& request);
