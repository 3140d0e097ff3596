#pragma once
// The names both platforms' tests look up, with the ASCII form each platform must ask its
// resolver for: one rule on both (base/inet.h). The names are wide text, which each test
// turns into its platform's own (UTF-8 on Linux, the ANSI code page on Windows).

#include <cstddef>

struct CLookupCase {
    const wchar_t* pszName;
    std::size_t nLength;    // the name may hold a NUL
    const char* pszLookup;  // null: no lookup at all
};

// A wide literal and its length, a NUL inside included.
#define NAME(text) text, sizeof(text) / sizeof(wchar_t) - 1

inline constexpr CLookupCase kLookupCases[] = {
    {NAME(L"localhost"), "localhost"},
    {NAME(L"Server-1.Example"), "Server-1.Example"},
    {NAME(L""), nullptr},
    // A NUL would look up the text before it.
    {NAME(L"localhost\0.example"), nullptr},
    // White space and control characters: a resolver may read "127.0.0.1" alone.
    {NAME(L"127.0.0.1 x"), nullptr},
    {NAME(L"127.0.0.1\tx"), nullptr},
    {NAME(L" localhost"), nullptr},
    {NAME(L"local\x7fhost"), nullptr},
    {NAME(L"local\x01host"), nullptr},
    // Other text by its IDNA form, case folded.
    {NAME(L"b\x00fc"
          L"cher.example"),
     "xn--bcher-kva.example"},
    {NAME(L"B\x00dc"
          L"CHER.example"),
     "xn--bcher-kva.example"},
    {NAME(L"m\x00fcnchen"), "xn--mnchen-3ya"},
};

#undef NAME
