// Product targets: the product's own folders, and whether the program that an entry (a Run
// value, a shortcut, a service, a scheduled task) starts is the product's, by where it lies or by
// its file name.
#include "ProductTargets.h"
#include "../Catalogue.h"
#include "ProfilePaths.h"

#include "../../common/Path.h"

#include <shlwapi.h>
#include <wchar.h>

namespace {

// References that a user's entry takes in that user's terms: the running user's own values
// would name another profile.
struct UserReference {
    const wchar_t* name;
    const wchar_t* shellFolder;  // null: the profile folder itself
};
const UserReference UserReferences[3] = {
    {L"USERPROFILE", nullptr},
    {L"LOCALAPPDATA", L"Local AppData"},
    {L"APPDATA", L"AppData"},
};

// References whose value is the machine's, the same for every user and every service.
const wchar_t* const MachineReferences[12] = {
    L"ProgramFiles",       L"ProgramFiles(x86)",       L"ProgramW6432", L"CommonProgramFiles",
    L"CommonProgramFiles(x86)", L"CommonProgramW6432", L"SystemRoot",   L"windir",
    L"SystemDrive",        L"ProgramData",             L"ALLUSERSPROFILE", L"PUBLIC",
};

bool IsMachineReference(const wchar_t* name)
{
    for (const wchar_t* reference : MachineReferences) {
        if (StrCmpIW(name, reference) == 0)
            return true;
    }
    return false;
}

// The user's value of a user reference: false when it is none or cannot be resolved.
bool UserReferenceValue(const Scope& user, const wchar_t* name, PathBuffer& out)
{
    for (const UserReference& reference : UserReferences) {
        if (StrCmpIW(name, reference.name) != 0)
            continue;
        if (reference.shellFolder != nullptr)
            return ResolveUserShellFolder(user, reference.shellFolder, out);
        return ReadProfileFolder(user, out);
    }
    return false;
}

// One component of a path: what lies between backslashes. A component that is empty, "." or
// ".." would let a path name a folder other than the one it spells out.
bool IsPlainComponent(const wchar_t* text, size_t length)
{
    if (length == 0)
        return false;
    return !(text[0] == L'.' && (length == 1 || (length == 2 && text[1] == L'.')));
}

// True when every component of path is plain.
bool HasPlainComponents(const wchar_t* path)
{
    for (const wchar_t* at = path;;) {
        size_t length = wcscspn(at, L"\\");
        if (!IsPlainComponent(at, length))
            return false;
        if (at[length] == L'\0')
            return true;
        at += length + 1;
    }
}

// True when path lies below folder: every component of folder equals, ignoring case, the
// component of path at its place, and path goes on below it. Only drive paths of plain
// components are compared.
bool LiesInside(const wchar_t* folder, const wchar_t* path)
{
    if (!PathIsFull(path) || path[0] == L'\\' || wcschr(path, L'/') != nullptr || !HasPlainComponents(path))
        return false;
    const wchar_t* f = folder;
    const wchar_t* p = path;
    while (*f != L'\0') {
        size_t folderLength = wcscspn(f, L"\\");
        size_t pathLength = wcscspn(p, L"\\");
        if (p[pathLength] != L'\\' ||
            CompareStringOrdinal(f, static_cast<int>(folderLength), p, static_cast<int>(pathLength), TRUE) !=
                CSTR_EQUAL)
            return false;
        f += folderLength;
        if (*f == L'\\')
            f++;
        p += pathLength + 1;
    }
    return true;
}

// The file name must equal a catalogue process name, where the process stopper only asks that
// the running executable's name contain one. A process is stopped for what it runs: a renamed
// or prefixed copy of the product's executable is still the product running, and stopping it
// removes nothing. Here a match makes an entry, key or file the product's and gets it deleted,
// so a program whose name merely contains a catalogue name must stay another's.
bool NameIsProcessName(const wchar_t* path)
{
    const wchar_t* name = path;
    for (const wchar_t* at = path; *at != L'\0'; at++) {
        if (*at == L'\\' || *at == L'/')
            name = at + 1;
    }
    for (const wchar_t* processName : ProcessNames) {
        if (StrCmpIW(name, processName) == 0)
            return true;
    }
    return false;
}

// The product folder below a program folder named by its environment reference.
void AddProgramFolder(ProductFolderList& folders, const wchar_t* reference)
{
    PathBuffer& folder = folders.programs[folders.programCount];
    if (ExpandText(folder, reference) && PathIsFull(folder) && PathJoinName(folder, MakerWord))
        folders.programCount++;
}

// True when folder is one of the first count folders, ignoring case.
bool IsListed(const PathBuffer* folders, DWORD count, const wchar_t* folder)
{
    for (DWORD i = 0; i < count; i++) {
        if (StrCmpIW(folders[i], folder) == 0)
            return true;
    }
    return false;
}

// Copies text with each reference in the entry's terms: a user reference becomes the user's
// value, a machine reference stays for the expansion. False for any other reference, whose
// value in the entry's terms is unknown here.
bool ResolveReferences(const ProductTargets& targets, const wchar_t* text, PathBuffer& out)
{
    out[0] = L'\0';
    const wchar_t* rest = text;
    for (const wchar_t* open; (open = wcschr(rest, L'%')) != nullptr;) {
        const wchar_t* close = wcschr(open + 1, L'%');
        if (close == nullptr)
            break;
        PathBuffer name;
        size_t nameLength = close - open - 1;
        if (nameLength == 0 || nameLength >= MAX_PATH)
            return false;
        wmemcpy(name, open + 1, nameLength);
        name[nameLength] = L'\0';
        PathBuffer before;
        if (static_cast<size_t>(open - rest) >= MAX_PATH)
            return false;
        wmemcpy(before, rest, open - rest);
        before[open - rest] = L'\0';
        if (!TextAppend(out, before))
            return false;
        PathBuffer value;
        if (targets.scope.sid != nullptr && UserReferenceValue(targets.scope, name, value)) {
            // Taken as it stands: the expansion below must not read it again.
            if (wcschr(value, L'%') != nullptr || !TextAppend(out, value))
                return false;
        } else if (IsMachineReference(name)) {
            if (!TextAppend(out, L"%") || !TextAppend(out, name) || !TextAppend(out, L"%"))
                return false;
        } else {
            return false;
        }
        rest = close + 1;
    }
    return TextAppend(out, rest);
}

// Where an unquoted program ends: after the first ".exe" that a blank or the end follows,
// as a path with blanks in it is read, else at the first blank.
const wchar_t* UnquotedProgramEnd(const wchar_t* start)
{
    const wchar_t* blank = start + wcscspn(start, L" \t");
    for (const wchar_t* at = start; *at != L'\0'; at++) {
        if (StrCmpNIW(at, L".exe", 4) == 0 && (at[4] == L'\0' || at[4] == L' ' || at[4] == L'\t'))
            return at + 4;
    }
    return blank;
}

} // namespace

void ReadProductFolders(const Scope& scope, ProductFolderList& out)
{
    out.hasApplication = scope.sid != nullptr && ResolveUserShellFolder(scope, L"Local AppData", out.application) &&
                         PathJoinName(out.application, MakerWord);
    out.programCount = 0;
    AddProgramFolder(out, L"%ProgramFiles%");
    AddProgramFolder(out, L"%ProgramFiles(x86)%");
    DWORD listed = out.programCount;
    AddProgramFolder(out, L"%ProgramW6432%");
    if (out.programCount > listed && IsListed(out.programs, listed, out.programs[listed]))
        out.programCount = listed;
}

void ReadProductTargets(const Scope& scope, ProductTargets& out)
{
    ProductFolderList folders;
    ReadProductFolders(scope, folders);
    out.scope = scope;
    out.folderCount = 0;
    // Each folder once: the installer count purge adds these to a list of fixed room.
    for (DWORD i = 0; i < folders.programCount; i++) {
        if (!IsListed(out.folders, out.folderCount, folders.programs[i]) &&
            TextCopy(out.folders[out.folderCount], folders.programs[i]))
            out.folderCount++;
    }
    if (folders.hasApplication && TextCopy(out.folders[out.folderCount], folders.application))
        out.folderCount++;
}

namespace {

bool ProgramIsProducts(const ProductTargets& targets, const wchar_t* program)
{
    PathBuffer resolved;
    PathBuffer expanded;
    if (!ResolveReferences(targets, program, resolved) || !ExpandText(expanded, resolved))
        return false;
    if (NameIsProcessName(expanded))
        return true;
    for (DWORD i = 0; i < targets.folderCount; i++) {
        if (LiesInside(targets.folders[i], expanded))
            return true;
    }
    return false;
}

} // namespace

bool PathIsProducts(const ProductTargets& targets, const wchar_t* path)
{
    // A path may come quoted as a whole; inside the quotes it is taken as it stands.
    size_t length = wcslen(path);
    if (length >= 2 && path[0] == L'"' && path[length - 1] == L'"') {
        PathBuffer inner;
        if (length - 2 >= MAX_PATH)
            return false;
        wmemcpy(inner, path + 1, length - 2);
        inner[length - 2] = L'\0';
        return wcschr(inner, L'"') == nullptr && ProgramIsProducts(targets, inner);
    }
    return wcschr(path, L'"') == nullptr && ProgramIsProducts(targets, path);
}

bool CommandStartsProducts(const ProductTargets& targets, const wchar_t* command)
{
    const wchar_t* start = command;
    while (*start == L' ' || *start == L'\t')
        start++;
    const wchar_t* end;
    if (*start == L'"') {
        start++;
        end = wcschr(start, L'"');
        if (end == nullptr)
            return false;
    } else {
        end = UnquotedProgramEnd(start);
    }
    size_t length = end - start;
    if (length == 0 || length >= MAX_PATH)
        return false;
    PathBuffer program;
    wmemcpy(program, start, length);
    program[length] = L'\0';
    return ProgramIsProducts(targets, program);
}
