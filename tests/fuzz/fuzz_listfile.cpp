// Fuzz target for the list file reader: any bytes must parse without a crash, a hang or
// unbounded memory, keep only servers the socket layer accepts, and read back the same after
// being written.

#include <cstdint>
#include <cstdlib>

#include "base/inet.h"
#include "logic/listfile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const CListFileData parsed = ParseListFile(reinterpret_cast<const char*>(data), size);
    for (const CString& server : parsed.servers) {
        if (server.empty() || server.find_first_of(std::string("\r\n\0", 3)) != CString::npos ||
            InetAddr(server.c_str()) == INADDR_NONE)
            std::abort();
    }
    if (parsed.nDelay && parsed.bCycleOnNoContact && parsed.bSound) {
        const CString text = FormatListFile(*parsed.nDelay, *parsed.bCycleOnNoContact,
                                            *parsed.bSound, parsed.servers);
        const CListFileData again = ParseListFile(text.data(), text.size());
        if (again.nDelay != parsed.nDelay || again.bCycleOnNoContact != parsed.bCycleOnNoContact ||
            again.bSound != parsed.bSound || again.servers != parsed.servers)
            std::abort();
    }
    return 0;
}
