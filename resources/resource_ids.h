#pragma once
// Resource and control identifiers, as the dialog templates give them. This
// header is included by the resource script as well, so it holds plain
// #defines only.

// Icon and pictures (resource type "PNG").
#define IDI_APP 128
#define IDB_LOGO 137
#define IDB_SIGNAL_EXCELLENT 139
#define IDB_SIGNAL_GOOD 140
#define IDB_SIGNAL_FAIR 141
#define IDB_SIGNAL_WEAK 142
#define IDB_SIGNAL_NONE 143
#define IDB_HELP_ARROW 145

// Dialog templates.
#define IDD_SETTINGS 102
#define IDD_HELP_OVERLAY 103
#define IDD_HOST 131

// Settings window (template 102).
#define IDC_SET_CUR 1000
#define IDC_GET_CUR 1001
#define IDC_SET_URL 1002
#define IDC_URL 1003
#define IDC_WIFI_NAME 1004
#define IDC_WIFI_PASSWORD 1005
#define IDC_UNUSED_EDIT_1 1006
#define IDC_UNUSED_EDIT_2 1007
#define IDC_SET_WIFI_NAME 1008
#define IDC_SET_PASSWORD 1009
#define IDC_SET_RESOLUTION 1010
#define IDC_EXIT 1011
#define IDC_APPLY 1012
#define IDC_FIRMWARE_VERSION 1013
#define IDC_REFRESH 1014
#define IDC_CODEC 1015
#define IDC_RESOLUTION_PRESET 1016
#define IDC_FPS 1017
#define IDC_URL_LABEL 1018
#define IDC_MODE 1019
#define IDC_MODEL 1020
#define IDC_MODEL_LABEL 1021
#define IDC_RESOLUTION_LABEL 1022
#define IDC_RSSI_NUMBER 1023
#define IDC_RSSI_LABEL 1024
#define IDC_RES_WIDTH 1025
#define IDC_LOGO_FRAME 1026
#define IDC_RES_HEIGHT 1027
#define IDC_RES_X 1028
#define IDC_SIGNAL_PICTURE 1029
#define IDC_LONG_PRESS_SLIDER 1030
#define IDC_SET_LONG_PRESS 1031
#define IDC_FW_UPDATE 1032
#define IDC_LONG_PRESS_TEXT 1033
#define IDC_AGING_TEST 1034
#define IDC_LONG_PRESS_LABEL 1035
#define IDC_AGING_TEST_LABEL 1036
#define IDC_HELP_BUTTON 1037  // not IDC_HELP: winuser.h names its help cursor so
#define IDC_STATUS 1038

// Tray menu of the host window.
#define ID_TRAY_EXIT 10000
