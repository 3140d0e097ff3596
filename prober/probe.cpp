// The echo probe operations of the main dialog.

#include "keepalivedlg.h"

int CKeepAliveDlg::TryPing(const CString& /*strAddress*/) { return -1; }

BOOL CKeepAliveDlg::ResolveAndPing(CString& /*strAddress*/) { return FALSE; }
