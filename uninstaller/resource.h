// Resource ids of the uninstaller; the .rc includes this file as well.
#pragma once

#define IDD_WELCOME 101
#define IDD_WORKING 102
#define IDD_FINISHED 103
#define IDD_BROWSERS 104

#define IDC_CANCEL_BUTTON 1001
#define IDC_NEXT_BUTTON 1002
#define IDC_OK_BUTTON 1003
#define IDC_BROWSER_TEXT 1004
#define IDC_HEADING 1063
#define IDC_BODY 1064
#define IDC_ICON_PICTURE 1065
