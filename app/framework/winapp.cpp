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
    if (!app.InitInstance()) {
        if (app.m_pMainWnd != nullptr && app.m_pMainWnd->IsWindow())
            app.m_pMainWnd->DestroyWindow();
        app.ExitInstance();
        return 0;
    }
    // A main window already gone (closed during start-up) ends the program at once.
    if (app.m_pMainWnd != nullptr && app.m_pMainWnd->IsWindow()) {
        app.m_pMainWnd->SetMainWindow(true);
        AfxRunMessageLoop(*app.m_pMainWnd);
    }
    return app.ExitInstance();
}
