#include "platform/linux/icmpfacility.h"

#include <fcntl.h>
#include <linux/errqueue.h>
#include <linux/icmp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <memory>
#include <new>

#include "base/strutil.h"
#include "framework/winapp.h"
#include "platform/linux/icmppacket.h"
#include "res/resource.h"

namespace {

using Clock = std::chrono::steady_clock;

// Any IPv4 packet fits, so a reply is never cut short into something that looks like ours.
constexpr std::size_t kReceiveBufferSize = 65536;
// An error quotes at most this much of the packet it is about.
constexpr std::size_t kErrorQuoteSize = 576;

// What a handle stands for.
struct CIcmpSocket {
    int m_nFd;
    bool m_bRaw;
    WORD m_wIdent;  // ours to choose on raw sockets only
};

// Every request of the process gets its own sequence number, so a late answer to an earlier
// request (on a raw socket, or on a socket used twice) is never taken for the current one.
std::atomic<WORD> g_wEchoSequence{0};

// Set once the process is ending. Every wait also watches the wake pipe, so an abort that
// comes between the check of the flag and the wait still ends the wait.
std::atomic<bool> g_bAborted{false};
std::atomic<int> g_nAbortWakeFd{-1};
int g_nAbortWaitFd = -1;
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free);

// The descriptor an abort makes readable, made on the first wait; -1 when none can be had.
int AbortWaitFd() {
    if (g_nAbortWaitFd < 0) {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return -1;
        g_nAbortWaitFd = fds[0];
        g_nAbortWakeFd.store(fds[1]);
    }
    return g_nAbortWaitFd;
}

bool IsPermissionError(int error) {
    return error == EACCES || error == EPERM || error == EPROTONOSUPPORT || error == EAFNOSUPPORT;
}

// A descriptor, or -1 with errno from the last attempt.
int OpenIcmpSocket(bool& bRaw) {
    // The datagram ("ping") socket needs no privilege when the user's group lies inside
    // net.ipv4.ping_group_range; the kernel then owns the identifier and checksum and hands
    // this socket only its own replies.
    bRaw = false;
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd >= 0) return fd;
    // EACCES: group outside the range. EPERM: refused by policy. EPROTONOSUPPORT,
    // EAFNOSUPPORT: a kernel without ping sockets. Then the raw socket may still be allowed
    // (root or cap_net_raw). Anything else (out of descriptors or memory) would fail again.
    if (!IsPermissionError(errno)) return -1;
    bRaw = true;
    return socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
}

CIcmpSocket* SocketOf(HANDLE hIcmp) {
    return hIcmp == nullptr || hIcmp == INVALID_HANDLE_VALUE ? nullptr
                                                             : static_cast<CIcmpSocket*>(hIcmp);
}

DWORD StatusOfSendError(int error) {
    switch (error) {
        case ENETUNREACH:
            return IP_DEST_NET_UNREACHABLE;
        case EHOSTUNREACH:
            return IP_DEST_HOST_UNREACHABLE;
        case EMSGSIZE:
            return IP_PACKET_TOO_BIG;
        case ENOBUFS:
        case ENOMEM:
            return IP_NO_RESOURCES;
        default:
            return IP_GENERAL_FAILURE;
    }
}

// The record at the start of the reply buffer, the echoed data right behind it.
void WriteReply(void* pReplyBuffer, DWORD dwStatus, IPAddr address, DWORD dwRoundTripMs, BYTE nTtl,
                const void* pData, WORD wSize) {
    auto* pBytes = static_cast<BYTE*>(pReplyBuffer);
    ICMP_ECHO_REPLY record{};
    record.Address = address;
    record.Status = dwStatus;
    record.RoundTripTime = dwRoundTripMs;
    record.DataSize = wSize;
    record.Data = pBytes + sizeof record;
    record.Options.Ttl = nTtl;
    if (wSize > 0) std::memcpy(pBytes + sizeof record, pData, wSize);
    // The caller's buffer need not be aligned for the record.
    std::memcpy(pBytes, &record, sizeof record);
}

// Sends the request. The TTL goes with it as ancillary data (IP_TTL), which costs no extra
// system call and leaves the socket as it was. Only the TTL of the options is honoured: the
// program asks for nothing else; TTL 0, on which no packet can leave, means the default.
ssize_t SendRequest(int fd, const std::vector<BYTE>& packet, IPAddr destination,
                    const IP_OPTION_INFORMATION* pOptions) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = destination;
    iovec iov{const_cast<BYTE*>(packet.data()), packet.size()};
    msghdr msg{};
    msg.msg_name = &to;
    msg.msg_namelen = sizeof to;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    if (pOptions != nullptr && pOptions->Ttl != 0) {
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        cmsghdr* cmsg = CMSG_FIRSTHDR(&msg);
        cmsg->cmsg_level = IPPROTO_IP;
        cmsg->cmsg_type = IP_TTL;
        cmsg->cmsg_len = CMSG_LEN(sizeof(int));
        const int nTtl = pOptions->Ttl;
        std::memcpy(CMSG_DATA(cmsg), &nTtl, sizeof nTtl);
    }
    ssize_t sent;
    do {
        sent = sendmsg(fd, &msg, 0);
    } while (sent < 0 && errno == EINTR);
    return sent;
}

// An error about our request from a datagram socket's error queue.
CEchoAnswer ReadQueuedError(int fd, const CEchoRequest& request) {
    BYTE data[kErrorQuoteSize];
    alignas(cmsghdr) char control[512];
    iovec iov{data, sizeof data};
    // With IP_RECVERR the name is the destination of the request the error is about.
    sockaddr_in destination{};
    msghdr msg{};
    msg.msg_name = &destination;
    msg.msg_namelen = sizeof destination;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    const ssize_t size = recvmsg(fd, &msg, MSG_ERRQUEUE | MSG_DONTWAIT);
    if (size < 0) {
        // Nothing queued, yet the socket's error may still be up: reading it clears it, or
        // every poll would wake at once until the deadline.
        int error = 0;
        socklen_t length = sizeof error;
        getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
        return {};
    }
    // The queue returns the request the error is about: it must be this one. Without its
    // destination an error cannot be told apart from one about another request.
    if (msg.msg_namelen < sizeof destination || destination.sin_family != AF_INET) return {};
    if (!IsOurQueuedError(data, static_cast<std::size_t>(size), destination.sin_addr.s_addr,
                          request))
        return {};
    for (cmsghdr* cmsg = CMSG_FIRSTHDR(&msg); cmsg != nullptr; cmsg = CMSG_NXTHDR(&msg, cmsg)) {
        if (cmsg->cmsg_level != IPPROTO_IP || cmsg->cmsg_type != IP_RECVERR) continue;
        const auto* pError = reinterpret_cast<const sock_extended_err*>(CMSG_DATA(cmsg));
        CEchoAnswer answer;
        answer.m_eKind = CEchoAnswer::kError;
        if (pError->ee_origin == SO_EE_ORIGIN_ICMP) {
            answer.m_dwStatus = StatusOfIcmpError(pError->ee_type, pError->ee_code);
            // The router that reported it follows the record.
            sockaddr_in offender;
            std::memcpy(&offender, pError + 1, sizeof offender);
            answer.m_source = offender.sin_addr.s_addr;
        } else {
            answer.m_dwStatus = StatusOfSendError(static_cast<int>(pError->ee_errno));
        }
        return answer;
    }
    return {};
}

// One packet from a datagram socket, or from its error queue when the kernel reports one.
CEchoAnswer ReadDatagram(int fd, BYTE* pBuffer, const CEchoRequest& request, bool bError) {
    if (bError) return ReadQueuedError(fd, request);
    sockaddr_in from{};
    socklen_t fromSize = sizeof from;
    const ssize_t size = recvfrom(fd, pBuffer, kReceiveBufferSize, MSG_DONTWAIT,
                                  reinterpret_cast<sockaddr*>(&from), &fromSize);
    if (size < 0) {
        // A pending error makes the plain read fail: fetch it from the queue instead.
        return errno == EAGAIN || errno == EINTR ? CEchoAnswer{} : ReadQueuedError(fd, request);
    }
    return MatchDatagramPacket(pBuffer, static_cast<std::size_t>(size), from.sin_addr.s_addr,
                               request);
}

CEchoAnswer ReadRaw(int fd, BYTE* pBuffer, const CEchoRequest& request) {
    const ssize_t size = recv(fd, pBuffer, kReceiveBufferSize, MSG_DONTWAIT);
    if (size < 0) return {};
    return MatchRawPacket(pBuffer, static_cast<std::size_t>(size), request);
}

}  // namespace

HANDLE WINAPI QvIcmpCreateFile() {
    if (g_bAborted.load()) return INVALID_HANDLE_VALUE;
    bool bRaw = false;
    const int fd = OpenIcmpSocket(bRaw);
    if (fd < 0) return INVALID_HANDLE_VALUE;
    const int on = 1;
    if (bRaw) {
        // Spares us waking for the other ICMP traffic of the host, our own request looped
        // back on lo among it; what passes is still checked in full.
        icmp_filter filter{};
        filter.data =
            ~(1u << kIcmpEchoReply | 1u << kIcmpDestUnreachable | 1u << kIcmpSourceQuench |
              1u << kIcmpTimeExceeded | 1u << kIcmpParamProblem);
        setsockopt(fd, SOL_RAW, ICMP_FILTER, &filter, sizeof filter);
    } else {
        // Without IP_RECVERR a datagram socket drops the ICMP errors about its requests, and
        // we would wait out the whole timeout for an answer the network has already refused.
        setsockopt(fd, IPPROTO_IP, IP_RECVERR, &on, sizeof on);
    }
    // The process id, as other programs do, keeps our raw traffic apart from theirs; asked
    // once here, as it is a system call of its own.
    auto* pSocket =
        new (std::nothrow) CIcmpSocket{fd, bRaw, bRaw ? static_cast<WORD>(getpid()) : WORD{0}};
    if (pSocket == nullptr) {
        close(fd);
        return INVALID_HANDLE_VALUE;
    }
    return pSocket;
}

BOOL WINAPI QvIcmpCloseHandle(HANDLE hIcmp) {
    CIcmpSocket* pSocket = SocketOf(hIcmp);
    if (pSocket == nullptr) return FALSE;
    // Linux releases the descriptor even when close is interrupted.
    const bool bClosed = close(pSocket->m_nFd) == 0 || errno == EINTR;
    delete pSocket;
    return bClosed ? TRUE : FALSE;
}

DWORD WINAPI QvIcmpSendEcho(HANDLE hIcmp, IPAddr destination, void* requestData, WORD requestSize,
                            IP_OPTION_INFORMATION* requestOptions, void* replyBuffer,
                            DWORD replySize, DWORD timeout) {
    // Without room for the record and the echoed data nothing could be reported.
    if (replyBuffer == nullptr || replySize < sizeof(ICMP_ECHO_REPLY) + requestSize) return 0;
    auto fail = [&](DWORD dwStatus) {
        WriteReply(replyBuffer, dwStatus, destination, 0, 0, nullptr, 0);
        return DWORD{0};
    };
    CIcmpSocket* pSocket = SocketOf(hIcmp);
    if (pSocket == nullptr || (requestData == nullptr && requestSize > 0)) return fail(IP_BAD_REQ);

    CEchoRequest request;
    request.m_destination = destination;
    request.m_wIdent = pSocket->m_wIdent;
    request.m_wSequence = ++g_wEchoSequence;
    request.m_pData = static_cast<const BYTE*>(requestData);
    request.m_wSize = requestSize;
    const std::vector<BYTE> packet = BuildEchoRequest(request);
    std::unique_ptr<BYTE[]> pBuffer(new (std::nothrow) BYTE[kReceiveBufferSize]);
    if (!pBuffer) return fail(IP_NO_RESOURCES);
    const int abortFd = AbortWaitFd();
    if (g_bAborted.load()) return fail(IP_GENERAL_FAILURE);

    const int fd = pSocket->m_nFd;
    const auto start = Clock::now();
    if (SendRequest(fd, packet, destination, requestOptions) < 0)
        return fail(StatusOfSendError(errno));

    // One deadline for the whole wait: packets that are not ours never extend it.
    const auto deadline = start + std::chrono::milliseconds(timeout);
    // An answer from this host is often queued before the send returns: one read before the
    // first wait spares a system call on the quickest probes.
    bool bWait = false;
    for (;;) {
        const auto now = Clock::now();
        if (now >= deadline) return fail(IP_REQ_TIMED_OUT);
        pollfd pfds[2] = {{fd, POLLIN, 0}, {abortFd, POLLIN, 0}};
        const pollfd& pfd = pfds[0];
        if (bWait) {
            // Rounded up, so the wait never ends just short of the deadline and spins.
            const auto waitMs =
                std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
            const int ready = poll(pfds, abortFd >= 0 ? 2 : 1,
                                   waitMs > INT_MAX ? INT_MAX : static_cast<int>(waitMs));
            if (g_bAborted.load()) return fail(IP_GENERAL_FAILURE);
            if (ready < 0 && errno != EINTR) return fail(IP_GENERAL_FAILURE);
            if (ready <= 0 || pfd.revents == 0) continue;
        }
        bWait = true;

        const CEchoAnswer answer = pSocket->m_bRaw ? ReadRaw(fd, pBuffer.get(), request)
                                                   : ReadDatagram(fd, pBuffer.get(), request,
                                                                  (pfd.revents & POLLERR) != 0);
        if (answer.m_eKind == CEchoAnswer::kForeign) continue;

        const auto roundTrip =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
        if (answer.m_eKind == CEchoAnswer::kReply) {
            WriteReply(replyBuffer, IP_SUCCESS, answer.m_source, static_cast<DWORD>(roundTrip),
                       answer.m_nTtl, requestData, requestSize);
        } else {
            WriteReply(replyBuffer, answer.m_dwStatus, answer.m_source,
                       static_cast<DWORD>(roundTrip), answer.m_nTtl, nullptr, 0);
        }
        return 1;
    }
}

void QvIcmpAbort() {
    const int savedErrno = errno;
    g_bAborted.store(true);
    const int wakeFd = g_nAbortWakeFd.load();
    const char byte = 1;
    if (wakeFd >= 0) {
        [[maybe_unused]] const auto written = write(wakeFd, &byte, 1);
    }
    errno = savedErrno;
}

bool QvIcmpIsRawHandle(HANDLE hIcmp) {
    const CIcmpSocket* pSocket = SocketOf(hIcmp);
    return pSocket != nullptr && pSocket->m_bRaw;
}

CString QvIcmpPermissionProblem(const CString& strExecutable) {
    bool bRaw = false;
    const int fd = OpenIcmpSocket(bRaw);
    if (fd >= 0) {
        close(fd);
        return {};
    }
    // Other trouble (out of descriptors) is no matter of permission: each probe just fails.
    if (!IsPermissionError(errno)) return {};
    return FormatString(AfxLoadString(IDS_ICMP_NOT_PERMITTED),
                        {std::to_string(getgid()), strExecutable});
}
