// Editing the server list: Add and Remove.

#include "keepalivedlg.h"

void CKeepAliveDlg::OnAdd() {}

void CKeepAliveDlg::OnRemove() {}
