// Product targets: what an entry that starts a program must start to count as the product's.
// The program lies inside one of the product's folders (compared component by component,
// ignoring case), or its file name is a catalogue process name. Environment references are
// taken in the entry's own terms: a user's (USERPROFILE, LOCALAPPDATA, APPDATA as that user's)
// or the machine's; the machine's own variables (ProgramFiles, SystemRoot, ...) in both. An
// entry with any other reference, or one that does not fit, is not the product's.
#pragma once

#include "../common/Bounded.h"

struct ProductTargets {
    const wchar_t* sid;  // the user whose entries these are; null for the machine's
    DWORD folderCount;
    PathBuffer folders[4];  // the program folders' "Quorvex", and the user's application folder
};
// The targets of a user's entries (sid) or of the machine's (null): the machine's entries
// count no user's application folder, which only that user's own entries start from.
void ReadProductTargets(const wchar_t* sid, ProductTargets& out);
// A command line whose program (its first token, quoted or not) is the product's.
bool CommandStartsProducts(const ProductTargets& targets, const wchar_t* command);
// A program's path (quoted as a whole or not) that is the product's.
bool PathIsProducts(const ProductTargets& targets, const wchar_t* path);
