// The resource ids of the Windows desktop program: the dialogs, their controls, the menu, the
// strings and the icons. Shared by the resource script and the code, so plain macros.
#pragma once

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_VANTREL_DIALOG 102

#define IDI_WORK_HELD 128
#define IDI_NO_WORK_UNIT 130
#define IDI_TRANSMITTING 131
#define IDI_WORK_PENDING 138
#define IDR_SYSTRAY_MENU 133

#define IDC_DESIRED_CACHE_SIZE 1000
#define IDC_CURRENT_CACHE_SIZE 1001
#define IDC_READY_TO_TRANSMIT 1002
#define IDC_WAITING_TO_PROCESS 1003
#define IDC_MAX_PROCESSES 1004
#define IDC_EXIT 1007
#define IDC_TRANSMIT 1008
#define IDC_PROCESSING 1011
#define IDC_HIDE_PROCESSING 1012
#define IDC_NO_SERVER 1013
#define IDC_PROXY_SERVER 1014
#define IDC_SOCKS_SERVER 1015
#define IDC_HOST_LABEL 1016
#define IDC_PORT_LABEL 1017
#define IDC_SERVER_HOST 1018
#define IDC_SERVER_PORT 1019
#define IDC_SOCKS_USER 1020
#define IDC_SOCKS_PASSWORD 1021
#define IDC_SOCKS_USER_LABEL 1022
#define IDC_SOCKS_PASSWORD_LABEL 1023
#define IDC_UPDATE_PROGRESS 1026
#define IDC_NEW_CLIENT 1028
#define IDC_PERCENT_BAR 1029
#define IDC_TOTAL_TIME 1030
#define IDC_AUTO_TRANSMIT 1031
#define IDC_NEED_TO_FILL 1032
#define IDC_HOME_PAGE 1033
#define IDC_MONITOR_PROGRESS 1040
#define IDC_USE_SPY 1041
#define IDC_TIME_LEFT 1043
#define IDC_COMPLETION 1044
#define IDC_24HR_CLOCK 1045
#define IDC_CREATE_LOG 1046
#define IDC_PRIORITY_LOW 1048
#define IDC_PRIORITY_HIGH 1049
#define IDC_PRIORITY_NORMAL 1050
#define IDC_SAVE_CONFIG 1051
#define IDC_USE_COLON 1052
#define IDC_SET_AFFINITY 1053
#define IDC_DISPLAY_TRANSMIT 1054
#define IDC_VERSION_LINE 1055
// Beyond the classic dialog: the problem notices' switch and the line that says what went wrong.
#define IDC_NOTIFY_PROBLEMS 1055 // as in the Linux program; another dialog than the version line
#define IDC_NOTICE_LINE 1057

#define ID_SYSTRAY_ABOUT 32772
#define ID_SYSTRAY_TRANSMIT 32773
#define ID_SYSTRAY_RESTORE 32774
#define ID_SYSTRAY_EXIT 32775
#define ID_SYSTRAY_MINIMIZE 32776
#define ID_SYSTRAY_SAVECONFIG 32779

// Beyond the classic system menu: the user's Run key entry.
#define IDM_START_AT_LOGIN 0x50
