#include "logic/aboutdlg.h"

#include "res/resources.h"

CAboutDlg::CAboutDlg(CPlatform& platform) : CDialog(AboutBoxTemplate(), platform) {}
