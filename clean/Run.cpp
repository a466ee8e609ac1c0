// One run: its parts set up, handed to the rooms that keep them, and released.
#include "Run.h"
#include "RunSteps.h"

namespace {

Run* Current = nullptr;

void HandParts(Run* run)
{
    UseRunSteps(run != nullptr ? &run->options : nullptr, run != nullptr ? run->listener : nullptr);
    UseChangePart(run != nullptr ? &run->changes : nullptr);
    UseUninstallerPart(run != nullptr ? &run->uninstallers : nullptr);
    UseWaitingPart(run != nullptr ? &run->waiting : nullptr);
    UseReportPart(run != nullptr ? &run->report : nullptr);
    UseActiveSetupPart(run != nullptr ? &run->activeSetup : nullptr);
    UseLogonOutcome(run != nullptr ? &run->logon : nullptr);
}

} // namespace

void BeginRun(Run& run, const RunOptions& options, const RunListener* listener)
{
    ZeroMemory(&run, sizeof(run));
    run.options = options;
    run.listener = listener;
    // The record of what the run tried is kept for "/ExitCode", and listed for the report
    // and the dialog.
    SetUpChangePart(run.changes, options.preview, options.reportExitCode,
                    options.reportRequested || options.outcomeShown);
    run.uninstallers.scanWaitMs = UninstallerWaitMs;
    GetSystemTime(&run.report.started);
    run.before = Current;
    Current = &run;
    HandParts(&run);
}

void EndRun(Run& run)
{
    FreeChangePart(run.changes);
    FreeNames(run.uninstallers.unfinishedScopes);
    FreeNames(run.uninstallers.unfinishedCodes);
    FreeInstallerProducts(run.waiting.products);
    for (NameList& entries : run.activeSetup.entries)
        FreeNames(entries);
    if (run.report.scopes != nullptr)
        HeapFree(GetProcessHeap(), 0, run.report.scopes);
    run.report.scopes = nullptr;
    run.report.scopeCount = 0;
    Current = run.before;
    HandParts(Current);
}
