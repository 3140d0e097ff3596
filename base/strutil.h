#pragma once
// String helpers the framework's string class offers, and the one integer reader of the
// program: the list file and the dialog's edits read numbers with it.

#include <climits>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>

#include "base/wintypes.h"

// White space as the run-time library knows it: space, tab, CR, LF, vertical tab, form feed.
inline bool IsWhiteSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

// The text without white space on the left, then on the right.
inline CString TrimWhiteSpace(const CString& text) {
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && IsWhiteSpace(text[first])) ++first;
    while (last > first && IsWhiteSpace(text[last - 1])) --last;
    return text.substr(first, last - first);
}

// The decimal integer at text[pos], as the run-time library reads one: an optional sign, then
// digits up to the first non-digit; beyond 32 bits it saturates. pos moves past what was read.
// Nothing without a digit. Leading white space is the caller's to skip, by its own rule.
inline std::optional<int> ScanInt(const char* text, std::size_t length, std::size_t& pos) {
    std::size_t i = pos;
    bool negative = false;
    if (i < length && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    const std::size_t digits = i;
    std::int64_t magnitude = 0;
    const std::int64_t limit = negative ? -static_cast<std::int64_t>(INT_MIN) : INT_MAX;
    for (; i < length && text[i] >= '0' && text[i] <= '9'; ++i) {
        magnitude = magnitude * 10 + (text[i] - '0');
        if (magnitude > limit) magnitude = limit;  // saturate, keep consuming digits
    }
    if (i == digits) return std::nullopt;
    pos = i;
    return static_cast<int>(negative ? -magnitude : magnitude);
}

// A message with its inserts: %1 becomes args[0], %2 args[1], and so on, in one pass, so an
// insert that holds a % sequence itself (a file name) stays as it is.
inline CString FormatString(const CString& text, std::initializer_list<CString> args) {
    CString result;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const std::size_t n =
            i + 1 < text.size() ? static_cast<std::size_t>(text[i + 1] - '1') : args.size();
        if (text[i] == '%' && n < args.size()) {
            result += args.begin()[n];
            ++i;
        } else {
            result += text[i];
        }
    }
    return result;
}
