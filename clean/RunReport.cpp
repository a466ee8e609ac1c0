// Run report: the result of a run as a JSON file that a fleet's tools collect and read
// together: who ran it where and when, with which options, the scopes it met, every item it
// tried (from the change layer's record, the same one that makes "Not removed" and the exit
// code) with its outcome, and the counts by outcome of the items that make the exit code.
#include "RunReport.h"
#include "LogonOutcome.h"
#include "RunSteps.h"
#include "ground/ProfilePaths.h"

#include "../change/FileChanges.h"
#include "../change/RunOutcome.h"
#include "../common/RunningUser.h"
#include "../common/JsonText.h"
#include "../common/Registry.h"
#include "../log/log.h"


struct ScopeMet {
    HKEY root;
    PathBuffer sid;      // empty for the machine
    PathBuffer profile;  // empty where not known
    ScopeOutcome outcome;
};

namespace {

ReportPart* Part = nullptr;

const wchar_t* OutcomeText(ScopeOutcome outcome)
{
    switch (outcome) {
    case ScopeOutcome::Cleaned:
        return L"cleaned";
    case ScopeOutcome::SkippedSignature:
        return L"skipped: signature";
    case ScopeOutcome::SkippedWellKnown:
        return L"skipped: well-known";
    case ScopeOutcome::SkippedClassHive:
        return L"skipped: class hive";
    case ScopeOutcome::NotMarkedUnfinished:
        return L"not marked: uninstaller did not finish";
    }
    return L"";
}

const wchar_t* NullIfEmpty(const wchar_t* text)
{
    return text[0] != L'\0' ? text : nullptr;
}

void WriteTime(JsonText& json, const char* name, const SYSTEMTIME& time)
{
    TimeStampText stamp;
    FormatTimeStamp(time, stamp);
    JsonString(json, name, stamp);
}

// The version of the running program from its own version resource, read in place (no
// version library to import); false where it has none.
bool ReadProgramVersion(PathBuffer& out)
{
    HMODULE program = GetModuleHandleW(nullptr);
    HRSRC found = FindResourceW(program, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(16));  // RT_VERSION
    HGLOBAL loaded = found != nullptr ? LoadResource(program, found) : nullptr;
    const BYTE* bytes = loaded != nullptr ? static_cast<const BYTE*>(LockResource(loaded)) : nullptr;
    DWORD size = found != nullptr ? SizeofResource(program, found) : 0;
    if (bytes == nullptr)
        return false;
    // The fixed part follows the block's header and its key, at a 32-bit boundary: found by
    // its signature.
    for (DWORD at = 0; at + sizeof(VS_FIXEDFILEINFO) <= size; at += 4) {
        VS_FIXEDFILEINFO fixed;
        CopyMemory(&fixed, bytes + at, sizeof(fixed));
        if (fixed.dwSignature == 0xFEEF04BD)
            return FormatText(out, L"%u.%u.%u.%u", HIWORD(fixed.dwFileVersionMS), LOWORD(fixed.dwFileVersionMS),
                              HIWORD(fixed.dwFileVersionLS), LOWORD(fixed.dwFileVersionLS));
    }
    return false;
}

// Who runs the program: "domain\name" and the SID as text; empty where not known.
void ReadRunningUser(PathBuffer& account, PathBuffer& sidText)
{
    account[0] = L'\0';
    sidText[0] = L'\0';
    UserSid sid;
    if (!ReadRunningUserSid(sid))
        return;
    if (!SidToText(sid, sidText))
        sidText[0] = L'\0';
    PathBuffer name;
    PathBuffer domain;
    DWORD nameCount = MAX_PATH;
    DWORD domainCount = MAX_PATH;
    SID_NAME_USE use;
    if (LookupAccountSidW(nullptr, sid, name, &nameCount, domain, &domainCount, &use) &&
        !FormatText(account, domain[0] != L'\0' ? L"%s\\%s" : L"%s%s", domain, name))
        account[0] = L'\0';
}

void WriteOptions(JsonText& json, const wchar_t* reportPath)
{
    const RunOptions& options = RunOptionsNow();
    JsonOpenObject(json, "options");
    JsonBool(json, "quiet", options.quiet);
    JsonBool(json, "preview", options.preview);
    JsonString(json, "signature", NullIfEmpty(options.signature));
    JsonBool(json, "allProfiles", options.allProfiles);
    JsonBool(json, "currentUser", options.currentUserOnly);
    JsonBool(json, "deleteAtRestart", options.deleteAtRestart);
    JsonBool(json, "exitCode", options.reportExitCode);
    JsonString(json, "log", NullIfEmpty(options.logPath));
    JsonString(json, "report", reportPath);
    JsonClose(json);
}

void WriteScopes(JsonText& json)
{
    JsonOpenArray(json, "scopes");
    for (DWORD i = 0; i < Part->scopeCount; i++) {
        const ScopeMet& scope = Part->scopes[i];
        JsonOpenObject(json, nullptr);
        JsonString(json, "root", RegRootLabel(scope.root));
        JsonString(json, "sid", NullIfEmpty(scope.sid));
        JsonString(json, "profile", NullIfEmpty(scope.profile));
        JsonString(json, "outcome", OutcomeText(scope.outcome));
        JsonClose(json);
    }
    JsonClose(json);
}

// The outcomes in the order the counts show them, and their names there.
const wchar_t* const Outcomes[] = {L"removed", L"not removed", L"scheduled", L"would remove", L"not searched"};
const char* const CountNames[ARRAYSIZE(Outcomes)] = {"removed", "not removed", "scheduled", "would remove",
                                                     "not searched"};

// What the report counts: by outcome the items that make the exit code, so that a fleet's
// query over the counts agrees with the code; the scopes' markers apart.
struct ItemCounts {
    DWORD byOutcome[ARRAYSIZE(Outcomes)];
    DWORD markerKeys;
};

void CountItem(ItemCounts& counts, const TriedItemReport& item)
{
    if (item.scopeMarker)
        counts.markerKeys++;
    if (!item.countsForExitCode)
        return;
    for (size_t outcome = 0; outcome < ARRAYSIZE(Outcomes); outcome++) {
        if (lstrcmpW(item.outcome, Outcomes[outcome]) == 0)
            counts.byOutcome[outcome]++;
    }
}

void WriteItems(JsonText& json, ItemCounts& counts)
{
    JsonOpenArray(json, "items");
    for (DWORD i = 0; i < TriedItemCount(); i++) {
        TriedItemReport item;
        DescribeTriedItem(i, item);
        JsonOpenObject(json, nullptr);
        JsonString(json, "kind", item.kind);
        JsonString(json, "name", item.name);
        if (item.valueName != nullptr)
            JsonString(json, "value", item.valueName);
        if (item.view != 0)
            JsonNumber(json, "view", item.view);
        else
            JsonNull(json, "view");
        JsonString(json, "outcome", item.outcome);
        if (item.hasError)
            JsonNumber(json, "error", item.error);
        JsonBool(json, "countsForExitCode", item.countsForExitCode);
        if (item.user != nullptr)
            JsonString(json, "user", item.user);
        if (item.productCode != nullptr) {
            JsonString(json, "productCode", item.productCode);
            JsonString(json, "displayName", item.displayName);
            if (item.exited)
                JsonNumber(json, "exitCode", item.exitCode);
            else
                JsonNull(json, "exitCode");
            JsonBool(json, "timedOut", item.timedOut);
        }
        JsonClose(json);
        CountItem(counts, item);
    }
    JsonClose(json);
}

void BuildReport(JsonText& json, int exitCode, const wchar_t* reportPath)
{
    SYSTEMTIME finished;
    GetSystemTime(&finished);
    PathBuffer version;
    PathBuffer computer;
    DWORD computerCount = MAX_PATH;
    PathBuffer account;
    PathBuffer sidText;
    if (!ReadProgramVersion(version))
        version[0] = L'\0';
    if (!GetComputerNameW(computer, &computerCount))
        computer[0] = L'\0';
    ReadRunningUser(account, sidText);

    JsonOpenObject(json, nullptr);
    // 2: the counts leave out what does not make the exit code (1 counted every item).
    JsonNumber(json, "format", 2);
    JsonString(json, "program", L"Zamo Clean");
    JsonString(json, "version", NullIfEmpty(version));
    JsonString(json, "computer", NullIfEmpty(computer));
    JsonString(json, "user", NullIfEmpty(account));
    JsonString(json, "userSid", NullIfEmpty(sidText));
    WriteTime(json, "started", Part->started);
    WriteTime(json, "finished", finished);
    WriteOptions(json, reportPath);
    WriteLogonOutcomeMember(json);
    JsonNumber(json, "exitCode", exitCode);
    JsonBool(json, "itemsComplete", TriedItemsComplete());
    WriteScopes(json);
    ItemCounts counts = {};
    WriteItems(json, counts);
    JsonOpenObject(json, "counts");
    for (size_t outcome = 0; outcome < ARRAYSIZE(Outcomes); outcome++)
        JsonNumber(json, CountNames[outcome], counts.byOutcome[outcome]);
    JsonClose(json);
    JsonNumber(json, "markerKeys", counts.markerKeys);
    JsonClose(json);
}

} // namespace

void NoteScope(const Scope& scope, ScopeOutcome outcome)
{
    if (!RunOptionsNow().reportRequested)
        return;
    void* scopes = Part->scopes;
    if (!MakeRoom(scopes, Part->scopeCount, Part->scopeCapacity, sizeof(ScopeMet)))
        return;
    Part->scopes = static_cast<ScopeMet*>(scopes);
    ScopeMet& met = Part->scopes[Part->scopeCount];
    met.root = scope.root;
    met.outcome = outcome;
    if (scope.sid == nullptr || !TextCopy(met.sid, scope.sid))
        met.sid[0] = L'\0';
    if (met.sid[0] == L'\0' || scope.root != HKEY_USERS || !ReadProfileFolder(scope, met.profile))
        met.profile[0] = L'\0';
    Part->scopeCount++;
}

void UseReportPart(ReportPart* part)
{
    Part = part;
}

void WriteRunReport(int exitCode)
{
    const RunOptions& options = RunOptionsNow();
    if (!options.reportRequested)
        return;
    PathBuffer path;
    DWORD error = ERROR_SUCCESS;
    if (options.reportPath[0] == L'\0') {
        path[0] = L'\0';
        error = ERROR_INVALID_NAME;
    } else if (!ExpandText(path, options.reportPath)) {
        // Logged as given: a cut expansion would name another file.
        TextCopy(path, options.reportPath);
        error = ERROR_FILENAME_EXCED_RANGE;
    }
    if (error == ERROR_SUCCESS) {
        JsonText json = {};
        BuildReport(json, exitCode, path);
        if (json.failed || json.depth != 0)
            error = ERROR_NOT_ENOUGH_MEMORY;
        else if (!ReplaceFileContent(path, json.bytes, json.length))
            error = GetLastError();
        JsonFree(json);
    }
    if (error == ERROR_SUCCESS)
        LogLine(L"Report written [%s]", path);
    else
        LogLine(L"Failed to write report [%s] [%d]", path, static_cast<int>(error));
}
