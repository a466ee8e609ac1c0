// The process-wide settings, as they stand before the command line is read.
#include "Settings.h"

bool QuietMode = false;
bool PreviewMode = false;
bool AllProfiles = false;
bool CurrentUserOnly = false;
PathBuffer Signature = L"";
PathBuffer LogPath = L"";
bool DeleteAtRestart = false;
bool ReportExitCode = false;
bool ReportRequested = false;
PathBuffer ReportPath = L"";
LogonRegistration AtNextLogon = LogonRegistration::None;
bool OutcomeShown = false;
