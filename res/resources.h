#pragma once
// The program's dialog templates and strings, looked up by resource id.

#include "framework/dialog.h"

const CDialogTemplate& KeepAliveDialogTemplate();
const CDialogTemplate& AboutBoxTemplate();
// Any of them by resource id; null for an unknown id.
const CDialogTemplate* FindDialogTemplate(UINT nID);

// The string table; empty for an unknown id.
CString LoadResString(UINT nID);
