#pragma once
// String helpers the framework's string class offers.

#include "framework/wintypes.h"

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
