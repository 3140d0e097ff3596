#pragma once
// A sorted list box: entries kept in case-insensitive order, LB_ERR for no selection and no
// match. The entries live here; the native control only mirrors them.

#include <vector>

#include "framework/wnd.h"

class CListBox : public CWnd {
public:
    int AddString(const CString& text);  // index of the new entry
    // Adds many entries at once, each where AddString would have put it, in O(n log n).
    void AddStrings(std::vector<CString> texts);
    int DeleteString(int nIndex);  // count left, or LB_ERR
    int GetCount() const;
    int GetCurSel() const;
    int SetCurSel(int nIndex);
    int GetText(int nIndex, CString& text) const;  // length, or LB_ERR
    // Whole-entry match ignoring case, searching after nStartAfter (-1: from the top).
    int FindStringExact(int nStartAfter, const CString& text) const;
    void ResetContent();

protected:
    void OnAttached() override;

private:
    std::vector<CString> m_entries;
};

// Case-insensitive ordering of list entries (bytes compared with ASCII letters folded).
int CompareNoCase(const CString& a, const CString& b);
