#include "framework/listbox.h"

#include <algorithm>
#include <iterator>

namespace {

unsigned char Fold(unsigned char c) { return c >= 'a' && c <= 'z' ? c - ('a' - 'A') : c; }

}  // namespace

int CompareNoCase(const CString& a, const CString& b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char ca = Fold(static_cast<unsigned char>(a[i]));
        const unsigned char cb = Fold(static_cast<unsigned char>(b[i]));
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

// Bound to its dialog's control (by DDX_Control): the control shows the entries added before.
void CListBox::OnAttached() {
    CWndImpl* impl = Impl();
    if (impl == nullptr || !impl->HasItem(m_nID)) return;
    impl->ListAssign(m_nID, m_entries);
}

int CListBox::AddString(const CString& text) {
    // Equal entries keep the order they came in; a sorted file appends in constant time.
    auto pos = m_entries.end();
    if (!m_entries.empty() && CompareNoCase(text, m_entries.back()) < 0) {
        pos = std::upper_bound(
            m_entries.begin(), m_entries.end(), text,
            [](const CString& a, const CString& b) { return CompareNoCase(a, b) < 0; });
    }
    const int index = static_cast<int>(pos - m_entries.begin());
    m_entries.insert(pos, text);
    if (CWndImpl* impl = Impl()) impl->ListInsert(m_nID, index, text);
    return index;
}

void CListBox::AddStrings(std::vector<CString> texts) {
    auto less = [](const CString& a, const CString& b) { return CompareNoCase(a, b) < 0; };
    // Stable sort and a merge that prefers the entries already there: equal entries keep
    // the order one AddString after another would give them.
    std::stable_sort(texts.begin(), texts.end(), less);
    std::vector<CString> merged;
    merged.reserve(m_entries.size() + texts.size());
    std::merge(std::make_move_iterator(m_entries.begin()), std::make_move_iterator(m_entries.end()),
               std::make_move_iterator(texts.begin()), std::make_move_iterator(texts.end()),
               std::back_inserter(merged), less);
    m_entries = std::move(merged);
    OnAttached();
}

int CListBox::DeleteString(int nIndex) {
    if (nIndex < 0 || nIndex >= GetCount()) return LB_ERR;
    m_entries.erase(m_entries.begin() + nIndex);
    if (CWndImpl* impl = Impl()) impl->ListDelete(m_nID, nIndex);
    return GetCount();
}

int CListBox::GetCount() const { return static_cast<int>(m_entries.size()); }

int CListBox::GetCurSel() const {
    CWndImpl* impl = Impl();
    if (impl == nullptr) return LB_ERR;
    const int sel = impl->ListGetCurSel(m_nID);
    return sel >= 0 && sel < GetCount() ? sel : LB_ERR;
}

int CListBox::SetCurSel(int nIndex) {
    CWndImpl* impl = Impl();
    if (impl == nullptr || nIndex < -1 || nIndex >= GetCount()) return LB_ERR;
    impl->ListSetCurSel(m_nID, nIndex);
    return nIndex == -1 ? LB_ERR : nIndex;
}

int CListBox::GetText(int nIndex, CString& text) const {
    if (nIndex < 0 || nIndex >= GetCount()) return LB_ERR;
    text = m_entries[static_cast<std::size_t>(nIndex)];
    return static_cast<int>(text.size());
}

int CListBox::FindStringExact(int nStartAfter, const CString& text) const {
    const int count = GetCount();
    if (count == 0) return LB_ERR;
    // The search wraps around from the entry after nStartAfter, as the control's does.
    const int first = nStartAfter >= 0 && nStartAfter < count ? nStartAfter + 1 : 0;
    for (int n = 0; n < count; ++n) {
        const int i = (first + n) % count;
        if (CompareNoCase(m_entries[static_cast<std::size_t>(i)], text) == 0) return i;
    }
    return LB_ERR;
}

void CListBox::ResetContent() {
    m_entries.clear();
    if (CWndImpl* impl = Impl()) impl->ListReset(m_nID);
}
