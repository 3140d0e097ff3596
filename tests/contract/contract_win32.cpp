// The contract tests' driver on the Win32 backend: input goes to the native controls as the
// system would deliver it, through the program's own message dispatch.

#define DOCTEST_CONFIG_IMPLEMENT
#include <doctest/doctest.h>

#include <vector>

#include "contractdriver.h"
#include "framework/windows/win32backend.h"
#include "framework/windows/win32loop.h"
#include "framework/wnd.h"

namespace {

std::vector<std::function<void()>> g_later;

HWND ItemOf(CWnd& dlg, int id) { return ::GetDlgItem(Win32HwndOf(&dlg), id); }

// Where the keyboard's input goes: the focused control, or the dialog itself.
HWND KeyTarget(CWnd& dlg) {
    HWND hDlg = Win32HwndOf(&dlg);
    HWND hFocus = ::GetFocus();
    return hFocus != nullptr && ::IsChild(hDlg, hFocus) ? hFocus : hDlg;
}

void CALLBACK RunLater(HWND, UINT, UINT_PTR idEvent, DWORD) {
    ::KillTimer(nullptr, idEvent);
    std::vector<std::function<void()>> later;
    later.swap(g_later);
    for (auto& fn : later) fn();
}

}  // namespace

void PumpEvents() {
    MSG msg;
    while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            ::PostQuitMessage(static_cast<int>(msg.wParam));
            return;
        }
        Win32Dispatch(msg);
    }
}

void RunInLoop(std::function<void()> fn) {
    g_later.push_back(std::move(fn));
    ::SetTimer(nullptr, 0, 1, &RunLater);
}

void UserKey(CWnd& dlg, CKey key) {
    const WPARAM vk = key == CKey::Enter    ? VK_RETURN
                      : key == CKey::Escape ? VK_ESCAPE
                      : key == CKey::Space  ? VK_SPACE
                                            : VK_TAB;
    HWND hTarget = KeyTarget(dlg);
    ::PostMessageA(hTarget, WM_KEYDOWN, vk, 1);
    ::PostMessageA(hTarget, WM_KEYUP, vk, static_cast<LPARAM>(0xC0000001u));
    PumpEvents();
}

const bool kMnemonicsDelivered = true;

void UserMnemonic(CWnd& dlg, char letter) {
    // Alt held: the context bit.
    ::PostMessageA(KeyTarget(dlg), WM_SYSCHAR, static_cast<WPARAM>(letter), 1 | (1 << 29));
    PumpEvents();
}

void UserTypes(CWnd& dlg, int id, const CString& text) {
    if (CWnd* item = dlg.GetDlgItem(id)) item->SetFocus();
    for (char c : text) {
        ::PostMessageA(ItemOf(dlg, id), WM_CHAR, static_cast<unsigned char>(c), 1);
        PumpEvents();
    }
}

void UserClicks(CWnd& dlg, int id) {
    ::SendMessageA(ItemOf(dlg, id), BM_CLICK, 0, 0);
    PumpEvents();
}

void UserCloses(CWnd& dlg) {
    ::PostMessageA(Win32HwndOf(&dlg), WM_SYSCOMMAND, SC_CLOSE, 0);
    PumpEvents();
}

void OtherProgramCloses(CWnd& dlg) {
    ::PostMessageA(Win32HwndOf(&dlg), WM_CLOSE, 0, 0);
    PumpEvents();
}

std::vector<CString> NativeListEntries(CWnd& dlg, int id) {
    HWND hList = ItemOf(dlg, id);
    std::vector<CString> entries;
    const int count = static_cast<int>(::SendMessageA(hList, LB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        CString text(static_cast<std::size_t>(::SendMessageA(hList, LB_GETTEXTLEN, i, 0)) + 1,
                     '\0');
        const auto n = ::SendMessageA(hList, LB_GETTEXT, i, reinterpret_cast<LPARAM>(&text[0]));
        text.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
        entries.push_back(text);
    }
    return entries;
}

int NativeListSelection(CWnd& dlg, int id) {
    return static_cast<int>(::SendMessageA(ItemOf(dlg, id), LB_GETCURSEL, 0, 0));
}

void UserSelects(CWnd& dlg, int id, int nIndex) {
    ::SendMessageA(ItemOf(dlg, id), LB_SETCURSEL, static_cast<WPARAM>(nIndex), 0);
    PumpEvents();
}

CString NativeText(CWnd& dlg, int id) { return Win32WindowText(ItemOf(dlg, id)); }

bool NativeTextSelectedWhole(CWnd& dlg, int id) {
    DWORD dwStart = 0;
    DWORD dwEnd = 0;
    HWND hItem = ItemOf(dlg, id);
    ::SendMessageA(hItem, EM_GETSEL, reinterpret_cast<WPARAM>(&dwStart),
                   reinterpret_cast<LPARAM>(&dwEnd));
    return dwStart == 0 && dwEnd == static_cast<DWORD>(::GetWindowTextLengthA(hItem));
}

int NativeFocus(CWnd& dlg) {
    HWND hFocus = ::GetFocus();
    return hFocus != nullptr && ::IsChild(Win32HwndOf(&dlg), hFocus) ? ::GetDlgCtrlID(hFocus) : 0;
}

int main(int argc, char** argv) {
    doctest::Context context(argc, argv);
    return context.run();
}
