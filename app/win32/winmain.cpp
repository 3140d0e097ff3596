// Start-up on Windows: the system's controls, the system services, then the application
// object.

#include "framework/wintypes.h"
#include "keepaliveapp.h"
#include "win32/win32platform.h"

int WINAPI WinMain(HINSTANCE /*hInstance*/, HINSTANCE /*hPrevInstance*/, LPSTR /*lpCmdLine*/,
                   int /*nShowCmd*/) {
    // The current look of the controls the dialogs are made of.
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&controls);
    CWin32Platform platform;
    CKeepAliveApp theApp(platform);
    return AfxWinMain(theApp);
}
