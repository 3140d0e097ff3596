#pragma once
// The safety net under every test or benchmark that sends real packets: they run only where
// no interface but loopback exists, so nothing can leave the machine. Under Wine the session
// sees the interfaces of the namespace it was started in.

#ifdef _WIN32
// clang-format off
#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
// clang-format on

#include <vector>

inline bool OnlyLoopback() {
    ULONG size = 16 * 1024;
    std::vector<unsigned char> buffer;
    ULONG result = ERROR_BUFFER_OVERFLOW;
    for (int attempt = 0; attempt < 3 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
        buffer.resize(size);
        result = GetAdaptersAddresses(
            AF_UNSPEC, 0, nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
    }
    if (result == ERROR_NO_DATA) return true;
    if (result != NO_ERROR) return false;
    for (auto* p = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer.data()); p != nullptr;
         p = p->Next) {
        if (p->IfType != IF_TYPE_SOFTWARE_LOOPBACK) return false;
    }
    return true;
}
#else
#include <net/if.h>

#include <cstring>

inline bool OnlyLoopback() {
    struct if_nameindex* names = if_nameindex();
    if (names == nullptr) return false;
    bool bOnlyLo = true;
    for (struct if_nameindex* p = names; p->if_index != 0; ++p)
        bOnlyLo = bOnlyLo && std::strcmp(p->if_name, "lo") == 0;
    if_freenameindex(names);
    return bOnlyLo;
}
#endif
