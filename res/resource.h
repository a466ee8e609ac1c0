// Resource numbers of ZamoClean.exe.
#pragma once

#define IDD_MAIN            103
#define IDS_CLOSE           104
#define IDS_PLEASE_WAIT     105
#define IDS_FINISHED        106
#define IDI_MAIN            107
#define IDR_ACCELERATORS    109

#define IDC_CLEAN           1
#define IDC_STATUS          -1

// The command the Alt+? and Alt+/ accelerators give; no window handles it.
#define IDM_ACCELERATOR     104
