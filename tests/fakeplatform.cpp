#include "fakeplatform.h"

#include "framework/wnd.h"
#include "icmpapi.h"

struct CModule {};

namespace {

CModule g_fakeIcmpModule;

HANDLE FakeIcmpCreateFile() { return INVALID_HANDLE_VALUE; }
BOOL FakeIcmpCloseHandle(HANDLE) { return TRUE; }
DWORD FakeIcmpSendEcho(HANDLE, IPAddr, void*, WORD, IP_OPTION_INFORMATION*, void*, DWORD, DWORD) {
    return 0;
}

}  // namespace

UINT CFakePlatform::TimerPeriod(CWnd& wnd, UINT_PTR id) const {
    auto it = m_timers.find({&wnd, id});
    return it == m_timers.end() ? 0 : it->second;
}

bool CFakePlatform::FireTimer(CWnd& wnd, UINT_PTR id) {
    if (!IsTimerRunning(wnd, id)) return false;
    wnd.SendMessage(WM_TIMER, id);
    return true;
}

HMODULE CFakePlatform::LoadLibrary(const char* name) {
    if (!m_bHasIcmpLibrary || CString(name) != kIcmpLibraryName) return nullptr;
    ++m_nLibrariesLoaded;
    return &g_fakeIcmpModule;
}

void* CFakePlatform::GetProcAddress(HMODULE module, const char* name) {
    if (module == nullptr || m_missingEntries.count(name) != 0) return nullptr;
    const CString entry = name;
    if (entry == kIcmpCreateFileName) return reinterpret_cast<void*>(&FakeIcmpCreateFile);
    if (entry == kIcmpCloseHandleName) return reinterpret_cast<void*>(&FakeIcmpCloseHandle);
    if (entry == kIcmpSendEchoName) return reinterpret_cast<void*>(&FakeIcmpSendEcho);
    return nullptr;
}

void CFakePlatform::FreeLibrary(HMODULE module) {
    if (module != nullptr) ++m_nLibrariesFreed;
}

std::optional<std::uint32_t> CFakePlatform::GetHostByName(const CString& name) {
    auto it = m_hosts.find(name);
    if (it == m_hosts.end()) return {};
    return it->second;
}

void CFakePlatform::SetTimer(CWnd& wnd, UINT_PTR id, UINT elapseMs) {
    m_timers[{&wnd, id}] = elapseMs;
}

void CFakePlatform::KillTimer(CWnd& wnd, UINT_PTR id) { m_timers.erase({&wnd, id}); }

BOOL CFakePlatform::ShellNotifyIcon(DWORD message, const NOTIFYICONDATA& data) {
    m_trayCalls.push_back({message, data.uID, data.uFlags, data.uCallbackMessage,
                           data.hIcon != nullptr ? data.hIcon->nResourceId : 0, data.szTip});
    return TRUE;
}

HICON CFakePlatform::LoadIcon(UINT resourceId, int cx, int cy) {
    ++m_nLiveIcons;
    return new CIconRes{resourceId, cx, cy};
}

void CFakePlatform::DestroyIcon(HICON icon) {
    if (icon == nullptr) return;
    --m_nLiveIcons;
    delete icon;
}

BOOL CFakePlatform::PlaySound(const char* name, DWORD /*flags*/) {
    m_sounds.emplace_back(name);
    return TRUE;
}

int CFakePlatform::MessageBox(CWnd* owner, const CString& text, const CString& caption, UINT type) {
    m_boxes.push_back({owner, text, caption, type});
    if (m_onBox) m_onBox(m_boxes.back());
    return IDOK;
}
