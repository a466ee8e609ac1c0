// Process stopper: the run's first step.
#pragma once

// Terminates every process whose executable name contains a catalogue process name; pauses
// 5000 ms when it asked any to terminate.
void StopProductProcesses();
