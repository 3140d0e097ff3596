#include "base/inet.h"

#include <cstring>

namespace {

constexpr std::uint64_t kMaxValue = 0xFFFFFFFFu;

int DigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads one number at text, advancing it past the digits. False when there is no number,
// when a digit does not belong to the base, or when the value exceeds 32 bits.
bool ReadPart(const char*& text, std::uint64_t& value) {
    const char* p = text;
    if (*p < '0' || *p > '9') return false;  // empty part, sign or white space
    int base = 10;
    if (*p == '0') {
        ++p;
        if (*p == 'x' || *p == 'X') {
            base = 16;
            ++p;
            if (DigitValue(*p) < 0) return false;  // "0x" alone
        } else {
            base = 8;
        }
    }
    value = 0;
    for (int digit; (digit = DigitValue(*p)) >= 0; ++p) {
        if (digit >= base) return false;  // 8 or 9 in octal, hex letter in decimal or octal
        // The cap after every digit keeps huge strings from wrapping around.
        value = value * base + digit;
        if (value > kMaxValue) return false;
    }
    text = p;
    return true;
}

std::uint32_t FromBytes(std::uint32_t host) {
    // In-memory bytes a,b,c,d whatever the host's byte order.
    const unsigned char bytes[4] = {
        static_cast<unsigned char>(host >> 24), static_cast<unsigned char>(host >> 16),
        static_cast<unsigned char>(host >> 8), static_cast<unsigned char>(host)};
    std::uint32_t net;
    std::memcpy(&net, bytes, sizeof net);
    return net;
}

}  // namespace

std::uint32_t InetAddr(const char* text) {
    if (text == nullptr) return INADDR_NONE;

    std::uint64_t parts[4];
    int count = 0;
    for (;;) {
        if (count == 4 || !ReadPart(text, parts[count])) return INADDR_NONE;
        ++count;
        if (*text == '\0') break;
        if (*text != '.') return INADDR_NONE;  // trailing text
        ++text;
    }

    // Leading parts are one byte each; the last fills the bits that remain.
    std::uint32_t host = 0;
    for (int i = 0; i < count - 1; ++i) {
        if (parts[i] > 0xFF) return INADDR_NONE;
        host |= static_cast<std::uint32_t>(parts[i]) << (24 - 8 * i);
    }
    const std::uint64_t lastMax = kMaxValue >> (8 * (count - 1));
    if (parts[count - 1] > lastMax) return INADDR_NONE;
    host |= static_cast<std::uint32_t>(parts[count - 1]);

    return FromBytes(host);
}

CString InetNtoa(std::uint32_t addressNetworkOrder) {
    unsigned char bytes[4];
    std::memcpy(bytes, &addressNetworkOrder, sizeof bytes);
    CString text;
    for (int i = 0; i < 4; ++i) {
        if (i > 0) text += '.';
        text += std::to_string(bytes[i]);
    }
    return text;
}

bool IsLookupName(const CString& name) {
    if (name.empty()) return false;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= ' ' || byte == 0x7F) return false;
    }
    return true;
}

std::optional<CString> LookupName(const CString& name,
                                  const std::function<CString(const CString&)>& toAce) {
    const auto isAscii = [](const CString& text) {
        for (const char c : text) {
            if (static_cast<unsigned char>(c) >= 0x80) return false;
        }
        return true;
    };
    if (!IsLookupName(name)) return std::nullopt;
    if (isAscii(name)) return name;
    const CString ace = toAce(name);
    if (ace.empty() || !isAscii(ace)) return std::nullopt;
    return ace;
}
