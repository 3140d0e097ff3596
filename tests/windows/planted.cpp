// A DLL planted beside the program under a system DLL's name: loaded, it leaves NAME.loaded
// beside itself and refuses to attach, so a program that picks it up instead of the system's
// own shows it on the disk and cannot go on with it.

#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID /*pReserved*/) {
    if (dwReason != DLL_PROCESS_ATTACH) return TRUE;
    char szPath[MAX_PATH + 16];
    const DWORD n = GetModuleFileNameA(hInstance, szPath, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return FALSE;
    lstrcpyA(szPath + n, ".loaded");
    HANDLE hFile = CreateFileA(szPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile != INVALID_HANDLE_VALUE) CloseHandle(hFile);
    return FALSE;
}
