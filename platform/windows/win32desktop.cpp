// The system services on Windows that belong to the program's windows: timers, the
// notification icon, icons, the sound and message boxes.

#include <cstring>

#include "framework/windows/win32backend.h"
#include "framework/wnd.h"
#include "platform/windows/win32path.h"
#include "platform/windows/win32platform.h"

namespace {

constexpr UINT_PTR kTraySubclassId = 1;

}  // namespace

void CWin32Platform::SetTimer(CWnd& wnd, UINT_PTR id, UINT elapseMs) {
    // The system keeps the period within its own bounds (10 ms to about 24 days).
    if (HWND hWnd = Win32HwndOf(&wnd)) ::SetTimer(hWnd, id, elapseMs, nullptr);
}

void CWin32Platform::KillTimer(CWnd& wnd, UINT_PTR id) {
    if (HWND hWnd = Win32HwndOf(&wnd)) ::KillTimer(hWnd, id);
}

BOOL CWin32Platform::ShellNotifyIcon(DWORD message, const CNotifyIconData& data) {
    NOTIFYICONDATAA record{};
    // The shell's first form of the record, the one every version takes.
    record.cbSize = NOTIFYICONDATAA_V1_SIZE;
    record.hWnd = Win32HwndOf(data.hWnd);
    record.uID = data.uID;
    record.uFlags = data.uFlags;
    record.uCallbackMessage = data.uCallbackMessage;
    record.hIcon = data.hIcon;
    static_assert(sizeof record.szTip >= sizeof data.szTip);
    std::memcpy(record.szTip, data.szTip, sizeof data.szTip);
    record.szTip[sizeof data.szTip - 1] = '\0';
    const BOOL bResult = ::Shell_NotifyIconA(message, &record);
    KeepTrayRecord(message, record);
    return bResult;
}

void CWin32Platform::KeepTrayRecord(DWORD message, const NOTIFYICONDATAA& record) {
    if (message == NIM_DELETE) {
        if (m_trayRecord.hWnd != nullptr)
            ::RemoveWindowSubclass(m_trayRecord.hWnd, &TrayWindowProc, kTraySubclassId);
        if (m_trayRecord.hIcon != nullptr) ::DestroyIcon(m_trayRecord.hIcon);
        m_trayRecord = NOTIFYICONDATAA{};
        return;
    }
    if (record.hWnd == nullptr) return;
    if (message == NIM_ADD) {
        // Kept even when the add failed: a shell that starts later still gets the icon.
        if (m_uTaskbarCreated == 0) m_uTaskbarCreated = ::RegisterWindowMessageA("TaskbarCreated");
        ::SetWindowSubclass(record.hWnd, &TrayWindowProc, kTraySubclassId,
                            reinterpret_cast<DWORD_PTR>(this));
    } else if (message != NIM_MODIFY || m_trayRecord.hWnd == nullptr) {
        return;
    }
    // The caller destroys its icon once the shell has it: keep a copy of our own.
    HICON hPrevious = m_trayRecord.hIcon;
    HICON hCopy = (record.uFlags & NIF_ICON) != 0 && record.hIcon != nullptr
                      ? ::CopyIcon(record.hIcon)
                      : nullptr;
    m_trayRecord = record;
    m_trayRecord.hIcon = hCopy != nullptr ? hCopy : hPrevious;
    if (hCopy != nullptr && hPrevious != nullptr) ::DestroyIcon(hPrevious);
}

LRESULT CALLBACK CWin32Platform::TrayWindowProc(HWND hWnd, UINT message, WPARAM wParam,
                                                LPARAM lParam, UINT_PTR /*uIdSubclass*/,
                                                DWORD_PTR dwRefData) {
    auto* self = reinterpret_cast<CWin32Platform*>(dwRefData);
    if (message == self->m_uTaskbarCreated && self->m_trayRecord.hWnd == hWnd) {
        NOTIFYICONDATAA record = self->m_trayRecord;
        ::Shell_NotifyIconA(NIM_ADD, &record);
    }
    return ::DefSubclassProc(hWnd, message, wParam, lParam);
}

HICON CWin32Platform::LoadIcon(UINT resourceId, int cx, int cy) {
    return static_cast<HICON>(::LoadImageA(Win32Instance(), MAKEINTRESOURCEA(resourceId),
                                           IMAGE_ICON, cx, cy, LR_DEFAULTCOLOR));
}

void CWin32Platform::DestroyIcon(HICON icon) {
    if (icon != nullptr) ::DestroyIcon(icon);
}

BOOL CWin32Platform::PlaySound(const char* name, DWORD flags) {
    if (!BindSound()) return FALSE;
    return m_pfnPlaySound(name, Win32Instance(), flags);
}

int CWin32Platform::MessageBox(CWnd* owner, const CString& text, const CString& caption,
                               UINT type) {
    // The program's text is UTF-8 and may name a path in any script: the ANSI box would show
    // what the code page lacks as question marks.
    return ::MessageBoxW(Win32HwndOf(owner), Utf8ToWide(text).c_str(), Utf8ToWide(caption).c_str(),
                         type);
}
