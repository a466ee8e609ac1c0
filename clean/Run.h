// One run: its options and every part of what it keeps while it goes, made new for each run.
// The run's order (CleanRun.cpp) makes one; a test makes as many as it likes. Each room that
// keeps something for the run is handed its part when the run begins.
#pragma once

#include "clean.h"
#include "LogonOutcome.h"
#include "RunReport.h"
#include "installer/InstallerWaiting.h"
#include "installer/PassiveUninstaller.h"
#include "starts/ActiveSetupEntries.h"

#include "../change/ChangePart.h"

struct Run {
    RunOptions options;
    const RunListener* listener;   // null: nobody
    ChangePart changes;            // the preview's record, the tried items, the names scheduled at restart
    UninstallerPart uninstallers;  // the uninstallers that did not finish, and their scopes
    WaitingPart waiting;           // the running user's Installer records held for the machine's uninstallers
    ReportPart report;             // the start and the scopes met, for the report
    ActiveSetupPart activeSetup;   // the product's Active Setup entries, noted once
    LogonOutcome logon;            // what became of the clean-up at each user's next logon
    Run* before;                   // the run under way when this one began, if any
};

// Sets every part of run up empty, with a copy of options and the listener (which must stay
// valid until EndRun), and makes it the run under way: every step reads its options and keeps
// what it keeps there.
void BeginRun(Run& run, const RunOptions& options, const RunListener* listener = nullptr);
// Releases what the run's parts hold; the run under way before it is again. Runs end in the
// reverse order of their beginnings.
void EndRun(Run& run);
