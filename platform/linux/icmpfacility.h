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

// The same request, waiting from the event loop (on the user-interface thread): with an event
// it returns 1 when the answer was there at once, else 0 with ERROR_IO_PENDING as the last
// error, the answer then written and the event signalled (AfxSetEvent) once it came or the
// time is up. The reply buffer must stay until then, or until the handle is closed, which ends
// the request and signals the event. 0 with another last error: it failed at once, and the
// event is not signalled. Without an event, as QvIcmpSendEcho. No routine is called back.
DWORD WINAPI QvIcmpSendEcho2(HANDLE hIcmp, HANDLE hEvent, void* pfnApcRoutine, void* pApcContext,
                             IPAddr destination, void* requestData, WORD requestSize,
                             IP_OPTION_INFORMATION* requestOptions, void* replyBuffer,
                             DWORD replySize, DWORD timeout);
// The number of answers a request of QvIcmpSendEcho2 that waited left in the buffer, once: 0
// when none came, with the record's Status as the last error.
DWORD WINAPI QvIcmpParseReplies(void* replyBuffer, DWORD replySize);
// The error the last call of this thread that failed left.
DWORD QvIcmpGetLastError();

// Whether the handle sends through a raw socket rather than a datagram one.
bool QvIcmpIsRawHandle(HANDLE hIcmp);

// Empty when this user may open an ICMP socket of either kind; otherwise a message saying that
// echo requests are not permitted and how to allow them. Opens and closes one socket at most
// twice, so it is cheap enough for start-up.
CString QvIcmpPermissionProblem(const CString& strExecutable);
