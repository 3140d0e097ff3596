// TEMPORARY: link-time stand-ins for the window-bound members of CWin32Platform, until
// app/win32/win32shell.cpp defines them. The platform's vtable names them, so a test that
// makes a CWin32Platform needs them to link; test_win32platform overrides every one of them,
// so none of these runs. Delete this file, and its line in tests/CMakeLists.txt, once the
// real ones exist.

#include "win32/win32platform.h"

void CWin32Platform::SetTimer(CWnd& /*wnd*/, UINT_PTR /*id*/, UINT /*elapseMs*/) {}
void CWin32Platform::KillTimer(CWnd& /*wnd*/, UINT_PTR /*id*/) {}
BOOL CWin32Platform::ShellNotifyIcon(DWORD /*message*/, const CNotifyIconData& /*data*/) {
    return FALSE;
}
HICON CWin32Platform::LoadIcon(UINT /*resourceId*/, int /*cx*/, int /*cy*/) { return nullptr; }
void CWin32Platform::DestroyIcon(HICON /*icon*/) {}
BOOL CWin32Platform::PlaySound(const char* /*name*/, DWORD /*flags*/) { return FALSE; }
int CWin32Platform::MessageBox(CWnd* /*owner*/, const CString& /*text*/, const CString& /*caption*/,
                               UINT /*type*/) {
    return IDCANCEL;
}
