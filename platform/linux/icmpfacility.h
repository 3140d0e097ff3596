#pragma once
// The ICMP facility of this platform: the three operations the program binds by name, with
// the meaning of the system ICMP library's entry points, over the kernel's ICMP sockets.

#include "base/icmplib.h"

// Opens an ICMP socket: INVALID_HANDLE_VALUE when none may be opened.
HANDLE WINAPI QvIcmpCreateFile();
// FALSE when the socket could not be closed (or the handle is none of ours).
BOOL WINAPI QvIcmpCloseHandle(HANDLE hIcmp);
// Sends one echo request and waits up to timeout ms for its answer. Writes an ICMP_ECHO_REPLY
// record, followed by the echoed data, at the start of the reply buffer, which must hold both.
// Returns the number of answers: 1 for an echo reply (Status 0) or an ICMP error about the
// request (Status says which), 0 when none came (Status says why).
DWORD WINAPI QvIcmpSendEcho(HANDLE hIcmp, IPAddr destination, void* requestData, WORD requestSize,
                            IP_OPTION_INFORMATION* requestOptions, void* replyBuffer,
                            DWORD replySize, DWORD timeout);

// Ends the echo wait under way at once and makes every later one fail unsent, as does every
// later IcmpCreateFile: the process is ending. Async-signal-safe, callable from any thread.
void QvIcmpAbort();

// Whether the handle sends through a raw socket rather than a datagram one.
bool QvIcmpIsRawHandle(HANDLE hIcmp);

// Empty when this user may open an ICMP socket of either kind; otherwise a message saying that
// echo requests are not permitted and how to allow them. Opens and closes one socket at most
// twice, so it is cheap enough for start-up.
CString QvIcmpPermissionProblem(const CString& strExecutable);
