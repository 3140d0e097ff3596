// The echo probe operations of the main dialog.

#include <climits>
#include <cstring>
#include <memory>
#include <new>

#include "inet.h"
#include "keepalivedlg.h"
#include "platform.h"

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
    // A tick may come before start-up has bound the entry points.
    if (!m_icmp.IsBound()) return -1;
    const IPAddr destination = InetAddr(strAddress.c_str());
    if (destination == INADDR_NONE) return -1;

    std::unique_ptr<BYTE[]> pReply(new (std::nothrow) BYTE[kReplyBufferSize]());
    std::unique_ptr<IP_OPTION_INFORMATION> pOptions(new (std::nothrow) IP_OPTION_INFORMATION());
    if (!pReply || !pOptions) return -1;

    g_hIcmp = m_icmp.m_pfnIcmpCreateFile();
    // Nothing to send with, and nothing to close.
    if (g_hIcmp == INVALID_HANDLE_VALUE || g_hIcmp == nullptr) return -1;

    if (m_bSound) Platform().PlaySound("SonarSound", SND_ASYNC | SND_RESOURCE);

    pOptions->Ttl = kProbeTtl;
    char payload[sizeof kProbePayload];
    std::memcpy(payload, kProbePayload, sizeof payload);
    const DWORD dwReplies =
        m_icmp.m_pfnIcmpSendEcho(g_hIcmp, destination, payload, sizeof payload, pOptions.get(),
                                 pReply.get(), kReplyBufferSize, kProbeTimeoutMs);

    // Status alone is not enough: a send that reported nothing may have left the zero-filled
    // buffer untouched, which would read as success in 0 ms.
    ICMP_ECHO_REPLY record;
    std::memcpy(&record, pReply.get(), sizeof record);
    int nResult = -1;
    if (dwReplies > 0 && record.Status == 0)
        nResult = record.RoundTripTime > static_cast<DWORD>(INT_MAX)
                      ? INT_MAX
                      : static_cast<int>(record.RoundTripTime);

    const BOOL bClosed = m_icmp.m_pfnIcmpCloseHandle(g_hIcmp);
    g_hIcmp = INVALID_HANDLE_VALUE;
    // The box keeps dispatching, so a tick may probe inside it: nothing of ours is used after.
    if (!bClosed) Platform().MessageBox(this, "Error closing ICMP socket.", "Sonar Error", MB_OK);
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
