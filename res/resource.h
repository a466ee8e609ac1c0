// Resource numbers of ZamoClean.exe.
#pragma once

#define IDD_MAIN            103
#define IDS_CLOSE           104
#define IDS_PLEASE_WAIT     105
#define IDS_FINISHED        106
#define IDI_MAIN            107
#define IDR_ACCELERATORS    109

// What the dialog says while a run goes on and how it went: the next block of strings.
#define IDS_STEP_STOPPING           112
#define IDS_STEP_USER               113
#define IDS_STEP_USER_FOLDER        114
#define IDS_STEP_UNLOADED           115
#define IDS_STEP_UNINSTALLING       116
#define IDS_STEP_MACHINE            117
#define IDS_STEP_WAITING            118
#define IDS_OUTCOME_NOTHING         119
#define IDS_OUTCOME_GONE            120
#define IDS_OUTCOME_NOT_REMOVED_1   121
#define IDS_OUTCOME_NOT_REMOVED     122
#define IDS_OUTCOME_RESTART_1       123
#define IDS_OUTCOME_RESTART         124
#define IDS_OUTCOME_UNINSTALLER_RESTART 125
#define IDS_OUTCOME_BUSY            126
#define IDS_OUTCOME_PREVIEW_NOTHING 127
#define IDS_OUTCOME_PREVIEW_1       128
#define IDS_OUTCOME_PREVIEW         129
#define IDS_OUTCOME_INCOMPLETE      130

#define IDC_CLEAN           1
#define IDC_STATUS          -1
#define IDC_PROGRESS        1001
#define IDC_STEP            1002
#define IDC_SHOW_LOG        1003

// The command the Alt+? and Alt+/ accelerators give; no window handles it.
#define IDM_ACCELERATOR     104
