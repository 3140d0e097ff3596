#pragma once
// The list file "Quorvane.Lst": delay, two flags and the server list, one item a line, every
// line ended by CR LF. Pure: bytes in, values out.

#include <cstddef>
#include <optional>
#include <vector>

#include "base/wintypes.h"

inline constexpr char kListFileName[] = "Quorvane.Lst";

// What a file held. A value is absent when the data ends (or, for the delay, does not start
// with a number) before it; the caller then keeps what it had.
struct CListFileData {
    std::optional<int> nDelay;
    std::optional<BOOL> bCycleOnNoContact;
    std::optional<BOOL> bSound;
    // Lines the socket layer accepts as addresses, trimmed, in file order.
    std::vector<CString> servers;
};

CListFileData ParseListFile(const char* data, std::size_t length);

// The file text for the given values; a flag is written as 1 only when it is exactly 1.
CString FormatListFile(int nDelay, BOOL bCycleOnNoContact, BOOL bSound,
                       const std::vector<CString>& servers);
