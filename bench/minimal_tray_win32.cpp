// The smallest Win32 tray program: a window that is never shown and one notification icon.
// The yardstick for the Windows program's idle system calls (bench/wine_idle.sh). It ends on
// a close request (taskkill), as Quorvane does.

#include <windows.h>

namespace {

constexpr UINT kTrayMessage = WM_APP + 100;
constexpr UINT kTrayId = 1;

LRESULT CALLBACK WindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) {
        ::PostQuitMessage(0);
        return 0;
    }
    return ::DefWindowProcA(hWnd, message, wParam, lParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE /*hPrevInstance*/, LPSTR /*lpCmdLine*/,
                   int /*nCmdShow*/) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = &WindowProc;
    wc.hInstance = hInstance;
    wc.lpszClassName = "MinimalTray";
    if (::RegisterClassA(&wc) == 0) return 1;
    HWND hWnd = ::CreateWindowA("MinimalTray", "minimal tray", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                CW_USEDEFAULT, 200, 100, nullptr, nullptr, hInstance, nullptr);
    if (hWnd == nullptr) return 1;

    NOTIFYICONDATAA nid{};
    nid.cbSize = NOTIFYICONDATAA_V1_SIZE;
    nid.hWnd = hWnd;
    nid.uID = kTrayId;
    nid.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    nid.uCallbackMessage = kTrayMessage;
    nid.hIcon = ::LoadIconA(nullptr, IDI_APPLICATION);
    ::lstrcpynA(nid.szTip, "minimal tray", sizeof nid.szTip);
    if (!::Shell_NotifyIconA(NIM_ADD, &nid)) return 1;

    MSG msg;
    while (::GetMessageA(&msg, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
    }
    ::Shell_NotifyIconA(NIM_DELETE, &nid);
    return 0;
}
