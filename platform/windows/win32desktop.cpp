// The system services on Windows that belong to the program's windows: timers, the
// notification icon, icons, the sound and message boxes.

#include <cstring>

#include "framework/windows/win32backend.h"
#include "framework/windows/win32syslib.h"
#include "framework/wnd.h"
#include "platform/windows/win32path.h"
#include "platform/windows/win32platform.h"

namespace {

constexpr UINT_PTR kTraySubclassId = 1;

constexpr UINT kDefaultDpi = 96;
constexpr int kSmallIconSize = 16;  // at 96 dpi, as the program asks for it
constexpr int kLargeIconSize = 32;

// The per-monitor scale's functions: Windows 10 1607 (user32) and 8.1 (shcore) brought them,
// so they are looked up once, and each may be missing.
class CDpiFunctions {
public:
    CDpiFunctions() {
        HMODULE hUser = ::GetModuleHandleA("user32.dll");
        Win32BindEntry(hUser, "GetDpiForWindow", m_pfnGetDpiForWindow);
        Win32BindEntry(hUser, "GetSystemMetricsForDpi", m_pfnGetSystemMetricsForDpi);
        // Loaded for the rest of the process: icons are loaded for as long as it runs.
        Win32BindEntry(Win32LoadSystemLibrary("shcore.dll"), "GetDpiForMonitor",
                       m_pfnGetDpiForMonitor);
    }

    // The scale the system gives programs that know only one: the screen's.
    static UINT SystemDpi() {
        HDC hdc = ::GetDC(nullptr);
        const int nDpi = hdc != nullptr ? ::GetDeviceCaps(hdc, LOGPIXELSX) : 0;
        if (hdc != nullptr) ::ReleaseDC(nullptr, hdc);
        return nDpi > 0 ? static_cast<UINT>(nDpi) : kDefaultDpi;
    }
    UINT WindowDpi(HWND hWnd) const {
        const UINT uDpi =
            hWnd != nullptr && m_pfnGetDpiForWindow != nullptr ? m_pfnGetDpiForWindow(hWnd) : 0;
        return uDpi != 0 ? uDpi : SystemDpi();
    }
    UINT MonitorDpi(HMONITOR hMonitor) const {
        UINT uDpiX = 0;
        UINT uDpiY = 0;
        // MDT_EFFECTIVE_DPI: the scale the user chose for that monitor.
        if (hMonitor != nullptr && m_pfnGetDpiForMonitor != nullptr &&
            SUCCEEDED(m_pfnGetDpiForMonitor(hMonitor, 0, &uDpiX, &uDpiY)) && uDpiX != 0)
            return uDpiX;
        return SystemDpi();
    }
    // Where the notification area is: the taskbar's monitor, the primary one without a taskbar.
    UINT TaskbarDpi() const {
        return MonitorDpi(
            ::MonitorFromWindow(::FindWindowA("Shell_TrayWnd", nullptr), MONITOR_DEFAULTTOPRIMARY));
    }
    // An icon's size at 96 dpi (16 the small icon, 32 the large one) at uDpi, as the system
    // sizes its own icons there; exactly that size at 96 dpi.
    int IconSize(int cx, UINT uDpi) const {
        if (uDpi == kDefaultDpi || uDpi == 0) return cx;
        if (m_pfnGetSystemMetricsForDpi != nullptr &&
            (cx == kSmallIconSize || cx == kLargeIconSize)) {
            const int nSize =
                m_pfnGetSystemMetricsForDpi(cx == kSmallIconSize ? SM_CXSMICON : SM_CXICON, uDpi);
            if (nSize > 0) return nSize;
        }
        return ::MulDiv(cx, static_cast<int>(uDpi), static_cast<int>(kDefaultDpi));
    }

private:
    UINT(WINAPI* m_pfnGetDpiForWindow)(HWND) = nullptr;
    int(WINAPI* m_pfnGetSystemMetricsForDpi)(int, UINT) = nullptr;
    HRESULT(WINAPI* m_pfnGetDpiForMonitor)(HMONITOR, int, UINT*, UINT*) = nullptr;
};

const CDpiFunctions& DpiFunctions() {
    static const CDpiFunctions functions;
    return functions;
}

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
    // Which picture the shell shows, to load it again when the scale changes.
    if ((data.uFlags & NIF_ICON) != 0 && data.hIcon != nullptr) {
        const auto it = m_iconResources.find(data.hIcon);
        m_uTrayIconResource = it != m_iconResources.end() ? it->second : 0;
    }
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
    } else if (message == WM_DPICHANGED && self->m_trayRecord.hWnd == hWnd) {
        self->OnDpiChanged(hWnd, LOWORD(wParam));
    }
    return ::DefSubclassProc(hWnd, message, wParam, lParam);
}

void CWin32Platform::OnDpiChanged(HWND hWnd, UINT uDpi) {
    const CDpiFunctions& dpi = DpiFunctions();
    if (m_uTrayIconResource != 0 && m_trayRecord.hIcon != nullptr) {
        // The window has just been told its monitor's new scale: where it shares the
        // taskbar's monitor, that is the notification area's too (the system may not say so
        // yet).
        HMONITOR hTaskbarMonitor =
            ::MonitorFromWindow(::FindWindowA("Shell_TrayWnd", nullptr), MONITOR_DEFAULTTOPRIMARY);
        const UINT uTrayDpi = ::MonitorFromWindow(hWnd, MONITOR_DEFAULTTOPRIMARY) == hTaskbarMonitor
                                  ? uDpi
                                  : dpi.TaskbarDpi();
        const int nSize = dpi.IconSize(kSmallIconSize, uTrayDpi);
        HICON hIcon = LoadIconAtSize(m_uTrayIconResource, nSize, nSize);
        if (hIcon != nullptr) {
            NOTIFYICONDATAA record = m_trayRecord;
            record.uFlags = NIF_ICON;
            record.hIcon = hIcon;
            ::Shell_NotifyIconA(NIM_MODIFY, &record);
            ::DestroyIcon(m_trayRecord.hIcon);
            m_trayRecord.hIcon = hIcon;
        }
    }
    // The window's own icons, when they are pictures of ours: the big one at the large-icon
    // size of the new scale, the small one at the small-icon size.
    const WPARAM kinds[2] = {ICON_BIG, ICON_SMALL};
    for (int i = 0; i < 2; ++i) {
        HICON hCurrent = reinterpret_cast<HICON>(::SendMessageA(hWnd, WM_GETICON, kinds[i], 0));
        const auto it =
            hCurrent != nullptr ? m_iconResources.find(hCurrent) : m_iconResources.end();
        if (it == m_iconResources.end()) continue;
        const int nSize = dpi.IconSize(i == 0 ? kLargeIconSize : kSmallIconSize, uDpi);
        HICON hIcon = LoadIconAtSize(it->second, nSize, nSize);
        if (hIcon == nullptr) continue;
        m_iconResources[hIcon] = it->second;
        ::SendMessageA(hWnd, WM_SETICON, kinds[i], reinterpret_cast<LPARAM>(hIcon));
        // The caller's icon stays the caller's to destroy; ours go once replaced.
        if (m_hWindowIcons[i] != nullptr) DestroyIcon(m_hWindowIcons[i]);
        m_hWindowIcons[i] = hIcon;
    }
}

HICON CWin32Platform::LoadIconAtSize(UINT resourceId, int cx, int cy) {
    // The picture nearest that size in the resource, scaled by the system where none has it.
    return static_cast<HICON>(::LoadImageA(Win32Instance(), MAKEINTRESOURCEA(resourceId),
                                           IMAGE_ICON, cx, cy, LR_DEFAULTCOLOR));
}

HICON CWin32Platform::LoadIcon(UINT resourceId, int cx, int cy) {
    const CDpiFunctions& dpi = DpiFunctions();
    const UINT uDpi = cx == kSmallIconSize ? dpi.TaskbarDpi() : dpi.WindowDpi(m_trayRecord.hWnd);
    HICON hIcon = LoadIconAtSize(resourceId, dpi.IconSize(cx, uDpi), dpi.IconSize(cy, uDpi));
    if (hIcon != nullptr) m_iconResources[hIcon] = resourceId;
    return hIcon;
}

void CWin32Platform::DestroyIcon(HICON icon) {
    if (icon == nullptr) return;
    m_iconResources.erase(icon);
    ::DestroyIcon(icon);
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
