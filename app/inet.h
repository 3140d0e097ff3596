#pragma once
// IPv4 address text, read and written exactly as the socket layer does, without linking it.
// The list file and the server list must never hold text that the socket layer would read
// differently from us, so anything it might read another way is refused here.

#ifdef _WIN32
#include <winsock2.h>  // INADDR_NONE; must precede <windows.h>
#else
#include <netinet/in.h>  // INADDR_NONE
#endif

#include <cstdint>

#include "framework/wintypes.h"

// Address in network byte order, or INADDR_NONE for any text not accepted. One to four parts
// (a, a.b, a.b.c, a.b.c.d), each decimal, octal (leading 0) or hex (leading 0x); the last part
// fills the remaining bits. No white space, sign or trailing text. "255.255.255.255" yields
// INADDR_NONE too, so it can never be told apart from an error: callers rely on that.
std::uint32_t InetAddr(const char* text);

// Dotted text "a.b.c.d" of an address in network byte order.
CString InetNtoa(std::uint32_t addressNetworkOrder);
