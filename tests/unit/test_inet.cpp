// Address text must read exactly as the socket layer reads it: a value we accept differently,
// or text it would accept and we pass through, puts the wrong server in the list.

#include <doctest/doctest.h>

#include <cstring>

#include "base/inet.h"

namespace {

// A host-order address in network byte order.
std::uint32_t NetworkOrder(std::uint32_t host) {
    const unsigned char bytes[4] = {
        static_cast<unsigned char>(host >> 24), static_cast<unsigned char>(host >> 16),
        static_cast<unsigned char>(host >> 8), static_cast<unsigned char>(host)};
    std::uint32_t address;
    std::memcpy(&address, bytes, sizeof address);
    return address;
}

struct CNamed {
    const char* pszName;
    const char* pszText;
};

}  // namespace

TEST_CASE("address text the socket layer accepts reads as it does") {
    struct CRow {
        const char* pszName;
        const char* pszText;
        std::uint32_t host;
        const char* pszDotted;
    };
    const CRow rows[] = {
        // Four parts.
        {"zero", "0.0.0.0", 0x00000000u, "0.0.0.0"},
        {"dotted", "1.2.3.4", 0x01020304u, "1.2.3.4"},
        {"last 255", "1.2.3.255", 0x010203FFu, "1.2.3.255"},
        {"highest", "255.255.255.254", 0xFFFFFFFEu, "255.255.255.254"},
        {"octal part", "010.0.0.1", 0x08000001u, "8.0.0.1"},
        {"octal max", "0377.0377.0377.0376", 0xFFFFFFFEu, "255.255.255.254"},
        {"hex parts", "0xA.0xb.0Xc.0XD", 0x0A0B0C0Du, "10.11.12.13"},
        {"mixed bases", "0x7F.010.9.0", 0x7F080900u, "127.8.9.0"},
        // Three parts: 8.8.16.
        {"a.b.c", "10.1.300", 0x0A01012Cu, "10.1.1.44"},
        {"a.b.c max", "1.2.65535", 0x0102FFFFu, "1.2.255.255"},
        // Two parts: 8.24.
        {"127.1", "127.1", 0x7F000001u, "127.0.0.1"},
        {"0x7f.1", "0x7f.1", 0x7F000001u, "127.0.0.1"},
        {"a.b max", "1.0xffffff", 0x01FFFFFFu, "1.255.255.255"},
        // One part: 32 bits.
        {"0", "0", 0x00000000u, "0.0.0.0"},
        {"0x0", "0x0", 0x00000000u, "0.0.0.0"},
        {"decimal", "2130706433", 0x7F000001u, "127.0.0.1"},
        {"octal", "017700000001", 0x7F000001u, "127.0.0.1"},
        {"hex", "0X7F000001", 0x7F000001u, "127.0.0.1"},
        {"decimal max", "4294967294", 0xFFFFFFFEu, "255.255.255.254"},
        // Leading zeros do not count towards overflow.
        {"long octal", "0000000000000000000000377.1", 0xFF000001u, "255.0.0.1"},
        {"long hex", "0x000000000000000000000001", 0x00000001u, "0.0.0.1"},
    };
    for (const CRow& row : rows) {
        CAPTURE(row.pszName);
        const std::uint32_t address = InetAddr(row.pszText);
        CHECK(address == NetworkOrder(row.host));
        CHECK(InetNtoa(address) == row.pszDotted);
    }
}

TEST_CASE("address text the socket layer refuses, or might read otherwise, is refused") {
    const CNamed rows[] = {
        // Shape.
        {"empty", ""},
        {"dot", "."},
        {"leading dot", ".1"},
        {"empty middle", "1..2"},
        {"trailing dot", "1.2.3."},
        {"trailing dot 4", "1.2.3.4."},
        {"five parts", "1.2.3.4.5"},
        {"comma", "1,2,3,4"},
        {"prefix length", "1.2.3.4/24"},
        {"name", "localhost"},
        // White space, signs and trailing text.
        {"leading space", " 1.2.3.4"},
        {"trailing space", "1.2.3.4 "},
        {"trailing newline", "1.2.3.4\n"},
        {"inner space", "1 .2.3.4"},
        {"trailing word", "1.2.3.4 extra"},
        {"trailing letter", "1.2.3.4x"},
        {"plus", "+1.2.3.4"},
        {"minus", "-1"},
        {"inner minus", "1.-2.3.4"},
        {"hex minus", "0x-1"},
        // Bases.
        {"0x alone", "0x"},
        {"0x part", "0x.1"},
        {"0x last", "1.0x"},
        {"spaced 0x", "0 x1"},
        {"octal 8", "08"},
        {"octal 9", "09.1.1.1"},
        {"octal 8 last", "1.2.3.08"},
        {"hex trailing g", "1.2.3.0x1G"},
        {"decimal with hex", "1a.2.3.4"},
        // Part widths.
        {"a 256", "256.0.0.1"},
        {"b 256", "1.256.0.1"},
        {"c 256", "1.2.256.1"},
        {"d 256", "1.2.3.256"},
        {"octal 0400", "1.2.3.0400"},
        {"a.b.c a 256", "256.1.1"},
        {"a.b.c c 65536", "1.2.65536"},
        {"a.b a 256", "256.1"},
        {"a.b b 2^24", "1.0x1000000"},
        // Overflow, including values that wrap to something small.
        {"2^32", "4294967296"},
        {"2^32+1", "4294967297"},
        {"2^64+1", "18446744073709551617"},
        {"huge decimal", "99999999999999999999999999999999"},
        {"hex 2^32", "0x100000000"},
        {"hex 2^64+1", "0x10000000000000001"},
        {"octal 2^32", "040000000000"},
        {"huge last part", "1.2.3.18446744073709551617"},
    };
    for (const CNamed& row : rows) {
        CAPTURE(row.pszName);
        CHECK(InetAddr(row.pszText) == std::uint32_t(INADDR_NONE));
    }
}

TEST_CASE("all ones, in any spelling, is refused") {
    const CNamed rows[] = {
        {"dotted", "255.255.255.255"},
        {"hex dotted", "0xff.0xff.0xff.0xff"},
        {"octal dotted", "0377.0377.0377.0377"},
        {"a.b.c", "255.255.0xffff"},
        {"a.b", "255.0xffffff"},
        {"decimal", "4294967295"},
        {"hex", "0xffffffff"},
        {"octal", "037777777777"},
    };
    for (const CNamed& row : rows) {
        CAPTURE(row.pszName);
        CHECK(InetAddr(row.pszText) == std::uint32_t(INADDR_NONE));
    }
}

TEST_CASE("no text is refused") { CHECK(InetAddr(nullptr) == std::uint32_t(INADDR_NONE)); }

TEST_CASE("dotted text reads back as the same address") {
    struct CRow {
        const char* pszName;
        std::uint32_t host;
        const char* pszDotted;
    };
    const CRow rows[] = {
        {"zero", 0x00000000u, "0.0.0.0"},
        {"loopback", 0x7F000001u, "127.0.0.1"},
        {"zeros inside", 0x0A00FF01u, "10.0.255.1"},
        {"highest", 0xFFFFFFFEu, "255.255.255.254"},
    };
    for (const CRow& row : rows) {
        CAPTURE(row.pszName);
        const std::uint32_t address = NetworkOrder(row.host);
        const CString text = InetNtoa(address);
        CHECK(text == row.pszDotted);
        CHECK(InetAddr(text.c_str()) == address);
    }
}
