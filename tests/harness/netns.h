#pragma once
// The safety net under every test or benchmark that sends real packets: they run only where
// no interface but lo exists, so nothing can leave the machine.

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
