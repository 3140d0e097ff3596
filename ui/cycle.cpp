// The keep-alive cycle: one probe round per tick of timer 1.

#include "keepalivedlg.h"

void CKeepAliveDlg::OnTimer(UINT_PTR /*nIDEvent*/) {}
