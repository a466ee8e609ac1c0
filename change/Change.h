// The change layer: the one place where the program changes the machine. No other file of
// the program calls TerminateProcess, CreateProcessW, RegDeleteKeyExW, RegDeleteTreeW,
// RegDeleteValueW, DeleteFileW, RemoveDirectoryW, RegSetValueExW or RegCreateKeyExW
// (grep app/ log/ common/ clean/ for them).
//
// In a real run each change function acts and logs nothing; the steps log what they did. In
// a preview (the option of the run's part, ChangePart.h) each logs its "Would ..." line
// instead and changes nothing, and what the preview has passed as removed is kept in a record
// (PreviewRecord.h), so that a later step that would find it gone in a real run passes it
// over too.
#pragma once

#include "../common/Bounded.h"

// What a change function did.
enum class Change {
    Made,       // a real run: done
    Failed,     // a real run: tried, not done
    Previewed,  // a preview: nothing done; the "Would ..." line is logged if there was something to change
};

// A key as "Would remove" shows it: the root label, the key path below the root and, for a
// key found in a list, its name below that path (null otherwise).
struct ShownKey {
    const wchar_t* label;
    const wchar_t* path;
    const wchar_t* name;
};

// A scope as "Would mark" shows it: the root label and the SID, or "-" for none.
struct ShownScope {
    const wchar_t* label;
    const wchar_t* sid;
};

// Logs a line that reports a change as it is made: in a real run only, since in a preview
// the change function reports it with its own "Would ..." line.
void LogChange(const wchar_t* format, ...);
