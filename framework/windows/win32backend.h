#pragma once
// The framework's backend on Windows: the system's dialog manager, with the dialogs, strings
// and icons from the program's resources (res/quorvane.rc, made from the same tables).
//
// Supports: everything the templates hold, as the system draws it; the system's own focus,
// tab order, mnemonics, default button and system menu; the STRINGTABLE (a program built
// without the resource script reads the same texts compiled in); screen readers' names and
// descriptions of the template's accessibility rows through Dynamic Annotation
// (win32accessible.h), which Wine does not implement; Windows 7 and later, 32 and 64 bits,
// and Wine.
// Counts differently: text is the ANSI code page's, a byte a character: an edit's limit and
// the framework's check (DDV_MaxChars) both count bytes.
// Does not: Unicode text beyond the code page (the program's strings are ANSI).
//
// Below: the pieces the Windows platform services share with it.

#include "base/wintypes.h"

class CWnd;

// The native window of a dialog, or of one of its controls; null when it has none (gone, or
// never created).
HWND Win32HwndOf(CWnd* pWnd);

// The module that holds the program's resources: dialog templates, icons, the clip.
HINSTANCE Win32Instance();

// A window's text as the program's strings hold it.
CString Win32WindowText(HWND hWnd);
