// The names this run has scheduled for deletion at restart: each path as scheduled and, for a
// renamed file, its new path. Kept whether or not the run keeps its record of what it tried.
#pragma once

// Keeps a name; asks whether one is kept (ignoring case).
void KeepScheduledName(const wchar_t* path);
bool HasScheduledName(const wchar_t* path);
