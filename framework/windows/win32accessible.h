#pragma once
// What screen readers are told of a dialog's controls on Windows: the names and descriptions
// of its template (CDialogTemplate::accessible), set through the system's accessibility
// (Dynamic Annotation), as the dialog manager would otherwise name an edit after the static
// before it in the template, whatever that is.

#include "base/wintypes.h"

struct CDialogTemplate;

// Annotates the controls of hDialog; S_OK when every annotation was taken, otherwise the
// first failure (the system's accessibility missing, or a part of it). The dialog works the
// same either way.
HRESULT Win32Annotate(HWND hDialog, const CDialogTemplate& tmpl);
// Takes the annotations back, before the dialog is destroyed.
void Win32ClearAnnotations(HWND hDialog, const CDialogTemplate& tmpl);
