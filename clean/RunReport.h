// Run report ("/Report:"): the scopes a run met and how it left each, and the report of the
// whole run written at its end.
#pragma once

#include "ground/Scope.h"

#include <windows.h>

enum class ScopeOutcome {
    Cleaned,
    SkippedSignature,
    SkippedWellKnown,
    SkippedClassHive,
    NotMarkedUnfinished,  // swept, but an uninstaller did not finish there
};
// Records a scope met, with a user's profile folder where the profile list knows it. Nothing is
// kept without "/Report:".
void NoteScope(const Scope& scope, ScopeOutcome outcome);
// What a run keeps for its report: the scopes it met and the time it started.
struct ScopeMet;
struct ReportPart {
    ScopeMet* scopes;  // on the heap
    DWORD scopeCount;
    DWORD scopeCapacity;
    SYSTEMTIME started;
};
// The part the report uses from now on; null: none.
void UseReportPart(ReportPart* part);
// With "/Report:", writes the report of the run that ends with exitCode (what it exits with
// under "/ExitCode") and logs "Report written [%s]" or "Failed to write report [%s] [%d]".
void WriteRunReport(int exitCode);
