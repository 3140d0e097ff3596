#pragma once
// Resource identifiers: dialogs, icons, controls and strings; the framework's own messages
// are in the same string table.

#include "framework/afxres.h"

#define IDD_ABOUTBOX 100
#define IDD_KEEPALIVE_DIALOG 102
#define IDS_SOCKETS_INIT_FAILED 103
#define IDS_TRAY_TIP 104
#define IDS_SONAR_ERROR 105
#define IDS_ICMP_LOAD_FAILED 106
#define IDS_ICMP_ENTRY_MISSING 107
#define IDS_ICMP_CLOSE_FAILED 108
#define IDS_ENTRY_ERROR 109
#define IDS_ENTER_SERVER 110
#define IDS_SERVER_UNREACHABLE 111
#define IDS_SERVER_IN_LIST 112
#define IDS_REMOVAL 113
#define IDS_NOTHING_SELECTED 114
#define IDS_ICMP_NOT_PERMITTED 115
#define IDS_ACC_DELAY 116
#define IDS_ACC_DELAY_UNITS 117
#define IDS_ACC_NEW_SERVER 118
#define IDS_ACC_SERVER_LIST 119
#define IDS_ACC_ADD 120
#define IDS_ACC_REMOVE 121
#define IDS_NO_WORKING_DIRECTORY 122
#define IDS_TRAY_OPEN 123

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
#define IDC_DELAY_LABEL 1009
#define IDC_NEW_SERVER_LABEL 1010
#define IDC_SERVER_LIST_LABEL 1011
#define IDC_STATIC (-1)
