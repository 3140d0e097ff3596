#include "platform/linux/icmpfacility.h"

#include <linux/errqueue.h>
#include <linux/icmp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstddef>
#include <cstring>
#include <memory>
#include <new>

#include "base/strutil.h"
#include "framework/backend.h"
#include "framework/winapp.h"
#include "platform/linux/icmppacket.h"
#include "res/resource.h"

namespace {

using Clock = std::chrono::steady_clock;

// Any IPv4 packet fits, so a reply is never cut short into something that looks like ours.
constexpr std::size_t kReceiveBufferSize = 65536;
// An error quotes at most this much of the packet it is about.
constexpr std::size_t kErrorQuoteSize = 576;

// An echo request that waits for its answer from the event loop.
struct CPendingEcho;

// What a handle stands for.
struct CIcmpSocket {
    int m_nFd;
    bool m_bRaw;
    WORD m_wIdent;  // ours to choose on raw sockets only
    // The request under way, if it did not end at once (IcmpSendEcho2).
    std::unique_ptr<CPendingEcho> m_pPending;
    void EndRequest();
};

// Every request of the process gets its own sequence number, so a late answer to an earlier
// request (on a raw socket, or on a socket used twice) is never taken for the current one.
std::atomic<WORD> g_wEchoSequence{0};

// As the system's ICMP library leaves it for GetLastError.
thread_local DWORD g_dwLastError = 0;

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

CEchoAnswer ReadAnswer(const CIcmpSocket& socket, BYTE* pBuffer, const CEchoRequest& request,
                       bool bError) {
    return socket.m_bRaw ? ReadRaw(socket.m_nFd, pBuffer, request)
                         : ReadDatagram(socket.m_nFd, pBuffer, request, bError);
}

DWORD MillisecondsSince(Clock::time_point start) {
    return static_cast<DWORD>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

// Writes what came for the request: an echo reply with the data echoed, or an error.
void WriteAnswer(void* pReplyBuffer, const CEchoAnswer& answer, Clock::time_point start,
                 const void* pData, WORD wSize) {
    if (answer.m_eKind == CEchoAnswer::kReply)
        WriteReply(pReplyBuffer, IP_SUCCESS, answer.m_source, MillisecondsSince(start),
                   answer.m_nTtl, pData, wSize);
    else
        WriteReply(pReplyBuffer, answer.m_dwStatus, answer.m_source, MillisecondsSince(start),
                   answer.m_nTtl, nullptr, 0);
}

// A request ready to go: its packet, and a buffer for what comes back.
struct CPreparedEcho {
    CEchoRequest request;
    std::vector<BYTE> packet;
    std::unique_ptr<BYTE[]> pBuffer;
};

// Checks the arguments and makes the request; 0 when it may go, else the status to report.
DWORD PrepareEcho(CIcmpSocket* pSocket, IPAddr destination, const void* pData, WORD wSize,
                  CPreparedEcho& echo) {
    if (pSocket == nullptr || (pData == nullptr && wSize > 0)) return IP_BAD_REQ;
    echo.request.m_destination = destination;
    echo.request.m_wIdent = pSocket->m_wIdent;
    echo.request.m_wSequence = ++g_wEchoSequence;
    echo.request.m_pData = static_cast<const BYTE*>(pData);
    echo.request.m_wSize = wSize;
    echo.packet = BuildEchoRequest(echo.request);
    echo.pBuffer.reset(new (std::nothrow) BYTE[kReceiveBufferSize]);
    return echo.pBuffer ? IP_SUCCESS : IP_NO_RESOURCES;
}

// The request that waits from the event loop: the socket is watched, and a timer keeps the
// deadline; whichever ends it writes the answer and signals the caller's event.
struct CPendingEcho {
    CIcmpSocket& m_socket;
    CPreparedEcho m_echo;
    std::vector<BYTE> m_data;  // the request's data, the caller's copy may go
    void* m_pReplyBuffer;
    HANDLE m_hEvent;
    Clock::time_point m_start;
    Clock::time_point m_deadline;
    QSocketNotifier m_notifier;
    QTimer m_timer;
    bool m_bDone = false;

    CPendingEcho(CIcmpSocket& socket, CPreparedEcho echo, void* pReplyBuffer, HANDLE hEvent,
                 Clock::time_point start, DWORD dwTimeoutMs)
        : m_socket(socket),
          m_echo(std::move(echo)),
          m_data(m_echo.request.m_pData, m_echo.request.m_pData + m_echo.request.m_wSize),
          m_pReplyBuffer(pReplyBuffer),
          m_hEvent(hEvent),
          m_start(start),
          m_deadline(start + std::chrono::milliseconds(dwTimeoutMs)),
          m_notifier(socket.m_nFd, QSocketNotifier::Read) {
        m_echo.request.m_pData = m_data.data();
        QObject::connect(&m_notifier, &QSocketNotifier::activated, [this] { OnReadable(); });
        m_timer.setSingleShot(true);
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { OnTimer(); });
        ArmTimer();
    }

    void ArmTimer() {
        // Rounded up, so the timer never fires just short of the deadline and spins.
        const auto waitMs =
            std::chrono::ceil<std::chrono::milliseconds>(m_deadline - Clock::now()).count();
        m_timer.start(static_cast<int>(std::clamp<long long>(waitMs, 0, INT_MAX)));
    }

    void OnReadable() {
        if (m_bDone) return;
        // A pending error makes the plain read fail, and is fetched from the queue then.
        const CEchoAnswer answer =
            ReadAnswer(m_socket, m_echo.pBuffer.get(), m_echo.request, false);
        // Another's packet does not move the deadline.
        if (answer.m_eKind == CEchoAnswer::kForeign) return;
        WriteAnswer(m_pReplyBuffer, answer, m_start, m_data.data(), m_echo.request.m_wSize);
        Finish(1);
    }

    void OnTimer() {
        if (m_bDone) return;
        if (Clock::now() < m_deadline) return ArmTimer();
        WriteReply(m_pReplyBuffer, IP_REQ_TIMED_OUT, m_echo.request.m_destination, 0, 0, nullptr,
                   0);
        Finish(0);
    }

    // The count goes in the record's Reserved field, where IcmpParseReplies finds it.
    void Finish(WORD wReplies) {
        m_bDone = true;
        m_notifier.setEnabled(false);
        m_timer.stop();
        auto* pRecord = static_cast<ICMP_ECHO_REPLY*>(m_pReplyBuffer);
        std::memcpy(reinterpret_cast<BYTE*>(pRecord) + offsetof(ICMP_ECHO_REPLY, Reserved),
                    &wReplies, sizeof wReplies);
        AfxSetEvent(m_hEvent);
    }
};

// Closing a handle whose request is still under way ends it: the caller is told at once that
// its buffer is no longer written to. The watch goes before the descriptor it watches.
void CIcmpSocket::EndRequest() {
    if (m_pPending && !m_pPending->m_bDone) AfxSetEvent(m_pPending->m_hEvent);
    m_pPending.reset();
}

}  // namespace

HANDLE WINAPI QvIcmpCreateFile() {
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
        new (std::nothrow) CIcmpSocket{fd, bRaw, bRaw ? static_cast<WORD>(getpid()) : WORD{0}, {}};
    if (pSocket == nullptr) {
        close(fd);
        return INVALID_HANDLE_VALUE;
    }
    return pSocket;
}

BOOL WINAPI QvIcmpCloseHandle(HANDLE hIcmp) {
    CIcmpSocket* pSocket = SocketOf(hIcmp);
    if (pSocket == nullptr) return FALSE;
    pSocket->EndRequest();
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
    CPreparedEcho echo;
    if (const DWORD dwStatus = PrepareEcho(pSocket, destination, requestData, requestSize, echo))
        return fail(dwStatus);

    const int fd = pSocket->m_nFd;
    const auto start = Clock::now();
    if (SendRequest(fd, echo.packet, destination, requestOptions) < 0)
        return fail(StatusOfSendError(errno));

    // One deadline for the whole wait: packets that are not ours never extend it.
    const auto deadline = start + std::chrono::milliseconds(timeout);
    // An answer from this host is often queued before the send returns: one read before the
    // first wait spares a system call on the quickest probes.
    bool bWait = false;
    for (;;) {
        const auto now = Clock::now();
        if (now >= deadline) return fail(IP_REQ_TIMED_OUT);
        pollfd pfd{fd, POLLIN, 0};
        if (bWait) {
            // Rounded up, so the wait never ends just short of the deadline and spins.
            const auto waitMs =
                std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
            const int ready = poll(&pfd, 1, waitMs > INT_MAX ? INT_MAX : static_cast<int>(waitMs));
            if (ready < 0 && errno != EINTR) return fail(IP_GENERAL_FAILURE);
            if (ready <= 0 || pfd.revents == 0) continue;
        }
        bWait = true;

        const CEchoAnswer answer =
            ReadAnswer(*pSocket, echo.pBuffer.get(), echo.request, (pfd.revents & POLLERR) != 0);
        if (answer.m_eKind == CEchoAnswer::kForeign) continue;
        WriteAnswer(replyBuffer, answer, start, requestData, requestSize);
        return 1;
    }
}

DWORD WINAPI QvIcmpSendEcho2(HANDLE hIcmp, HANDLE hEvent, void* pfnApcRoutine,
                             void* /*pApcContext*/, IPAddr destination, void* requestData,
                             WORD requestSize, IP_OPTION_INFORMATION* requestOptions,
                             void* replyBuffer, DWORD replySize, DWORD timeout) {
    // Without an event it is the request that waits in the call; a routine to call back is
    // not offered.
    if (hEvent == nullptr)
        return QvIcmpSendEcho(hIcmp, destination, requestData, requestSize, requestOptions,
                              replyBuffer, replySize, timeout);
    CIcmpSocket* pSocket = SocketOf(hIcmp);
    if (pfnApcRoutine != nullptr || pSocket == nullptr || pSocket->m_pPending ||
        replyBuffer == nullptr || replySize < sizeof(ICMP_ECHO_REPLY) + requestSize) {
        g_dwLastError = IP_BAD_REQ;
        return 0;
    }
    auto fail = [&](DWORD dwStatus) {
        WriteReply(replyBuffer, dwStatus, destination, 0, 0, nullptr, 0);
        g_dwLastError = dwStatus;
        return DWORD{0};
    };
    CPreparedEcho echo;
    if (const DWORD dwStatus = PrepareEcho(pSocket, destination, requestData, requestSize, echo))
        return fail(dwStatus);
    const auto start = Clock::now();
    if (SendRequest(pSocket->m_nFd, echo.packet, destination, requestOptions) < 0)
        return fail(StatusOfSendError(errno));

    // An answer from this host is often queued before the send returns: then it is done, with
    // nothing to wait for.
    const CEchoAnswer answer = ReadAnswer(*pSocket, echo.pBuffer.get(), echo.request, false);
    if (answer.m_eKind != CEchoAnswer::kForeign) {
        WriteAnswer(replyBuffer, answer, start, requestData, requestSize);
        AfxSetEvent(hEvent);
        return 1;
    }
    pSocket->m_pPending.reset(new (std::nothrow) CPendingEcho(*pSocket, std::move(echo),
                                                              replyBuffer, hEvent, start, timeout));
    if (!pSocket->m_pPending) return fail(IP_NO_RESOURCES);
    g_dwLastError = ERROR_IO_PENDING;
    return 0;
}

DWORD WINAPI QvIcmpParseReplies(void* replyBuffer, DWORD replySize) {
    if (replyBuffer == nullptr || replySize < sizeof(ICMP_ECHO_REPLY)) {
        g_dwLastError = IP_BAD_REQ;
        return 0;
    }
    ICMP_ECHO_REPLY record;
    std::memcpy(&record, replyBuffer, sizeof record);
    const DWORD dwReplies = record.Reserved;
    // Counted once: the field goes back to what it is in every other record.
    record.Reserved = 0;
    std::memcpy(replyBuffer, &record, sizeof record);
    if (dwReplies == 0) g_dwLastError = record.Status;
    return dwReplies;
}

DWORD QvIcmpGetLastError() { return g_dwLastError; }

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
