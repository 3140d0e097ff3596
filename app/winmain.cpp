// Start-up on Windows: the library search narrowed, the system's controls, the system
// services, then the application object.

#include "app/keepaliveapp.h"
#include "base/wintypes.h"
#include "platform/windows/win32platform.h"
#include "framework/windows/win32syslib.h"

int WINAPI WinMain(HINSTANCE /*hInstance*/, HINSTANCE /*hPrevInstance*/, LPSTR /*lpCmdLine*/,
                   int /*nShowCmd*/) {
    // Before anything can load a library: none may come from beside the program.
    Win32RestrictLibrarySearch();
    // The current look of the controls the dialogs are made of.
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&controls);
    CWin32Platform platform;
    CKeepAliveApp theApp(platform);
    return theApp.Run();
}
