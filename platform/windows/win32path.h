#pragma once
// The program's text is UTF-8; the system's paths are UTF-16. The conversions at the boundary,
// and the spelling that lets a long path through. Pure string work: no system call.

#include <string>

#include "base/wintypes.h"

// UTF-8 to UTF-16. A lone surrogate the system allows in a name comes back as it went out
// (its three-byte form, as WideToUtf8 writes it); a byte that starts no character becomes
// U+FFFD.
std::wstring Utf8ToWide(const CString& text);
CString WideToUtf8(const std::wstring& text);

// The path as the system's wide functions take it: as is while it is short enough for
// them, beyond that a full drive or network path spelt with the \\?\ prefix (separators
// made backslashes, doubled ones single, "." and ".." resolved, as the system does for
// the short spelling and does not for the long one).
std::wstring SystemPath(const CString& path);

// A path the system gave back, as the user reads it: without the \\?\ prefix.
CString ReadablePath(const std::wstring& path);

// From this length on a path needs the prefix: the system refuses a directory of 248
// characters or more without it, a file of 260.
constexpr std::size_t kLongPathFrom = 248;
