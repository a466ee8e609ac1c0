// Product targets: what an entry that starts a program must start to count as the product's.
// The program lies inside one of the product's folders (compared component by component,
// ignoring case), or its file name is a catalogue process name. Environment references are
// taken in the entry's own terms: a user's (USERPROFILE, LOCALAPPDATA, APPDATA as that user's)
// or the machine's; the machine's own variables (ProgramFiles, SystemRoot, ...) in both. An
// entry with any other reference, or one that does not fit, is not the product's.
#pragma once

#include "Scope.h"

#include "../../common/Bounded.h"

// The product's own folders, in the order a user's sweep removes them: the user's application
// folder ("Quorvex" under the user's "Local AppData"), then "Quorvex" under %ProgramFiles%,
// %ProgramFiles(x86)% and %ProgramW6432% where each is a full path. In a 32-bit process on
// 64-bit Windows the first two name the same folder, and both stay listed; %ProgramW6432%,
// the only way to the 64-bit program folder there, is left out where it names either of them.
struct ProductFolderList {
    bool hasApplication;
    PathBuffer application;
    DWORD programCount;
    PathBuffer programs[3];
};
// The application folder only for a user scope; the machine's reads the program folders alone.
void ReadProductFolders(const Scope& scope, ProductFolderList& out);

struct ProductTargets {
    Scope scope;  // the scope whose entries these are: a user's, or the machine's
    DWORD folderCount;
    PathBuffer folders[4];  // the program folders' "Quorvex", and the user's application folder
};
// The targets of a user's entries or of the machine's: the machine's entries count no user's
// application folder, which only that user's own entries start from.
void ReadProductTargets(const Scope& scope, ProductTargets& out);
// A command line whose program (its first token, quoted or not) is the product's.
bool CommandStartsProducts(const ProductTargets& targets, const wchar_t* command);
// A program's path (quoted as a whole or not) that is the product's.
bool PathIsProducts(const ProductTargets& targets, const wchar_t* path);
