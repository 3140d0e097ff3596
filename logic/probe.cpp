// The echo probe operations of the main dialog.

#include <climits>
#include <cstddef>
#include <cstring>
#include <memory>
#include <new>

#include "base/inet.h"
#include "base/platform.h"
#include "framework/backend.h"
#include "framework/winapp.h"
#include "logic/keepalivedlg.h"
#include "res/resource.h"

// The ICMP handle of the probe under way; no handle lives between probes.
HANDLE g_hIcmp = INVALID_HANDLE_VALUE;

namespace {

constexpr BYTE kProbeTtl = 254;
// Sent with its terminator: 35 bytes.
constexpr char kProbePayload[] = "Harrowbecks Software, Incorporated";
constexpr DWORD kReplyBufferSize = 280;
constexpr DWORD kProbeTimeoutMs = 5000;
// How long an ending program gives a request it has closed to let go of its buffer. Only a
// system that ends the request on the close lets go within it; Wine keeps it to its timeout
// (the event came 4.8 s after the close), so a longer wait would only hold the end up, and the
// buffer is left to the ending process anyway.
constexpr DWORD kCancelWaitMs = 50;

// The start of the answer record, the same in the record of 32-bit and of 64-bit systems
// (which the request that does not wait uses on 64-bit Windows): it is all that is read.
struct CReplyHead {
    IPAddr Address;
    DWORD Status;
    DWORD RoundTripTime;
};
static_assert(offsetof(ICMP_ECHO_REPLY, Status) == offsetof(CReplyHead, Status) &&
              offsetof(ICMP_ECHO_REPLY, RoundTripTime) == offsetof(CReplyHead, RoundTripTime));
#ifdef _WIN64
static_assert(offsetof(ICMP_ECHO_REPLY32, Status) == offsetof(CReplyHead, Status) &&
              offsetof(ICMP_ECHO_REPLY32, RoundTripTime) == offsetof(CReplyHead, RoundTripTime));
#endif

}  // namespace

struct CKeepAliveDlg::CEcho {
    BYTE reply[kReplyBufferSize] = {};
    IP_OPTION_INFORMATION options = {};
    char payload[sizeof kProbePayload] = {};
    HANDLE hEvent = nullptr;

    CEcho() = default;
    CEcho(const CEcho&) = delete;
    CEcho& operator=(const CEcho&) = delete;
    ~CEcho() { AfxCloseEvent(hEvent); }
};

int CKeepAliveDlg::TryPing(const CString& strAddress) {
    // A tick may come before start-up has bound the entry points, or after an end request.
    if (!m_icmp.IsBound() || AfxEndRequested()) return -1;
    const IPAddr destination = InetAddr(strAddress.c_str());
    if (destination == INADDR_NONE) return -1;

    std::unique_ptr<CEcho> pEcho(new (std::nothrow) CEcho());
    if (!pEcho) return -1;

    g_hIcmp = m_icmp.m_pfnIcmpCreateFile();
    // Nothing to send with, and nothing to close.
    if (g_hIcmp == INVALID_HANDLE_VALUE || g_hIcmp == nullptr) return -1;

    if (m_bSound) Platform().PlaySound("SonarSound", SND_ASYNC | SND_RESOURCE);

    pEcho->options.Ttl = kProbeTtl;
    std::memcpy(pEcho->payload, kProbePayload, sizeof pEcho->payload);
    DWORD dwReplies = 0;
    if (!SendEcho(destination, *pEcho, dwReplies)) {
        // The program is ending: nobody is told of a failure now. Closing the handle ends the
        // request; the buffer goes only once the system says it is done with it, and is left
        // to the ending process otherwise.
        m_icmp.m_pfnIcmpCloseHandle(g_hIcmp);
        g_hIcmp = INVALID_HANDLE_VALUE;
        if (!AfxWaitEvent(pEcho->hEvent, kCancelWaitMs)) static_cast<void>(pEcho.release());
        return -1;
    }

    // Status alone is not enough: a send that reported nothing may have left the zero-filled
    // buffer untouched, which would read as success in 0 ms.
    CReplyHead head;
    std::memcpy(&head, pEcho->reply, sizeof head);
    int nResult = -1;
    if (dwReplies > 0 && head.Status == 0)
        nResult = head.RoundTripTime > static_cast<DWORD>(INT_MAX)
                      ? INT_MAX
                      : static_cast<int>(head.RoundTripTime);

    const BOOL bClosed = m_icmp.m_pfnIcmpCloseHandle(g_hIcmp);
    g_hIcmp = INVALID_HANDLE_VALUE;
    pEcho.reset();
    // The box keeps dispatching, so a tick may probe inside it: nothing of ours is used after.
    if (!bClosed)
        Platform().MessageBox(this, AfxLoadString(IDS_ICMP_CLOSE_FAILED),
                              AfxLoadString(IDS_SONAR_ERROR), MB_OK);
    return nResult;
}

bool CKeepAliveDlg::SendEcho(IPAddr destination, CEcho& echo, DWORD& dwReplies) {
    dwReplies = 0;
    if (m_icmp.m_pfnIcmpSendEcho2 != nullptr) echo.hEvent = AfxCreateEvent();
    if (echo.hEvent == nullptr) {
        // A library that cannot answer later: the request waits here, as a busy program would.
        dwReplies =
            m_icmp.m_pfnIcmpSendEcho(g_hIcmp, destination, echo.payload, sizeof echo.payload,
                                     &echo.options, echo.reply, kReplyBufferSize, kProbeTimeoutMs);
        return true;
    }
    // The program goes on answering the system while the request waits for its answer.
    const DWORD dwSent = m_icmp.m_pfnIcmpSendEcho2(
        g_hIcmp, echo.hEvent, nullptr, nullptr, destination, echo.payload, sizeof echo.payload,
        &echo.options, echo.reply, kReplyBufferSize, kProbeTimeoutMs);
    // Under way: 0 with ERROR_IO_PENDING as the last error (some documentation has it as the
    // value). Anything else came at once: the answers, or 0 for a request that failed.
    const bool bPending = (dwSent == 0 && Platform().GetLastError() == ERROR_IO_PENDING) ||
                          dwSent == ERROR_IO_PENDING;
    if (!bPending) {
        dwReplies = dwSent;
        return true;
    }
    if (!AfxWaitServing(echo.hEvent)) return false;
    dwReplies = m_icmp.m_pfnIcmpParseReplies(echo.reply, kReplyBufferSize);
    return true;
}

BOOL CKeepAliveDlg::ResolveAndPing(CString& strAddress) {
    if (InetAddr(strAddress.c_str()) == INADDR_NONE) {
        const auto address = Platform().GetHostByName(strAddress);
        if (!address) return FALSE;
        // Rewritten even when the echo then fails: the caller keeps what the name stood for.
        strAddress = InetNtoa(*address);
    }
    return TryPing(strAddress) >= 0 ? TRUE : FALSE;
}
