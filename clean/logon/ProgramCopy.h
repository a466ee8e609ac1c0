// The program's copy that each user's logon runs: a folder of the program's own under the 64-bit
// program-files folder, holding the program and nothing else.
#pragma once

#include "../../common/Bounded.h"

// The copy's folder and the copy's full path; false when the program-files folder is unknown
// or a path did not fit.
bool ProgramCopyPaths(PathBuffer& folder, PathBuffer& copy);
// Puts this program in place as the copy: refuses (with its line, and error telling why) a link
// on the way or in the copy's place, anything in the folder that is not this program, and an
// existing folder whose access list lets users write. True when the copy is this program, or
// (a preview) would be made so.
bool PlaceProgramCopy(const PathBuffer& folder, const PathBuffer& copy, DWORD& error);
// Removes the copy and its folder, when the folder holds nothing but the copy and the copy is
// this program's.
void RemoveProgramCopy(const PathBuffer& folder, const PathBuffer& copy);
