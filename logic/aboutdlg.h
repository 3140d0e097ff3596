#pragma once

#include "framework/dialog.h"

// The About box: the program's icon, version and notice, closed by OK.
class CAboutDlg : public CDialog {
public:
    explicit CAboutDlg(CPlatform& platform);
};
