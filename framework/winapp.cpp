#include "framework/winapp.h"

#include "framework/backend.h"
#include "framework/wnd.h"

BOOL CWinApp::OnCmdMsg(UINT nID) {
    if (nID == ID_HELP) {
        OnHelp();
        return TRUE;
    }
    return FALSE;
}

int AfxWinMain(CWinApp& app) {
    // From here on an end request from outside closes the program as Exit would; during
    // start-up it ends any box and start-up with it.
    AfxBeginEndWatch();
    int nExitCode = 0;
    if (!app.InitInstance() || AfxEndRequested()) {
        if (app.m_pMainWnd != nullptr && app.m_pMainWnd->IsWindow())
            app.m_pMainWnd->DestroyWindow();
        app.ExitInstance();
    } else {
        // A main window already gone (closed during start-up) ends the program at once.
        if (app.m_pMainWnd != nullptr && app.m_pMainWnd->IsWindow()) {
            app.m_pMainWnd->SetMainWindow(true);
            AfxRunMessageLoop(*app.m_pMainWnd);
        }
        nExitCode = app.ExitInstance();
    }
    AfxEndEndWatch();
    return nExitCode;
}
