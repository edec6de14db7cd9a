// Resource and control ids of stellarix.cpl, shared by the .rc and the code.
#pragma once

#define IDI_STELLARIX 103
#define IDS_APPLET_NAME 1
#define IDS_APPLET_DESCRIPTION 2

#define IDD_RASTERIZERS 101
#define IDD_ADVANCED 105
#define IDD_ABOUT 110
#define IDD_CONFIG_REPORT 114
#define IDD_STEREO 115

// Rasterizers page.
#define IDC_RASTERIZER_LIST 1055
#define IDC_RASTERIZER_SPIN 1056
#define IDC_RASTERIZER_DESCRIPTION 1057
#define IDC_VIDEO_CARD 1026
#define IDC_LAST_RASTERIZER 1030
#define IDC_TEST_SELECTED 1044
#define IDC_SHOW_CONFIG 1069
#define IDC_USE_DEFAULTS 1040

// Stereo page.
#define IDC_STEREO_ENABLE 1078
#define IDC_EYE_SEPARATION 1079
#define IDC_EYE_DEFAULT_LABEL 1082
#define IDC_STEREO_WARNING 1083

// Advanced page.
#define IDC_ADVANCED_LIST 1068
#define IDC_PROCESSOR_USAGE 1084
#define IDC_USAGE_DEFAULT_LABEL 1085

// About page.
#define IDC_ABOUT_TITLE 1063
#define IDC_ABOUT_LEGAL 1065
#define IDC_WEB_SITE 1072

// Configuration report dialog.
#define IDC_REPORT_TEXT 1070
#define IDC_REPORT_COPY 1023
