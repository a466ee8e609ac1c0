// A user's shell folders in that user's own terms. A definition ("%USERPROFILE%\Desktop",
// "C:\users\%USERNAME%\Desktop", "%LOCALAPPDATA%") comes from the user's hive and is expanded
// with the user's values only: the running user's environment would name the running user's
// folders. Everything read here may have been written by the user, so every expansion is
// bounded and nothing that did not resolve or fit is acted on.
#include "ProfilePaths.h"
#include "Scope.h"

#include "../../change/RunOutcome.h"
#include "../../log/log.h"

#include "../../common/Path.h"

#include <ntsecapi.h>
#include <sddl.h>
#include <shlwapi.h>
#include <wchar.h>

namespace {

const wchar_t SessionEnvironmentKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";

// Values that are the machine's, the same in every process of it, and that Windows gives every
// environment without a registry value of their own.
const wchar_t* const MachineValues[] = {L"SystemDrive", L"SystemRoot", L"ProgramData", L"ALLUSERSPROFILE",
                                        L"PUBLIC"};

// How deep references may lead through values and definitions, and how many one definition may
// take in all: a hive's values may refer to each other in circles, or each to several others.
const DWORD MostDepth = 8;
const DWORD MostLookups = 64;

// Unresolved: a reference that none of the user's sources resolves, one that refers to itself, or
// one past the bounds above. Failed: the result did not fit its buffer.
enum class Resolution { Done, Unresolved, Failed };

// What is being expanded, outermost first: a reference (its name) or a shell folder (its value
// name). Meeting one again is a definition that refers to itself.
struct Expanding {
    bool folder;
    const wchar_t* name;
};

struct UserTerms {
    const Scope* user;
    PathBuffer profile;
    Expanding expanding[MostDepth];
    DWORD depth;
    DWORD lookups;
};

Resolution LookUp(UserTerms& terms, const wchar_t* name, PathBuffer& out);

// Expands text's references in the user's terms into out. lowerLiterals: a definition's own
// text is lower-cased (A to Z), as the sweep has always composed its paths; values keep theirs.
Resolution ExpandTerms(UserTerms& terms, const wchar_t* text, bool lowerLiterals, PathBuffer& out)
{
    size_t length = 0;
    for (const wchar_t* at = text; *at != L'\0';) {
        const wchar_t* close = *at == L'%' ? wcschr(at + 1, L'%') : nullptr;
        if (close != nullptr && close > at + 1) {
            PathBuffer name;
            size_t nameLength = static_cast<size_t>(close - at - 1);
            if (nameLength >= ARRAYSIZE(name))
                return Resolution::Unresolved;
            wmemcpy(name, at + 1, nameLength);
            name[nameLength] = L'\0';
            PathBuffer value;
            Resolution found = LookUp(terms, name, value);
            if (found != Resolution::Done)
                return found;
            size_t valueLength = wcslen(value);
            if (length + valueLength >= ARRAYSIZE(out))
                return Resolution::Failed;
            wmemcpy(out + length, value, valueLength);
            length += valueLength;
            at = close + 1;
            continue;
        }
        if (length + 1 >= ARRAYSIZE(out))
            return Resolution::Failed;
        wchar_t c = *at++;
        out[length++] = lowerLiterals && c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c;
    }
    out[length] = L'\0';
    return Resolution::Done;
}

bool IsExpanding(const UserTerms& terms, bool folder, const wchar_t* name)
{
    for (DWORD i = 0; i < terms.depth; i++) {
        if (terms.expanding[i].folder == folder && StrCmpIW(terms.expanding[i].name, name) == 0)
            return true;
    }
    return false;
}

// One of the user's definitions, expanded with its name marked as being expanded.
Resolution ExpandFolder(UserTerms& terms, const wchar_t* valueName, const wchar_t* definition, PathBuffer& out)
{
    if (terms.depth >= MostDepth || IsExpanding(terms, true, valueName))
        return Resolution::Unresolved;
    terms.expanding[terms.depth++] = {true, valueName};
    Resolution expanded = ExpandTerms(terms, definition, true, out);
    terms.depth--;
    return expanded;
}

bool ReadUserValue(const Scope& user, const wchar_t* keyPath, const wchar_t* valueName, PathBuffer& out)
{
    PathBuffer path;
    return ScopeKey(user, keyPath, path) && ReadProfileValue(user, HKEY_USERS, path, valueName, out);
}

// %LOCALAPPDATA% or %APPDATA%: the user's own folder of that definition or, without one, the
// folder Windows gives it below the profile.
Resolution UserFolder(UserTerms& terms, const wchar_t* valueName, const wchar_t* below, PathBuffer& out)
{
    PathBuffer definition;
    if (ReadUserValue(*terms.user, ShellFoldersKey, valueName, definition))
        return ExpandFolder(terms, valueName, definition, out);
    return TextCopy(out, terms.profile) && TextAppend(out, below) ? Resolution::Done : Resolution::Failed;
}

// An account of this machine: the SID is the machine's account domain and one more number.
// Other accounts are not looked up, which could wait on a domain controller.
bool IsMachineAccount(const wchar_t* sid)
{
    LSA_OBJECT_ATTRIBUTES attributes = {};
    LSA_HANDLE policy;
    if (LsaOpenPolicy(nullptr, &attributes, POLICY_VIEW_LOCAL_INFORMATION, &policy) != 0)
        return false;
    bool machine = false;
    POLICY_ACCOUNT_DOMAIN_INFO* domain = nullptr;
    if (LsaQueryInformationPolicy(policy, PolicyAccountDomainInformation, reinterpret_cast<void**>(&domain)) == 0) {
        wchar_t* domainSid = nullptr;
        if (domain->DomainSid != nullptr && ConvertSidToStringSidW(domain->DomainSid, &domainSid)) {
            size_t length = wcslen(domainSid);
            const wchar_t* rid = sid + length + 1;
            machine = StrCmpNIW(sid, domainSid, static_cast<int>(length)) == 0 && sid[length] == L'-' &&
                      *rid != L'\0' && rid[wcsspn(rid, L"0123456789")] == L'\0';
            LocalFree(domainSid);
        }
        LsaFreeMemory(domain);
    }
    LsaClose(policy);
    return machine;
}

bool LookUpAccountName(const wchar_t* sid, PathBuffer& out)
{
    PSID binary = nullptr;
    if (!ConvertStringSidToSidW(sid, &binary))
        return false;
    PathBuffer domain;
    DWORD nameCount = ARRAYSIZE(out);
    DWORD domainCount = ARRAYSIZE(domain);
    SID_NAME_USE use;
    bool found = LookupAccountSidW(nullptr, binary, out, &nameCount, domain, &domainCount, &use) && out[0] != L'\0';
    LocalFree(binary);
    return found;
}

// %USERNAME%: the account's name for an account of this machine; for any other, the name of
// the profile folder, which Windows named after the account.
bool AccountName(const UserTerms& terms, PathBuffer& out)
{
    if (IsMachineAccount(terms.user->sid) && LookUpAccountName(terms.user->sid, out))
        return true;
    const wchar_t* folder = PathFindFileNameW(terms.profile);
    return folder != terms.profile && *folder != L'\0' && wcschr(folder, L'\\') == nullptr && TextCopy(out, folder);
}

bool IsMachineValue(const wchar_t* name)
{
    for (const wchar_t* value : MachineValues) {
        if (StrCmpIW(name, value) == 0)
            return true;
    }
    return false;
}

// A reference's value from the user's sources, in the order Windows builds the user's
// environment: the logon's values, the user's own, the profile's, then the machine's.
Resolution LookUpSources(UserTerms& terms, const wchar_t* name, PathBuffer& out)
{
    PathBuffer raw;
    if (ReadUserValue(*terms.user, L"Volatile Environment", name, raw) ||
        ReadUserValue(*terms.user, L"Environment", name, raw))
        return ExpandTerms(terms, raw, false, out);
    if (StrCmpIW(name, L"USERPROFILE") == 0)
        return TextCopy(out, terms.profile) ? Resolution::Done : Resolution::Failed;
    if (StrCmpIW(name, L"LOCALAPPDATA") == 0)
        return UserFolder(terms, L"Local AppData", L"\\AppData\\Local", out);
    if (StrCmpIW(name, L"APPDATA") == 0)
        return UserFolder(terms, L"AppData", L"\\AppData\\Roaming", out);
    if (StrCmpIW(name, L"USERNAME") == 0)
        return AccountName(terms, out) ? Resolution::Done : Resolution::Unresolved;
    if (ReadProfileValue(*terms.user, HKEY_LOCAL_MACHINE, SessionEnvironmentKey, name, raw))
        return ExpandTerms(terms, raw, false, out);
    if (!IsMachineValue(name))
        return Resolution::Unresolved;
    DWORD length = GetEnvironmentVariableW(name, out, ARRAYSIZE(out));
    return length == 0 ? Resolution::Unresolved : length < ARRAYSIZE(out) ? Resolution::Done : Resolution::Failed;
}

Resolution LookUp(UserTerms& terms, const wchar_t* name, PathBuffer& out)
{
    if (terms.lookups >= MostLookups || terms.depth >= MostDepth || IsExpanding(terms, false, name))
        return Resolution::Unresolved;
    terms.lookups++;
    terms.expanding[terms.depth++] = {false, name};
    Resolution found = LookUpSources(terms, name, out);
    terms.depth--;
    return found;
}

// A path a folder can be swept at: a drive or UNC path, never a device path ("\\?\", "\\.\").
bool IsSearchablePath(const wchar_t* path)
{
    return PathIsFull(path) && !(path[0] == L'\\' && (path[2] == L'?' || path[2] == L'.'));
}

} // namespace

bool ResolveUserShellFolder(const Scope& user, const wchar_t* valueName, PathBuffer& out)
{
    UserTerms terms = {};
    terms.user = &user;
    PathBuffer definition;
    if (!ReadProfileFolder(user, terms.profile) || !ReadUserValue(user, ShellFoldersKey, valueName, definition))
        return false;
    Resolution resolved = ExpandFolder(terms, valueName, definition, out);
    if (resolved == Resolution::Unresolved && FirstUnresolvedInScope(user, valueName)) {
        LogLine(L"Could not resolve [%s] for [%s]", definition, user.sid);
        NoteNotSearched(user.sid, valueName, definition);
    }
    return resolved == Resolution::Done && IsSearchablePath(out);
}
