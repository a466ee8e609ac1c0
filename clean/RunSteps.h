// Run steps: what the listener of the run under way is told as the run enters a step.
#pragma once

#include "clean.h"

// The listener the run's steps are told to from now on; null: nobody.
void ListenToRun(const RunListener* listener);

// Whether the run under way has a listener to tell its steps to.
bool RunIsWatched();

// Tells the listener of the run under way the step it enters (nothing without one).
void ReportRunStep(RunStep step, const wchar_t* name = nullptr, const wchar_t* folder = nullptr);
