#include "framework/windows/win32syslib.h"

#include <cstring>

namespace {

using PFN_SetDefaultDllDirectories = BOOL(WINAPI*)(DWORD dwDirectoryFlags);

// The LOAD_LIBRARY_SEARCH flags came with SetDefaultDllDirectories: where it is missing they
// make LoadLibraryEx fail.
bool HasSearchFlags() {
    PFN_SetDefaultDllDirectories pfn = nullptr;
    return Win32BindEntry(::GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories", pfn);
}

// No directory, no drive: a name to look for in the system directory and nothing else.
bool IsBareName(const char* pszName) {
    return pszName != nullptr && *pszName != '\0' && std::strpbrk(pszName, "\\/:") == nullptr;
}

}  // namespace

void Win32RestrictLibrarySearch() {
    PFN_SetDefaultDllDirectories pfn = nullptr;
    if (Win32BindEntry(::GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories", pfn) &&
        pfn(LOAD_LIBRARY_SEARCH_SYSTEM32))
        return;
    ::SetDllDirectoryA("");
}

HMODULE Win32LoadSystemLibrary(const char* pszName) {
    if (!IsBareName(pszName)) return nullptr;
    if (!HasSearchFlags()) return Win32LoadSystemLibraryByPath(pszName);
    return ::LoadLibraryExA(pszName, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
}

HMODULE Win32LoadSystemLibraryByPath(const char* pszName) {
    if (!IsBareName(pszName)) return nullptr;
    char szPath[MAX_PATH];
    const UINT nDir = ::GetSystemDirectoryA(szPath, MAX_PATH);
    if (nDir == 0 || nDir + 1 + std::strlen(pszName) >= MAX_PATH) return nullptr;
    szPath[nDir] = '\\';
    std::strcpy(szPath + nDir + 1, pszName);
    // The DLL's own imports are then looked for in its directory first, not beside the
    // program.
    return ::LoadLibraryExA(szPath, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}
