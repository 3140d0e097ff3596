// One instance per list and user on Windows: a named mutex says who holds the list, and a
// registered message to the holder's hidden window carries a later start's request to show the
// dialog. The names are the session's own (Local\) and carry the user's SID, so two users'
// lists never meet; as anyone in the session may make an object of any name first, the
// mutex's owner and the window's process are checked to be this user's before either is
// trusted.

#include <cstdint>
#include <cstdio>
#include <vector>

#include "platform/windows/win32platform.h"

// After the layer's headers, which settle how windows.h is seen.
#include <aclapi.h>
#include <sddl.h>

namespace {

constexpr char kWindowClass[] = "QuorvaneInstance";
// The holder takes the mutex before its window exists: a start in between waits for it.
constexpr DWORD kHolderListensMs = 5000;
constexpr DWORD kRetryMs = 50;

// The list's full path as the system compares file names, without case; empty when it cannot
// be had.
CString FoldedFullPath(const CString& path) {
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
        const DWORD size = ::GetFullPathNameA(path.c_str(), static_cast<DWORD>(buffer.size()),
                                              buffer.data(), nullptr);
        if (size == 0) return {};
        if (size < buffer.size()) {
            ::CharLowerBuffA(buffer.data(), size);
            return CString(buffer.data(), size);
        }
        buffer.resize(size + 1);
    }
}

// A mutex's name holds no backslash and has a bounded length: the names carry a hash of the
// path (64-bit FNV-1a) instead.
CString PathHash(const CString& folded) {
    std::uint64_t hash = 14695981039346656037ull;
    for (const unsigned char c : folded) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return text;
}

// A piece of a process's token (TokenUser, TokenOwner); empty when it cannot be read.
std::vector<BYTE> TokenPart(HANDLE hProcess, TOKEN_INFORMATION_CLASS part) {
    HANDLE hToken = nullptr;
    if (!::OpenProcessToken(hProcess, TOKEN_QUERY, &hToken)) return {};
    DWORD size = 0;
    ::GetTokenInformation(hToken, part, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    if (size == 0 || !::GetTokenInformation(hToken, part, buffer.data(), size, &size))
        buffer.clear();
    ::CloseHandle(hToken);
    return buffer;
}

PSID UserOf(std::vector<BYTE>& tokenUser) {
    return tokenUser.empty() ? nullptr : reinterpret_cast<TOKEN_USER*>(tokenUser.data())->User.Sid;
}

// The user's SID as text, for the objects' names; empty when it cannot be had.
CString UserName(PSID sid) {
    char* text = nullptr;
    if (sid == nullptr || !::ConvertSidToStringSidA(sid, &text)) return {};
    CString name = text;
    ::LocalFree(text);
    return name;
}

// Whether the kernel object was made by a process of this user: its owner is the user, or
// whom this process makes objects for (the administrators when elevated). A system that keeps
// no owner for it (Wine) cannot tell: then only the holder's window is checked.
bool OwnedByUs(HANDLE hObject, PSID user) {
    PSID objectOwner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetSecurityInfo(hObject, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &objectOwner,
                          nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    bool bOurs = objectOwner == nullptr || ::EqualSid(objectOwner, user);
    if (!bOurs) {
        std::vector<BYTE> owner = TokenPart(::GetCurrentProcess(), TokenOwner);
        bOurs = !owner.empty() &&
                ::EqualSid(objectOwner, reinterpret_cast<TOKEN_OWNER*>(owner.data())->Owner);
    }
    ::LocalFree(descriptor);
    return bOurs;
}

// Whether the window belongs to a process of the given user.
bool WindowOfUser(HWND hWnd, PSID user) {
    DWORD processId = 0;
    ::GetWindowThreadProcessId(hWnd, &processId);
    HANDLE hProcess = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    if (hProcess == nullptr) return false;
    std::vector<BYTE> tokenUser = TokenPart(hProcess, TokenUser);
    ::CloseHandle(hProcess);
    PSID sid = UserOf(tokenUser);
    return sid != nullptr && ::EqualSid(sid, user);
}

LRESULT CALLBACK InstanceWindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* pClaim = reinterpret_cast<CWin32InstanceClaim*>(::GetWindowLongPtrA(hWnd, GWLP_USERDATA));
    if (pClaim != nullptr && message == pClaim->m_uShowRequest && pClaim->m_onShowRequest) {
        // Posted, so it comes through the message loop as a click would, never inside a
        // handler's wait.
        pClaim->m_onShowRequest();
        return 0;
    }
    return ::DefWindowProcA(hWnd, message, wParam, lParam);
}

// Asks the holder's window, the first of this user's with the list's name; false when none
// comes in time.
bool AskHolderToShow(const CString& name, UINT uShowRequest, PSID user) {
    const DWORD dwStart = ::GetTickCount();
    for (;;) {
        // A message-only window: no other program's window search stumbles on it.
        HWND hHolder = nullptr;
        while ((hHolder = ::FindWindowExA(HWND_MESSAGE, hHolder, kWindowClass, name.c_str())) !=
               nullptr) {
            if (WindowOfUser(hHolder, user))
                return ::PostMessageA(hHolder, uShowRequest, 0, 0) != FALSE;
        }
        if (::GetTickCount() - dwStart >= kHolderListensMs) return false;
        ::Sleep(kRetryMs);
    }
}

}  // namespace

CWin32InstanceClaim::~CWin32InstanceClaim() {
    if (m_hWnd != nullptr) ::DestroyWindow(m_hWnd);
    if (m_hMutex != nullptr) ::CloseHandle(m_hMutex);
}

InstanceClaim CWin32Platform::ClaimInstance(const CString& strListPath,
                                            std::function<void()> onShowRequest) {
    const CString folded = FoldedFullPath(strListPath);
    std::vector<BYTE> tokenUser = TokenPart(::GetCurrentProcess(), TokenUser);
    PSID user = UserOf(tokenUser);
    const CString sid = UserName(user);
    if (folded.empty() || sid.empty()) return InstanceClaim::Held;
    const CString name = sid + "." + PathHash(folded);
    const UINT uShowRequest = ::RegisterWindowMessageA(("Quorvane.ShowDialog." + name).c_str());
    // The system drops the mutex with the last handle, when its holder ends however it ends:
    // a killed holder leaves nothing behind. Made with the token's default rights, which let
    // no other user open it.
    HANDLE hMutex = ::CreateMutexA(nullptr, FALSE, ("Local\\Quorvane." + name).c_str());
    // Taken first by someone whose rights keep us out: not ours to wait for, nor to ask.
    if (hMutex == nullptr) return InstanceClaim::Held;
    if (::GetLastError() == ERROR_ALREADY_EXISTS) {
        // Made by another user under our name: nobody of ours holds the list.
        const bool bOurs = OwnedByUs(hMutex, user);
        ::CloseHandle(hMutex);
        if (!bOurs) return InstanceClaim::Held;
        return uShowRequest != 0 && AskHolderToShow(name, uShowRequest, user)
                   ? InstanceClaim::Handed
                   : InstanceClaim::Failed;
    }
    m_instance.m_hMutex = hMutex;
    m_instance.m_uShowRequest = uShowRequest;
    m_instance.m_onShowRequest = std::move(onShowRequest);

    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = &InstanceWindowProc;
    windowClass.hInstance = ::GetModuleHandleA(nullptr);
    windowClass.lpszClassName = kWindowClass;
    ::RegisterClassA(&windowClass);  // fails harmlessly when already registered
    m_instance.m_hWnd = ::CreateWindowExA(0, kWindowClass, name.c_str(), 0, 0, 0, 0, 0,
                                          HWND_MESSAGE, nullptr, windowClass.hInstance, nullptr);
    if (m_instance.m_hWnd != nullptr)
        ::SetWindowLongPtrA(m_instance.m_hWnd, GWLP_USERDATA,
                            reinterpret_cast<LONG_PTR>(&m_instance));
    return InstanceClaim::Held;
}
