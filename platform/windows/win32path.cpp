#include "platform/windows/win32path.h"

#include <vector>

namespace {

constexpr wchar_t kReplacement = 0xFFFD;

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool IsDriveLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

bool StartsWith(const std::wstring& text, const wchar_t* prefix) {
    return text.compare(0, std::wstring(prefix).size(), prefix) == 0;
}

// The components of what follows the root, as the system resolves them.
std::wstring Normalised(const std::wstring& rest) {
    std::vector<std::wstring> parts;
    std::wstring part;
    const auto flush = [&] {
        if (part == L"..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != L".") {
            parts.push_back(part);
        }
        part.clear();
    };
    for (wchar_t c : rest) {
        if (IsSeparator(c))
            flush();
        else
            part += c;
    }
    flush();
    std::wstring joined;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) joined += L'\\';
        joined += parts[i];
    }
    return joined;
}

}  // namespace

std::wstring Utf8ToWide(const CString& text) {
    std::wstring wide;
    wide.reserve(text.size());
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char lead = byte(i);
        std::size_t length = 0;
        char32_t code = 0;
        if (lead < 0x80) {
            length = 1;
            code = lead;
        } else if (lead >= 0xC2 && lead < 0xE0) {
            length = 2;
            code = lead & 0x1F;
        } else if (lead >= 0xE0 && lead < 0xF0) {
            length = 3;
            code = lead & 0x0F;
        } else if (lead >= 0xF0 && lead < 0xF5) {
            length = 4;
            code = lead & 0x07;
        }
        bool valid = length > 0 && i + length <= text.size();
        for (std::size_t k = 1; valid && k < length; ++k) {
            if ((byte(i + k) & 0xC0) != 0x80)
                valid = false;
            else
                code = (code << 6) | (byte(i + k) & 0x3F);
        }
        // Overlong forms and code points past Unicode's end are no characters.
        if (valid &&
            ((length == 3 && code < 0x800) || (length == 4 && code < 0x10000) || code > 0x10FFFF))
            valid = false;
        if (!valid) {
            wide += kReplacement;
            ++i;
            continue;
        }
        if (code >= 0x10000) {
            code -= 0x10000;
            wide += static_cast<wchar_t>(0xD800 + (code >> 10));
            wide += static_cast<wchar_t>(0xDC00 + (code & 0x3FF));
        } else {
            wide += static_cast<wchar_t>(code);
        }
        i += length;
    }
    return wide;
}

CString WideToUtf8(const std::wstring& text) {
    CString narrow;
    narrow.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t code = static_cast<char16_t>(text[i]);
        if (code >= 0xD800 && code < 0xDC00 && i + 1 < text.size()) {
            const char32_t low = static_cast<char16_t>(text[i + 1]);
            if (low >= 0xDC00 && low < 0xE000) {
                code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        if (code < 0x80) {
            narrow += static_cast<char>(code);
        } else if (code < 0x800) {
            narrow += static_cast<char>(0xC0 | (code >> 6));
            narrow += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            narrow += static_cast<char>(0xE0 | (code >> 12));
            narrow += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            narrow += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            narrow += static_cast<char>(0xF0 | (code >> 18));
            narrow += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            narrow += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            narrow += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return narrow;
}

std::wstring SystemPath(const CString& path) {
    const std::wstring wide = Utf8ToWide(path);
    if (wide.size() < kLongPathFrom) return wide;
    // Already in the system's own spelling (\\?\, \\.\): the system takes it as it is.
    if (StartsWith(wide, L"\\\\?\\") || StartsWith(wide, L"\\\\.\\")) return wide;
    if (wide.size() >= 3 && IsDriveLetter(wide[0]) && wide[1] == L':' && IsSeparator(wide[2]))
        return L"\\\\?\\" + wide.substr(0, 2) + L"\\" + Normalised(wide.substr(3));
    if (wide.size() >= 3 && IsSeparator(wide[0]) && IsSeparator(wide[1]) && !IsSeparator(wide[2]))
        return L"\\\\?\\UNC\\" + Normalised(wide.substr(2));
    // Relative to the working directory or to the current drive: only the system knows
    // from where, so it gets the path as given.
    return wide;
}

CString ReadablePath(const std::wstring& path) {
    if (StartsWith(path, L"\\\\?\\UNC\\")) return "\\\\" + WideToUtf8(path.substr(8));
    if (StartsWith(path, L"\\\\?\\") && path.size() >= 6 && IsDriveLetter(path[4]) &&
        path[5] == L':')
        return WideToUtf8(path.substr(4));
    return WideToUtf8(path);
}
