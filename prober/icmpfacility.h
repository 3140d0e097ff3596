#pragma once
// The ICMP facility of this platform: the three operations the program binds by name, with
// the meaning of the system ICMP library's entry points.

#include "icmpapi.h"

HANDLE QvIcmpCreateFile();
BOOL QvIcmpCloseHandle(HANDLE hIcmp);
DWORD QvIcmpSendEcho(HANDLE hIcmp, IPAddr destination, void* requestData, WORD requestSize,
                     IP_OPTION_INFORMATION* requestOptions, void* replyBuffer, DWORD replySize,
                     DWORD timeout);
