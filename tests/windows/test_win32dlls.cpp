// The platform's system DLLs with DLLs of the same names planted beside the program (ICMP.DLL,
// winmm.dll, ws2_32.dll, each leaving NAME.loaded when loaded and refusing to attach) and the
// program's folder searched first. Run there by tests/windows/wine_dlls.sh: first the control case
// alone, which shows the planted DLLs are what a bare name gets, then the others.

#include <doctest/doctest.h>

#include <cstdio>

#include "base/icmplib.h"
#include "platform/windows/win32platform.h"
#include "framework/windows/win32syslib.h"

namespace {

constexpr const char* kPlanted[] = {"ICMP.DLL", "winmm.dll", "ws2_32.dll"};

CString Directory(const CString& strPath) {
    const auto separator = strPath.find_last_of('\\');
    return separator == CString::npos ? CString() : strPath.substr(0, separator);
}

CString ModulePath(HMODULE hModule) {
    char szPath[MAX_PATH] = "";
    const DWORD n = ::GetModuleFileNameA(hModule, szPath, MAX_PATH);
    return n > 0 && n < MAX_PATH ? CString(szPath, n) : CString();
}

CString SystemDirectory() {
    char szPath[MAX_PATH] = "";
    const UINT n = ::GetSystemDirectoryA(szPath, MAX_PATH);
    return n > 0 && n < MAX_PATH ? CString(szPath, n) : CString();
}

// The marker the planted DLL of that name leaves beside the program, removed if asked.
bool Planted(const char* pszName, bool bRemove = false) {
    const CString strMarker = Directory(ModulePath(nullptr)) + "\\" + pszName + ".loaded";
    const bool bThere = ::GetFileAttributesA(strMarker.c_str()) != INVALID_FILE_ATTRIBUTES;
    if (bThere && bRemove) ::DeleteFileA(strMarker.c_str());
    return bThere;
}

void CheckFromSystem(HMODULE hModule, const char* pszName) {
    CAPTURE(pszName);
    REQUIRE(hModule != nullptr);
    CHECK(_stricmp(Directory(ModulePath(hModule)).c_str(), SystemDirectory().c_str()) == 0);
    CHECK_FALSE(Planted(pszName));
}

// The real services; boxes and the tray stay off the screen.
class CTestPlatform : public CWin32Platform {
public:
    BOOL ShellNotifyIcon(DWORD /*message*/, const CNotifyIconData& /*data*/) override {
        return TRUE;
    }
    int MessageBox(CWnd* /*owner*/, const CString& /*text*/, const CString& /*caption*/,
                   UINT /*type*/) override {
        return IDOK;
    }
};

}  // namespace

TEST_CASE("control: a bare name gets the DLL planted beside the program") {
    for (const char* pszName : kPlanted) {
        CAPTURE(pszName);
        CHECK(::LoadLibraryA(pszName) == nullptr);
        CHECK(Planted(pszName, true));
    }
}

TEST_CASE("the platform's DLLs come from the system directory, never from beside it") {
    Win32RestrictLibrarySearch();
    {
        CTestPlatform platform;
        REQUIRE(platform.SocketInit());
        CHECK(platform.GetHostByName("localhost") == std::uint32_t{0x0100007F});
        CheckFromSystem(::GetModuleHandleA("ws2_32.dll"), "ws2_32.dll");

        CIcmpLibrary icmp;
        REQUIRE(icmp.Bind(platform) == nullptr);
        CheckFromSystem(icmp.m_hIcmpLib, "ICMP.DLL");
        platform.FreeLibrary(icmp.m_hIcmpLib);

        CHECK(platform.PlaySound("SonarSound", SND_ASYNC | SND_RESOURCE));
        CheckFromSystem(::GetModuleHandleA("winmm.dll"), "winmm.dll");
    }
    // A bare name after the start-up's narrowing, as any later load would ask.
    for (const char* pszName : kPlanted) {
        HMODULE hModule = ::LoadLibraryA(pszName);
        CheckFromSystem(hModule, pszName);
        if (hModule != nullptr) ::FreeLibrary(hModule);
    }
}

TEST_CASE("by the system directory's path, as where the search flags are missing") {
    for (const char* pszName : kPlanted) {
        HMODULE hModule = Win32LoadSystemLibraryByPath(pszName);
        CheckFromSystem(hModule, pszName);
        if (hModule != nullptr) ::FreeLibrary(hModule);
    }
    // Only names: a path would lead elsewhere.
    CHECK(Win32LoadSystemLibrary("..\\ICMP.DLL") == nullptr);
    CHECK(Win32LoadSystemLibrary("C:ICMP.DLL") == nullptr);
    CHECK(Win32LoadSystemLibrary("") == nullptr);
    CHECK(Win32LoadSystemLibraryByPath("x/ICMP.DLL") == nullptr);
}
