// Start-up: the toolkit, the system services, then the application object.

#include "app/keepaliveapp.h"
#include "framework/linux/qthost.h"
#include "platform/linux/qtplatform.h"
#include "res/version.h"

int main(int argc, char** argv) {
    CQtHost host(argc, argv, "quorvane", kVersionDotted);
    CQtPlatform platform;
    CKeepAliveApp theApp(platform);
    return theApp.Run();
}
