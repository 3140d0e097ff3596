// The dialog's list file operations: loaded while the dialog initialises, written on OK.

#include "keepalivedlg.h"

void CKeepAliveDlg::LoadListFile() {}

void CKeepAliveDlg::SaveListFile() {}
