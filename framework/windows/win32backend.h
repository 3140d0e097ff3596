#pragma once
// Pieces of the Win32 backend that the Win32 platform services share with it.

#include "base/wintypes.h"

class CWnd;

// The native window of a dialog, or of one of its controls; null when it has none (gone, or
// never created).
HWND Win32HwndOf(CWnd* pWnd);

// The module that holds the program's resources: dialog templates, icons, the clip.
HINSTANCE Win32Instance();

// A window's text as the program's strings hold it.
CString Win32WindowText(HWND hWnd);
