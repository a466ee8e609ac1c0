// COM on the calling thread for the length of one step.
#pragma once

#include <windows.h>

// Starts COM (single-threaded apartment) on the calling thread; a thread that has it in
// another mode already keeps it. True when the step must end it with EndComWork.
bool BeginComWork();
void EndComWork(bool begun);
