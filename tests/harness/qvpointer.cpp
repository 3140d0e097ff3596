// The user's mouse on a Wayland desktop with no input device (a headless compositor): a virtual
// pointer, driven by lines on standard input, each answered with "ok" once the compositor has
// taken it.
//   move X Y        the pointer to X, Y on the screen given on the command line (WIDTH HEIGHT)
//   press BUTTON    release BUTTON    click BUTTON   (BUTTON: left, right)
// It lives as long as its input, so that the compositor keeps a pointer meanwhile: a menu
// closes when the last pointer goes away.

#include <linux/input-event-codes.h>
#include <wayland-client.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iostream>
#include <sstream>
#include <string>

#include "virtualpointer-client.h"

namespace {

struct CGlobals {
    wl_seat* m_pSeat = nullptr;
    zwlr_virtual_pointer_manager_v1* m_pManager = nullptr;
};

void OnGlobal(void* pData, wl_registry* pRegistry, uint32_t nName, const char* pszInterface,
              uint32_t) {
    auto* pGlobals = static_cast<CGlobals*>(pData);
    if (std::strcmp(pszInterface, wl_seat_interface.name) == 0 && pGlobals->m_pSeat == nullptr)
        pGlobals->m_pSeat =
            static_cast<wl_seat*>(wl_registry_bind(pRegistry, nName, &wl_seat_interface, 1));
    else if (std::strcmp(pszInterface, zwlr_virtual_pointer_manager_v1_interface.name) == 0)
        pGlobals->m_pManager = static_cast<zwlr_virtual_pointer_manager_v1*>(
            wl_registry_bind(pRegistry, nName, &zwlr_virtual_pointer_manager_v1_interface, 1));
}

void OnGlobalRemove(void*, wl_registry*, uint32_t) {}

const wl_registry_listener g_registryListener = {OnGlobal, OnGlobalRemove};

uint32_t Now() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint32_t>(now.tv_sec * 1000 + now.tv_nsec / 1000000);
}

bool Button(const std::string& strName, uint32_t* pnCode) {
    if (strName == "left")
        *pnCode = BTN_LEFT;
    else if (strName == "right")
        *pnCode = BTN_RIGHT;
    else
        return false;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s WIDTH HEIGHT\n", argv[0]);
        return 2;
    }
    const auto nWidth = static_cast<uint32_t>(std::strtoul(argv[1], nullptr, 10));
    const auto nHeight = static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10));
    wl_display* pDisplay = wl_display_connect(nullptr);
    if (pDisplay == nullptr) {
        std::fprintf(stderr, "qvpointer: no Wayland display\n");
        return 1;
    }
    CGlobals globals;
    wl_registry* pRegistry = wl_display_get_registry(pDisplay);
    wl_registry_add_listener(pRegistry, &g_registryListener, &globals);
    wl_display_roundtrip(pDisplay);
    if (globals.m_pManager == nullptr) {
        std::fprintf(stderr, "qvpointer: the compositor offers no virtual pointer\n");
        return 1;
    }
    zwlr_virtual_pointer_v1* pPointer =
        zwlr_virtual_pointer_manager_v1_create_virtual_pointer(globals.m_pManager, globals.m_pSeat);
    wl_display_roundtrip(pDisplay);
    std::cout << "ok" << std::endl;

    std::string strLine;
    while (std::getline(std::cin, strLine)) {
        std::istringstream words(strLine);
        std::string strVerb, strArg;
        words >> strVerb;
        uint32_t nButton = 0;
        if (strVerb == "move") {
            uint32_t nX = 0, nY = 0;
            words >> nX >> nY;
            zwlr_virtual_pointer_v1_motion_absolute(pPointer, Now(), nX, nY, nWidth, nHeight);
            zwlr_virtual_pointer_v1_frame(pPointer);
        } else if ((strVerb == "press" || strVerb == "release" || strVerb == "click") &&
                   (words >> strArg) && Button(strArg, &nButton)) {
            if (strVerb != "release") {
                zwlr_virtual_pointer_v1_button(pPointer, Now(), nButton,
                                               WL_POINTER_BUTTON_STATE_PRESSED);
                zwlr_virtual_pointer_v1_frame(pPointer);
            }
            if (strVerb != "press") {
                if (strVerb == "click") wl_display_roundtrip(pDisplay);
                zwlr_virtual_pointer_v1_button(pPointer, Now(), nButton,
                                               WL_POINTER_BUTTON_STATE_RELEASED);
                zwlr_virtual_pointer_v1_frame(pPointer);
            }
        } else {
            std::cout << "bad command: " << strLine << std::endl;
            continue;
        }
        if (wl_display_roundtrip(pDisplay) < 0) return 1;
        std::cout << "ok" << std::endl;
    }
    wl_display_disconnect(pDisplay);
    return 0;
}
