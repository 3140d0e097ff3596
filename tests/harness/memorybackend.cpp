#include "harness/memorybackend.h"

#include <map>

#include "framework/controlstate.h"
#include "framework/dialog.h"
#include "framework/winapp.h"
#include "framework/wnd.h"
#include "res/resources.h"

namespace {

std::function<void(CWnd&)> g_modalHook;
bool g_bQuitPosted = false;
int g_nQuitCode = 0;
bool g_bEndRequested = false;
std::function<void()> g_waitHook;

using CItemState = CControlState;

class CMemoryDialog : public CMemoryWnd {
public:
    CMemoryDialog(CWnd& owner, const CDialogTemplate& tmpl, bool bModal)
        : m_owner(owner), m_bModal(bModal), m_title(tmpl.pszCaption) {
        for (const CDialogItem& item : tmpl.items) {
            if (item.nID == -1) continue;
            CItemState& state = m_items[item.nID];
            state.kind = item.kind;
            state.text = item.pszText != nullptr ? item.pszText : "";
        }
    }

    void Show(int nCmdShow) override {
        m_bVisible = nCmdShow != SW_HIDE;
        if (nCmdShow == SW_RESTORE) m_bMinimized = false;
        if (!m_bVisible) m_bMinimized = false;
    }
    bool IsVisible() const override { return m_bVisible && !m_bDestroyed; }
    bool IsMinimized() const override { return IsVisible() && m_bMinimized; }
    void SetForeground() override {
        if (IsVisible()) ++m_nForeground;
    }
    void SetIcon(HICON icon, bool bBig) override {
        // The logic tests' icons are the fake platform's records.
        if (bBig && icon != nullptr)
            m_nIconId = reinterpret_cast<const CIconRes*>(icon)->nResourceId;
    }
    void SetTitle(const CString& text) override { m_title = text; }
    CString GetTitle() const override { return m_title; }
    void Destroy() override {
        m_bDestroyed = true;
        m_bVisible = false;
        m_bEnded = true;
    }
    int RunModal() override {
        m_bVisible = true;
        m_bEnded = false;
        m_nResult = IDCANCEL;
        if (g_modalHook) g_modalHook(m_owner);
        m_bVisible = false;
        return m_nResult;
    }
    void EndModal(int nResult) override {
        if (m_bEnded) return;
        m_nResult = nResult;
        m_bEnded = true;
    }

    bool HasItem(int id) const override { return m_items.count(id) != 0; }
    CString GetItemText(int id) const override {
        const auto it = m_items.find(id);
        return it == m_items.end() ? CString() : it->second.text;
    }
    void SetItemText(int id, const CString& text) override {
        const auto it = m_items.find(id);
        if (it == m_items.end()) return;
        CItemState& state = it->second;
        // An edit limited to n characters takes no more, as the native one does.
        state.text = state.kind == CtrlKind::Edit && state.nLimit >= 0
                         ? AfxLeftChars(text, state.nLimit)
                         : text;
        if (m_nSelectedWhole == id) m_nSelectedWhole = 0;
    }
    int GetItemCheck(int id) const override {
        const auto it = m_items.find(id);
        return it == m_items.end() ? 0 : it->second.nCheck;
    }
    void SetItemCheck(int id, int nCheck) override {
        const auto it = m_items.find(id);
        if (it != m_items.end()) it->second.nCheck = nCheck != 0 ? 1 : 0;
    }
    void LimitItemText(int id, int nChars) override {
        const auto it = m_items.find(id);
        if (it != m_items.end()) it->second.nLimit = nChars;
    }
    void FocusItem(int id) override {
        const auto it = m_items.find(id);
        if (it == m_items.end()) return;
        m_nFocus = id;
        // The dialog manager selects all of an edit's text when it gets the focus this way.
        m_nSelectedWhole = it->second.kind == CtrlKind::Edit ? id : 0;
    }
    int GetFocusItem() const override { return m_nFocus; }
    bool IsItemTextSelectedWhole(int id) const override { return m_nSelectedWhole == id; }

    void ListInsert(int id, int nIndex, const CString& text) override {
        m_items[id].ListInsert(nIndex, text);
    }
    void ListDelete(int id, int nIndex) override { m_items[id].ListDelete(nIndex); }
    void ListReset(int id) override {
        m_items[id].entries.clear();
        m_items[id].nCurSel = -1;
    }
    int ListGetCurSel(int id) const override {
        const auto it = m_items.find(id);
        return it == m_items.end() ? -1 : it->second.nCurSel;
    }
    void ListSetCurSel(int id, int nIndex) override {
        const auto it = m_items.find(id);
        if (it == m_items.end()) return;
        const int count = static_cast<int>(it->second.entries.size());
        it->second.nCurSel = nIndex >= 0 && nIndex < count ? nIndex : -1;
    }

    std::vector<CString> ListEntries(int id) const override {
        const auto it = m_items.find(id);
        return it == m_items.end() ? std::vector<CString>() : it->second.entries;
    }
    void Minimize() override {
        if (IsVisible()) m_bMinimized = true;
    }
    int ForegroundCount() const override { return m_nForeground; }
    UINT IconId() const override { return m_nIconId; }
    bool IsModal() const override { return m_bModal; }

private:
    CWnd& m_owner;
    bool m_bModal;
    CString m_title;
    std::map<int, CItemState> m_items;
    bool m_bVisible = false;
    bool m_bMinimized = false;
    bool m_bDestroyed = false;
    bool m_bEnded = false;
    int m_nResult = IDCANCEL;
    int m_nFocus = 0;
    int m_nSelectedWhole = 0;
    int m_nForeground = 0;
    UINT m_nIconId = 0;
};

}  // namespace

std::unique_ptr<CWndImpl> CreateDialogImpl(CWnd& owner, const CDialogTemplate& tmpl,
                                           CWnd* /*pParent*/, bool bModal) {
    return std::make_unique<CMemoryDialog>(owner, tmpl, bModal);
}

void AfxPostQuitMessage(int nExitCode) {
    g_bQuitPosted = true;
    g_nQuitCode = nExitCode;
}

void AfxBeginEndWatch() {}
void AfxEndEndWatch() {}
bool AfxEndRequested() { return g_bEndRequested; }

// An event is a flag: whatever signals it does so before the wait, as nothing runs during one.
HANDLE AfxCreateEvent() { return new bool(false); }
void AfxCloseEvent(HANDLE hEvent) { delete static_cast<bool*>(hEvent); }
void AfxSetEvent(HANDLE hEvent) {
    if (hEvent != nullptr) *static_cast<bool*>(hEvent) = true;
}
bool AfxWaitEvent(HANDLE hEvent, DWORD) { return hEvent != nullptr && *static_cast<bool*>(hEvent); }

// What would arrive during the wait is the hook's.
bool AfxWaitServing(HANDLE hEvent) {
    if (g_bEndRequested || hEvent == nullptr) return false;
    if (g_waitHook) g_waitHook();
    return !g_bEndRequested && *static_cast<bool*>(hEvent);
}

// Nothing can happen without a toolkit: the loop ends at once with the code of a quit asked
// for meanwhile, or 0.
int AfxRunMessageLoop(CWnd& /*mainWnd*/) {
    const int code = g_bQuitPosted ? g_nQuitCode : 0;
    MemoryResetQuit();
    return code;
}

CMemoryWnd* MemoryWndOf(CWnd& dialog) {
    return dynamic_cast<CMemoryWnd*>(
        const_cast<CWndImpl*>(static_cast<const CWndImpl*>(dialog.GetSafeHwnd())));
}

void MemorySetModalHook(std::function<void(CWnd& dialog)> hook) { g_modalHook = std::move(hook); }

bool MemoryQuitPosted(int* pnExitCode) {
    if (pnExitCode != nullptr) *pnExitCode = g_nQuitCode;
    return g_bQuitPosted;
}

void MemorySetWaitHook(std::function<void()> hook) { g_waitHook = std::move(hook); }

void MemorySetEndRequested(bool bRequested) { g_bEndRequested = bRequested; }

void MemoryResetQuit() {
    g_bQuitPosted = false;
    g_nQuitCode = 0;
}

CString AfxLoadString(UINT nID) { return LoadResString(nID); }
