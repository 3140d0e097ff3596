// One instance per list on Windows: a named mutex says who holds the list, and a registered
// message to the holder's hidden window carries a later start's request to show the dialog.

#include <cstdint>
#include <cstdio>
#include <vector>

#include "platform/windows/win32platform.h"

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

bool AskHolderToShow(const CString& hash, UINT uShowRequest) {
    const DWORD dwStart = ::GetTickCount();
    for (;;) {
        // A message-only window: no other program's window search stumbles on it.
        if (HWND hHolder = ::FindWindowExA(HWND_MESSAGE, nullptr, kWindowClass, hash.c_str()))
            return ::PostMessageA(hHolder, uShowRequest, 0, 0) != FALSE;
        if (::GetTickCount() - dwStart >= kHolderListensMs) return false;
        ::Sleep(kRetryMs);
    }
}

}  // namespace

CWin32InstanceClaim::~CWin32InstanceClaim() {
    if (m_hWnd != nullptr) ::DestroyWindow(m_hWnd);
    if (m_hMutex != nullptr) ::CloseHandle(m_hMutex);
}

BOOL CWin32Platform::ClaimInstance(const CString& strListPath,
                                   std::function<void()> onShowRequest) {
    const CString folded = FoldedFullPath(strListPath);
    if (folded.empty()) return TRUE;
    const CString hash = PathHash(folded);
    const UINT uShowRequest = ::RegisterWindowMessageA(("Quorvane.ShowDialog." + hash).c_str());
    // The system drops the mutex with the last handle, when its holder ends however it ends:
    // a killed holder leaves nothing behind.
    HANDLE hMutex = ::CreateMutexA(nullptr, FALSE, ("Local\\Quorvane." + hash).c_str());
    if (hMutex == nullptr) return TRUE;
    if (::GetLastError() == ERROR_ALREADY_EXISTS) {
        ::CloseHandle(hMutex);
        if (uShowRequest != 0) AskHolderToShow(hash, uShowRequest);
        return FALSE;
    }
    m_instance.m_hMutex = hMutex;
    m_instance.m_uShowRequest = uShowRequest;
    m_instance.m_onShowRequest = std::move(onShowRequest);

    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = &InstanceWindowProc;
    windowClass.hInstance = ::GetModuleHandleA(nullptr);
    windowClass.lpszClassName = kWindowClass;
    ::RegisterClassA(&windowClass);  // fails harmlessly when already registered
    m_instance.m_hWnd = ::CreateWindowExA(0, kWindowClass, hash.c_str(), 0, 0, 0, 0, 0,
                                          HWND_MESSAGE, nullptr, windowClass.hInstance, nullptr);
    if (m_instance.m_hWnd != nullptr)
        ::SetWindowLongPtrA(m_instance.m_hWnd, GWLP_USERDATA,
                            reinterpret_cast<LONG_PTR>(&m_instance));
    return TRUE;
}
