#pragma once
// The program's dialog templates and strings, looked up by resource id.

#include "framework/dialog.h"

const CDialogTemplate& KeepAliveDialogTemplate();
const CDialogTemplate& AboutBoxTemplate();

// The string table; empty for an unknown id.
CString LoadResString(UINT nID);
