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
#include <functional>
#include <optional>

#include "base/wintypes.h"

// Address in network byte order, or INADDR_NONE for any text not accepted. One to four parts
// (a, a.b, a.b.c, a.b.c.d), each decimal, octal (leading 0) or hex (leading 0x); the last part
// fills the remaining bits. No white space, sign or trailing text. "255.255.255.255" yields
// INADDR_NONE too, so it can never be told apart from an error: callers rely on that.
std::uint32_t InetAddr(const char* text);

// Dotted text "a.b.c.d" of an address in network byte order.
CString InetNtoa(std::uint32_t addressNetworkOrder);

// The rule both platforms resolve a name by. A name is looked up by its ASCII form: ASCII
// text as it is, other text by its IDNA form, the name its owner registered, which each
// platform converts from its own text (UTF-8 on Linux, the ANSI code page on Windows), so the
// same characters look up the same name. Refused before any lookup, here: an empty name, and
// one with a NUL (the system would look up the text before it), white space or another
// control character (no host name holds one, and a resolver may read the text before it as an
// address).
bool IsLookupName(const CString& name);
// The ASCII name a lookup of name asks the resolver for, by that rule, or nothing: toAce
// gives a non-ASCII name's IDNA form in the platform's way, empty when it has none.
std::optional<CString> LookupName(const CString& name,
                                  const std::function<CString(const CString&)>& toAce);
