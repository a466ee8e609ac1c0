// Run steps: the listener of the run under way, held apart from the run's order so that a
// step deep in the run (an uninstaller's) tells it its step without calling back into the run.
#include "RunSteps.h"

namespace {

// Whoever watches the run under way; null when nobody does.
const RunListener* Listener = nullptr;

} // namespace

void ListenToRun(const RunListener* listener)
{
    Listener = listener;
}

bool RunIsWatched()
{
    return Listener != nullptr && Listener->stepReport != nullptr;
}

void ReportRunStep(RunStep step, const wchar_t* name, const wchar_t* folder)
{
    if (RunIsWatched())
        Listener->stepReport(step, name, folder);
}
