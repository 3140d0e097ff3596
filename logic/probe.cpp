// The echo probe operations of the main dialog.

#include <atomic>
#include <climits>
#include <cstring>
#include <memory>
#include <new>

#include "base/inet.h"
#include "base/platform.h"
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

}  // namespace

int CKeepAliveDlg::TryPing(const CString& strAddress) {
    // A tick may come before start-up has bound the entry points, or after an end request.
    if (!m_icmp.IsBound() || AfxEndRequested()) return -1;
    const IPAddr destination = InetAddr(strAddress.c_str());
    if (destination == INADDR_NONE) return -1;

    // Everything the request touches belongs to it: it waits on a thread of its own, which an
    // end request may leave behind.
    struct CEcho {
        BYTE reply[kReplyBufferSize] = {};
        IP_OPTION_INFORMATION options = {};
        char payload[sizeof kProbePayload] = {};
        DWORD dwReplies = 0;
        // The request and this probe: whichever lets go last closes the handle.
        std::atomic<int> nHolders{2};
    };
    const std::shared_ptr<CEcho> pEcho(new (std::nothrow) CEcho());
    if (!pEcho) return -1;

    g_hIcmp = m_icmp.m_pfnIcmpCreateFile();
    // Nothing to send with, and nothing to close.
    if (g_hIcmp == INVALID_HANDLE_VALUE || g_hIcmp == nullptr) return -1;

    if (m_bSound) Platform().PlaySound("SonarSound", SND_ASYNC | SND_RESOURCE);

    pEcho->options.Ttl = kProbeTtl;
    std::memcpy(pEcho->payload, kProbePayload, sizeof pEcho->payload);
    // The program goes on answering the system while the request waits for its answer.
    const auto pfnClose = m_icmp.m_pfnIcmpCloseHandle;
    const bool bWaited = AfxWaitServing(
        [pEcho, pfnSendEcho = m_icmp.m_pfnIcmpSendEcho, pfnClose, hIcmp = g_hIcmp, destination] {
            pEcho->dwReplies =
                pfnSendEcho(hIcmp, destination, pEcho->payload, sizeof pEcho->payload,
                            &pEcho->options, pEcho->reply, kReplyBufferSize, kProbeTimeoutMs);
            if (pEcho->nHolders.fetch_sub(1) == 1) pfnClose(hIcmp);
        });
    if (!bWaited) {
        // The program is ending and the request may still wait: it closes its handle itself
        // once it is done, or this does if it already is. Nobody is told of a failure now.
        if (pEcho->nHolders.fetch_sub(1) == 1) pfnClose(g_hIcmp);
        g_hIcmp = INVALID_HANDLE_VALUE;
        return -1;
    }

    // Status alone is not enough: a send that reported nothing may have left the zero-filled
    // buffer untouched, which would read as success in 0 ms.
    ICMP_ECHO_REPLY record;
    std::memcpy(&record, pEcho->reply, sizeof record);
    int nResult = -1;
    if (pEcho->dwReplies > 0 && record.Status == 0)
        nResult = record.RoundTripTime > static_cast<DWORD>(INT_MAX)
                      ? INT_MAX
                      : static_cast<int>(record.RoundTripTime);

    const BOOL bClosed = pfnClose(g_hIcmp);
    g_hIcmp = INVALID_HANDLE_VALUE;
    // The box keeps dispatching, so a tick may probe inside it: nothing of ours is used after.
    if (!bClosed)
        Platform().MessageBox(this, AfxLoadString(IDS_ICMP_CLOSE_FAILED),
                              AfxLoadString(IDS_SONAR_ERROR), MB_OK);
    return nResult;
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
