// The clean-up at each user's next logon. Windows' Active Setup runs an entry's command once in
// each user's logon, before the desktop appears, for every user whose own record of the entry
// is missing or older than the entry's version; so a new command needs a higher version, and an
// unchanged one keeps its version (or every user would run it again).
#include "LogonRegistration.h"
#include "ProgramCopy.h"
#include "../LogonOutcome.h"
#include "../RunSteps.h"
#include "../starts/ActiveSetupEntries.h"

#include "../../change/InstallChanges.h"
#include "../../change/RunOutcome.h"
#include "../../common/Registry.h"
#include "../../log/log.h"

#include <wchar.h>

namespace {

const wchar_t EntryDisplayName[] = L"Zamo Clean";

typedef LogonCommand CommandBuffer;

// The entry as the machine holds it now.
struct LogonEntry {
    bool current;  // installed, with the program's name and a command of type REG_SZ
    CommandBuffer command;
    PathBuffer version;
};

// Appends one argument quoted as the program's own command line is split: within quotes, a run
// of backslashes is doubled before a quote, and a quote is escaped.
bool AppendArgument(CommandBuffer& out, const wchar_t* argument)
{
    CommandBuffer quoted;
    size_t at = 0;
    const size_t room = ARRAYSIZE(quoted) - 2;
    quoted[at++] = L' ';
    quoted[at++] = L'"';
    for (const wchar_t* c = argument;; c++) {
        size_t backslashes = 0;
        while (c[backslashes] == L'\\')
            backslashes++;
        bool beforeQuote = c[backslashes] == L'"' || c[backslashes] == L'\0';
        size_t copies = beforeQuote ? 2 * backslashes : backslashes;
        if (at + copies + 2 > room)
            return false;
        wmemset(quoted + at, L'\\', copies);
        at += copies;
        c += backslashes;
        if (*c == L'\0')
            break;
        if (*c == L'"')
            quoted[at++] = L'\\';
        quoted[at++] = *c;
    }
    quoted[at++] = L'"';
    quoted[at] = L'\0';
    return TextAppendCounted(out, ARRAYSIZE(out), quoted);
}

// The copy started quietly for the logon's user alone, with the user-side options as given, so
// that a reference such as %LocalAppData% names each user's own folder when that run expands it.
bool ComposeCommand(const wchar_t* copy, CommandBuffer& out)
{
    CommandBuffer option;
    const size_t room = ARRAYSIZE(option);
    return FormatTextCounted(out, ARRAYSIZE(out), L"\"%s\" /Quiet /CurrentUser", copy) &&
           (RunOptionsNow().signature[0] == L'\0' ||
            (FormatTextCounted(option, room, L"/Signature:%s", RunOptionsNow().signature) && AppendArgument(out, option))) &&
           (RunOptionsNow().logPath[0] == L'\0' ||
            (FormatTextCounted(option, room, L"/Log:%s", RunOptionsNow().logPath) && AppendArgument(out, option))) &&
           (!RunOptionsNow().reportRequested ||
            (FormatTextCounted(option, room, L"/Report:%s", RunOptionsNow().reportPath) && AppendArgument(out, option)));
}

bool ReadEntry(LogonEntry& out)
{
    out = {};
    PathBuffer path;
    HKEY key;
    if (!RegJoinPath(path, ActiveSetupListPath, LogonEntryName) ||
        !RegOpenAsItself(HKEY_LOCAL_MACHINE, path, KEY_QUERY_VALUE | KEY_WOW64_64KEY, key))
        return false;
    DWORD type = 0;
    DWORD size = sizeof(out.command) - sizeof(wchar_t);
    LONG result = RegQueryValueExW(key, L"StubPath", nullptr, &type, reinterpret_cast<BYTE*>(out.command), &size);
    out.command[result == ERROR_SUCCESS ? RegTextLength(out.command, size) : 0] = L'\0';
    DWORD installed = 0;
    DWORD installedSize = sizeof(installed);
    DWORD installedType = 0;
    PathBuffer name;
    out.current = result == ERROR_SUCCESS && type == REG_SZ &&
                  RegQueryValueExW(key, L"IsInstalled", nullptr, &installedType, reinterpret_cast<BYTE*>(&installed),
                                   &installedSize) == ERROR_SUCCESS &&
                  installedType == REG_DWORD && installed == 1 && RegReadText(key, nullptr, name, false) &&
                  wcscmp(name, EntryDisplayName) == 0;
    if (!RegReadText(key, L"Version", out.version, false))
        out.version[0] = L'\0';
    RegCloseKey(key);
    return true;
}

// Up to four numbers separated by commas, as Windows compares entries' versions; false for
// anything else.
bool ParseVersion(const wchar_t* text, DWORD (&parts)[4])
{
    DWORD count = 0;
    parts[0] = parts[1] = parts[2] = parts[3] = 0;
    for (const wchar_t* at = text;; at++) {
        if (*at >= L'0' && *at <= L'9') {
            if (parts[count] > 99999)
                return false;
            parts[count] = parts[count] * 10 + static_cast<DWORD>(*at - L'0');
        } else if (*at == L',' && count < 3 && at != text && at[-1] != L',')
            count++;
        else
            return *at == L'\0' && at != text && at[-1] != L',';
    }
}

// The version of a new command: the time now, in the deployment toolkits' form (YYMM,DDHH,MMSS),
// or, where the clock does not give a higher one, the earlier version raised by one.
bool NewVersion(const wchar_t* earlier, PathBuffer& out)
{
    SYSTEMTIME now;
    GetSystemTime(&now);
    DWORD parts[4], before[4];
    if (!FormatText(out, L"%02u%02u,%02u%02u,%02u%02u", now.wYear % 100u, now.wMonth, now.wDay, now.wHour,
                    now.wMinute, now.wSecond) ||
        !ParseVersion(out, parts))
        return false;
    if (!ParseVersion(earlier, before))
        return true;
    for (int i = 0; i < 4; i++) {
        if (parts[i] != before[i]) {
            if (parts[i] > before[i])
                return true;
            break;
        }
    }
    return FormatText(out, L"%u,%u,%u,%u", before[0], before[1], before[2], before[3] + 1);
}

void FailRegistration(DWORD error)
{
    LogonOutcome& outcome = RunLogonOutcome();
    outcome.error = error;
    LogLine(L"Failed to register the clean-up at each user's next logon [%s] [%d]", outcome.command,
            static_cast<int>(error));
    NoteRunFellShort();
}

void Register(bool machineSkipped)
{
    LogonOutcome& outcome = RunLogonOutcome();
    outcome.tried = true;
    PathBuffer folder, copy;
    if (!ProgramCopyPaths(folder, copy) || !ComposeCommand(copy, outcome.command)) {
        outcome.command[0] = L'\0';
        FailRegistration(ERROR_FILENAME_EXCED_RANGE);
        return;
    }
    LogonEntry entry;
    DWORD parts[4];
    bool unchanged = ReadEntry(entry) && wcscmp(entry.command, outcome.command) == 0 && ParseVersion(entry.version, parts);
    // A machine that bore the signature was registered by the run that marked it.
    if (machineSkipped) {
        outcome.registered = unchanged && entry.current;
        TextCopy(outcome.version, unchanged ? entry.version : L"");
        return;
    }
    DWORD error = ERROR_SUCCESS;
    if (!PlaceProgramCopy(folder, copy, error)) {
        FailRegistration(error);
        return;
    }
    if (unchanged)
        TextCopy(outcome.version, entry.version);
    else if (!NewVersion(entry.version, outcome.version)) {
        FailRegistration(ERROR_INVALID_DATA);
        return;
    }
    Change change = WriteLogonEntry(ActiveSetupListPath, LogonEntryName,
                                    {EntryDisplayName, outcome.command, outcome.version, unchanged && entry.current});
    if (change == Change::Failed) {
        FailRegistration(GetLastError());
        return;
    }
    if (change == Change::Made) {
        outcome.registered = true;
        LogLine(L"Registered the clean-up at each user's next logon [%s]", outcome.command);
    }
}

// Nothing of the program is left: the entry in both views, and the copy with its folder where
// they are this program's. Each user's records go in that user's sweep.
void Withdraw()
{
    RemoveActiveSetupEntry(LogonEntryName);
    PathBuffer folder, copy;
    if (ProgramCopyPaths(folder, copy))
        RemoveProgramCopy(folder, copy);
}

} // namespace

void ChangeLogonRegistration(bool machineSkipped)
{
    if (RunOptionsNow().atNextLogon == LogonRegistration::Register)
        Register(machineSkipped);
    else if (RunOptionsNow().atNextLogon == LogonRegistration::Withdraw)
        Withdraw();
}
