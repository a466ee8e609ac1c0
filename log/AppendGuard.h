// What keeps the lines of several processes that log into one file whole: used only by the
// run log.
#pragma once

#include <windows.h>

// Joins the writers of the open log file; lines are written unguarded where it cannot.
void JoinAppendGuard(HANDLE file);
void LeaveAppendGuard();

// Taken around each write into the log, and given back with what the take returned.
DWORD TakeAppendGuard();
void GiveBackAppendGuard(DWORD taken);
