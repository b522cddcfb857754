// Ids shared by the resource script and the code: dialogs, their controls and the icon.
#pragma once

#define IDI_APP 101
#define IDD_PROGRESS 130
#define IDD_CODE 131

#define IDC_PROGRESS_BAR 1000
#define IDC_STATUS_TEXT 1001
#define IDC_CODE_EDIT 1002

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
