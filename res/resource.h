#pragma once
// Resource identifiers: dialogs, icons, controls and strings.

#define IDD_ABOUTBOX 100
#define IDD_KEEPALIVE_DIALOG 102
#define IDS_SOCKETS_INIT_FAILED 103

#define IDI_MAIN 128
#define IDI_PINGING 129
#define IDI_IDLE 130

#define IDC_DELAY 1000
#define IDC_CYCLE 1001
#define IDC_NEW_SERVER 1002
#define IDC_SERVER_LIST 1003
#define IDC_ADD 1004
#define IDC_REMOVE 1005
#define IDC_ABOUT 1006
#define IDC_SOUND 1008
#define IDC_STATIC (-1)
