// Start-up: the toolkit, the system services, then the application object.

#include "framework/qt/qthost.h"
#include "keepaliveapp.h"
#include "qt/qtplatform.h"
#include "version.h"

int main(int argc, char** argv) {
    CQtHost host(argc, argv, "quorvane", kVersionDotted);
    CQtPlatform platform;
    CKeepAliveApp theApp(platform);
    return AfxWinMain(theApp);
}
