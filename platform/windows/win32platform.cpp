// The system services on Windows that need no window: the program's name, library loading,
// Winsock. The window-bound ones are in win32desktop.cpp, the files in win32files.cpp; the
// system DLLs come from the system directory only (framework/windows/win32syslib.cpp).

#include "platform/windows/win32platform.h"

#include <cstring>
#include <vector>

#include "base/inet.h"
#include "framework/windows/win32syslib.h"
#include "platform/windows/win32path.h"

CWin32Platform::CWin32Platform() = default;

CWin32Platform::~CWin32Platform() {
    if (m_bSocketsStarted) m_pfnWSACleanup();
    if (m_hWinsock != nullptr) ::FreeLibrary(m_hWinsock);
    if (m_hIdn != nullptr) ::FreeLibrary(m_hIdn);
    for (HICON hIcon : m_hWindowIcons)
        if (hIcon != nullptr) ::DestroyIcon(hIcon);
    // The clip is stopped, but the sound library stays loaded: stopping only asks its playing
    // thread to end, and unloading the code that thread still runs crashed the process now and
    // then (a page fault on execute access, seen under load). The system takes it back at exit.
    if (m_hSound != nullptr) m_pfnPlaySound(nullptr, nullptr, 0);
}

CString CWin32Platform::GetAppName() const {
    // Grows until the path fits: a truncated path would cut the name, not the directory.
    std::vector<wchar_t> buffer(MAX_PATH);
    DWORD size = 0;
    for (;;) {
        size = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (size == 0) return {};
        if (size < buffer.size()) break;
        if (buffer.size() >= 32768) return {};  // longer than any path the system takes
        buffer.resize(buffer.size() * 2);
    }
    CString name = WideToUtf8(std::wstring(buffer.data(), size));
    const auto separator = name.find_last_of("\\/");
    if (separator != CString::npos) name.erase(0, separator + 1);
    const auto dot = name.rfind('.');
    if (dot != CString::npos && dot > 0) name.erase(dot);
    return name;
}

HMODULE CWin32Platform::LoadLibrary(const char* name) {
    // The program loads only the system's own libraries (ICMP.DLL).
    return Win32LoadSystemLibrary(name);
}

void* CWin32Platform::GetProcAddress(HMODULE module, const char* name) {
    if (module == nullptr || name == nullptr) return nullptr;
    return reinterpret_cast<void*>(::GetProcAddress(module, name));
}

void CWin32Platform::FreeLibrary(HMODULE module) {
    // An echo request an end request left under way runs none of the library's code: the
    // system completes it into the buffer and signals the event.
    if (module != nullptr) ::FreeLibrary(module);
}

DWORD CWin32Platform::GetLastError() const { return ::GetLastError(); }

bool CWin32Platform::BindWinsock() {
    if (m_hWinsock != nullptr) return true;
    HMODULE hModule = Win32LoadSystemLibrary("ws2_32.dll");
    if (!Win32BindEntry(hModule, "WSAStartup", m_pfnWSAStartup) ||
        !Win32BindEntry(hModule, "WSACleanup", m_pfnWSACleanup) ||
        !Win32BindEntry(hModule, "gethostbyname", m_pfnGetHostByName)) {
        m_pfnWSAStartup = nullptr;
        m_pfnWSACleanup = nullptr;
        m_pfnGetHostByName = nullptr;
        if (hModule != nullptr) ::FreeLibrary(hModule);
        return false;
    }
    m_hWinsock = hModule;
    return true;
}

bool CWin32Platform::BindSound() {
    if (m_hSound != nullptr) return true;
    HMODULE hModule = Win32LoadSystemLibrary("winmm.dll");
    if (!Win32BindEntry(hModule, "PlaySoundA", m_pfnPlaySound)) {
        if (hModule != nullptr) ::FreeLibrary(hModule);
        return false;
    }
    m_hSound = hModule;
    return true;
}

BOOL CWin32Platform::SocketInit() {
    // Each successful start-up needs its own cleanup: started once, kept till the end.
    if (m_bSocketsStarted) return TRUE;
    if (!BindWinsock()) return FALSE;
    WSADATA data{};
    if (m_pfnWSAStartup(MAKEWORD(1, 1), &data) != 0) return FALSE;
    // A layer that offers only something else has still counted the start-up.
    if (data.wVersion != MAKEWORD(1, 1)) {
        m_pfnWSACleanup();
        return FALSE;
    }
    m_bSocketsStarted = true;
    return TRUE;
}

bool CWin32Platform::BindIdn() {
    if (m_hIdn != nullptr) return true;
    // Windows 7 has the conversion in its own DLL; later systems keep the DLL, forwarding.
    HMODULE hModule = Win32LoadSystemLibrary("normaliz.dll");
    if (!Win32BindEntry(hModule, "IdnToAscii", m_pfnIdnToAscii)) {
        if (hModule != nullptr) ::FreeLibrary(hModule);
        return false;
    }
    m_hIdn = hModule;
    return true;
}

std::optional<CString> CWin32Platform::LookupForm(const CString& name) {
    return LookupName(name, [this](const CString& text) -> CString {
        // The resolver takes the bytes as they are, so other text is converted from the
        // program's code page here. Text the code page or IDNA refuses is no name.
        const int nWide = ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.data(),
                                                static_cast<int>(text.size()), nullptr, 0);
        if (nWide <= 0 || !BindIdn()) return {};
        std::wstring wide(static_cast<std::size_t>(nWide), L'\0');
        ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.data(),
                              static_cast<int>(text.size()), &wide[0], nWide);
        wchar_t ace[256];
        const int nAce = m_pfnIdnToAscii(0, wide.c_str(), nWide, ace, 255);
        CString result;
        for (int i = 0; i < nAce; ++i) {
            // Not narrowed: a character beyond ASCII must not pass for another.
            if (ace[i] >= 0x80) return {};
            result += static_cast<char>(ace[i]);
        }
        return result;
    });
}

std::optional<std::uint32_t> CWin32Platform::GetHostByName(const CString& name) {
    const std::optional<CString> strLookup = LookupForm(name);
    if (!strLookup || m_pfnGetHostByName == nullptr) return {};
    const hostent* host = m_pfnGetHostByName(strLookup->c_str());
    if (host == nullptr || host->h_addrtype != AF_INET || host->h_length != 4 ||
        host->h_addr_list == nullptr || host->h_addr_list[0] == nullptr)
        return {};
    // The bytes as they are: already in network order.
    std::uint32_t address = 0;
    std::memcpy(&address, host->h_addr_list[0], sizeof(address));
    return address;
}
