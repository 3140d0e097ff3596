#include "icmpfacility.h"

// Not yet able to send: every request fails without traffic, so nothing can count as an
// answer.
HANDLE QvIcmpCreateFile() { return INVALID_HANDLE_VALUE; }

BOOL QvIcmpCloseHandle(HANDLE /*hIcmp*/) { return TRUE; }

DWORD QvIcmpSendEcho(HANDLE /*hIcmp*/, IPAddr /*destination*/, void* /*requestData*/,
                     WORD /*requestSize*/, IP_OPTION_INFORMATION* /*requestOptions*/,
                     void* /*replyBuffer*/, DWORD /*replySize*/, DWORD /*timeout*/) {
    return 0;
}
