#include "aboutdlg.h"

#include "resources.h"

CAboutDlg::CAboutDlg(CPlatform& platform) : CDialog(AboutBoxTemplate(), platform) {}
