// Run steps: the options of the run under way, and its listener, which the run tells each
// step as it enters it.
#pragma once

#include "clean.h"

// The options and the listener (null: nobody) of the run under way from now on; both stay
// valid until the next call.
void UseRunSteps(const RunOptions* options, const RunListener* listener);

// The options of the run under way.
const RunOptions& RunOptionsNow();

// Whether the run under way has a listener to tell its steps to.
bool RunIsWatched();

// Tells the listener of the run under way the step it enters (nothing without one).
void ReportRunStep(RunStep step, const wchar_t* name = nullptr, const wchar_t* folder = nullptr);
