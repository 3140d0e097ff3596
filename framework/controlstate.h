#pragma once
// A control's state kept as plain values, where a backend has no native control for it (yet):
// what the dialog manager would keep for an edit, a check box or a list box.

#include <vector>

#include "framework/dialog.h"

struct CControlState {
    CControlState() = default;
    CControlState(CtrlKind k, CString t) : kind(k), text(std::move(t)) {}

    CtrlKind kind = CtrlKind::Static;
    CString text;
    int nCheck = 0;
    int nLimit = -1;
    std::vector<CString> entries;
    int nCurSel = -1;

    void ListInsert(int nIndex, const CString& entry) {
        entries.insert(entries.begin() + nIndex, entry);
        if (nCurSel >= nIndex) ++nCurSel;
    }
    void ListDelete(int nIndex) {
        entries.erase(entries.begin() + nIndex);
        // The native control leaves nothing selected when the selected entry goes.
        if (nCurSel == nIndex)
            nCurSel = -1;
        else if (nCurSel > nIndex)
            --nCurSel;
    }
};
