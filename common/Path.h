// The path floor: file paths joined, told apart and listed, one way each. Every name here begins
// with "Path"; nothing here knows the product. Joins work on a caller's PathBuffer and fail
// rather than cut (see Bounded.h).
#pragma once

#include "Bounded.h"

// Appends an entry's name to a folder path; true only when the result fit and is exactly the
// folder, one backslash and the name (nothing canonicalised away, no ".." climbing out).
bool PathJoinName(PathBuffer& path, const wchar_t* name);
// Appends a name to a literal path ("\\?\...") as plain text, one backslash between: nothing
// in a literal path is interpreted.
bool PathJoinLiteral(PathBuffer& path, const wchar_t* name);

// A drive path: a letter, a colon and a backslash.
bool PathIsOnDrive(const wchar_t* path);
// A drive path ("C:\...") or a UNC path ("\\server\..."), never one taken relative to the
// current folder or drive.
bool PathIsFull(const wchar_t* path);
// A path in its literal form, "\\?\...".
bool PathIsLiteral(const wchar_t* path);
// True for a name that a path given to the system would not reach as it stands: one that ends
// with a dot or a space (which the system drops), or a device's name ("con", "AUX.log",
// "nul .txt": the part before the first dot, spaces after it aside), which would name the device.
bool PathNeedsLiteral(const wchar_t* name);
// The literal form of a drive or share path: "\\?\C:\..." or "\\?\UNC\server\share\...".
// False for any other path, or when it does not fit.
bool PathToLiteral(PathBuffer& out, const wchar_t* path);

// Visits one entry of a folder; false stops the listing.
typedef bool (*PathEntryVisit)(const WIN32_FIND_DATAW& entry, void* context);
// Lists a folder's entries in the order the folder gives them, "." and ".." passed over, and
// closes the listing before it returns. A literal path is listed as it stands. False when the
// folder could not be listed.
bool PathForEachEntry(const wchar_t* folder, PathEntryVisit visit, void* context);
// The top of a walk as the file system stores its names, each component looked up in its
// parent: what a walk acts through when path differs from it in letter case alone (a listing
// returns the stored names below it). False for anything but a drive path without wildcards
// whose every component is found under a name equal to its own, ignoring case; out is then
// not to be used.
bool PathAsStored(const wchar_t* path, PathBuffer& out);
