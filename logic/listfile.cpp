#include "logic/listfile.h"

#include "base/inet.h"
#include "base/strutil.h"

namespace {

// The decimal integer at the very start of the data, leading white space skipped.
std::optional<int> LeadingInt(const char* data, std::size_t length) {
    std::size_t i = 0;
    while (i < length && IsWhiteSpace(data[i])) ++i;
    return ScanInt(data, length, i);
}

// Index of the first LF at or after i, or length.
std::size_t FindLf(const char* data, std::size_t length, std::size_t i) {
    while (i < length && data[i] != '\n') ++i;
    return i;
}

}  // namespace

CListFileData ParseListFile(const char* data, std::size_t length) {
    CListFileData result;
    result.nDelay = LeadingInt(data, length);

    // Line 2: the cycle flag; line 3: the sound flag.
    std::size_t i = FindLf(data, length, 0) + 1;
    if (i >= length) return result;
    result.bCycleOnNoContact = data[i] == '1' ? TRUE : FALSE;
    i = FindLf(data, length, i) + 1;
    if (i >= length) return result;
    result.bSound = data[i] == '1' ? TRUE : FALSE;

    // Server lines. A line ends at CR or at LF, so files with either line end read alike.
    while (i < length) {
        i = FindLf(data, length, i) + 1;
        if (i >= length) break;
        const std::size_t start = i;
        while (i < length && data[i] != '\r' && data[i] != '\n') ++i;
        const CString server = TrimWhiteSpace(CString(data + start, i - start));
        // A NUL would hide the rest of the line from the address check.
        if (!server.empty() && server.find('\0') == CString::npos &&
            InetAddr(server.c_str()) != INADDR_NONE)
            result.servers.push_back(server);
    }
    return result;
}

CString FormatListFile(int nDelay, BOOL bCycleOnNoContact, BOOL bSound,
                       const std::vector<CString>& servers) {
    CString text = std::to_string(nDelay) + "\r\n";
    text += bCycleOnNoContact == 1 ? "1\r\n" : "0\r\n";
    text += bSound == 1 ? "1\r\n" : "0\r\n";
    for (const CString& server : servers) text += server + "\r\n";
    return text;
}
