// Command-line options: the settings they fill and the header lines that show them.
#include "app.h"

#include "../common/RunningUser.h"
#include "../log/log.h"

#include <shellapi.h>
#include <shlwapi.h>
#include <wchar.h>

namespace {

// The value behind an option that takes one ("/Log:"), or null when argument is not that option.
const wchar_t* OptionValue(const wchar_t* argument, const wchar_t* option)
{
    return StrStrIW(argument, option) == argument ? argument + wcslen(option) : nullptr;
}

// A value too long for its 260-character setting is never cut into a different
// signature or path: the setting is cleared, as by the option with no value.
void StoreValue(PathBuffer& setting, const wchar_t* value)
{
    if (!TextCopy(setting, value))
        setting[0] = L'\0';
}

// "/Log:" and "/Report:" values lose the whole run of double quotes at their end, then at
// their start.
void StorePath(PathBuffer& setting, const wchar_t* value)
{
    size_t end = wcslen(value);
    while (end > 0 && value[end - 1] == L'"')
        end--;
    size_t start = 0;
    while (start < end && value[start] == L'"')
        start++;
    if (end - start >= MAX_PATH) {
        setting[0] = L'\0';
        return;
    }
    wmemcpy(setting, value + start, end - start);
    setting[end - start] = L'\0';
}

// Options given that need an administrator, which a run of the current user alone ignores.
bool AllProfilesIgnored = false;
bool DeleteAtRestartIgnored = false;
// Of "/AtNextLogon" and "/WithdrawAtNextLogon", the one that won: a logon run registers nothing.
LogonRegistration LogonRegistrationIgnored = LogonRegistration::None;

// A run of the current user alone does only what that user may do: what needs an administrator
// is not done, and its option only noted for its line.
void IgnoreAdministratorOptions()
{
    AllProfilesIgnored = CurrentUserOnly && AllProfiles;
    DeleteAtRestartIgnored = CurrentUserOnly && DeleteAtRestart;
    LogonRegistrationIgnored = CurrentUserOnly ? AtNextLogon : LogonRegistration::None;
    if (CurrentUserOnly) {
        AllProfiles = false;
        DeleteAtRestart = false;
        AtNextLogon = LogonRegistration::None;
    }
}

// "Cleaning the current user only [<SID>]" (empty brackets where the SID cannot be read), then
// one line for each option it ignores, in the order the options are listed.
void LogCurrentUserHeader()
{
    PathBuffer sid;
    if (!ReadRunningUserSidText(sid))
        sid[0] = L'\0';
    LogLine(L"Cleaning the current user only [%s]", sid);
    if (AllProfilesIgnored)
        LogIgnoredOption(L"/AllProfiles");
    if (DeleteAtRestartIgnored)
        LogIgnoredOption(L"/DeleteAtRestart");
    if (LogonRegistrationIgnored == LogonRegistration::Register)
        LogIgnoredOption(L"/AtNextLogon");
    else if (LogonRegistrationIgnored == LogonRegistration::Withdraw)
        LogIgnoredOption(L"/WithdrawAtNextLogon");
}

} // namespace

void ParseOptions(int count, wchar_t** arguments)
{
    for (int i = 0; i < count; i++) {
        const wchar_t* argument = arguments[i];
        const wchar_t* value = nullptr;
        if (StrCmpIW(argument, L"/Quiet") == 0)
            QuietMode = true;
        else if (StrCmpIW(argument, L"/Preview") == 0)
            PreviewMode = true;
        else if (StrCmpIW(argument, L"/AllProfiles") == 0)
            AllProfiles = true;
        else if (StrCmpIW(argument, L"/CurrentUser") == 0)
            CurrentUserOnly = true;
        else if (StrCmpIW(argument, L"/DeleteAtRestart") == 0)
            DeleteAtRestart = true;
        else if (StrCmpIW(argument, L"/ExitCode") == 0)
            ReportExitCode = true;
        else if (StrCmpIW(argument, L"/AtNextLogon") == 0)
            AtNextLogon = LogonRegistration::Register;
        else if (StrCmpIW(argument, L"/WithdrawAtNextLogon") == 0)
            AtNextLogon = LogonRegistration::Withdraw;
        else if ((value = OptionValue(argument, L"/Signature:")) != nullptr)
            StoreValue(Signature, value);
        else if ((value = OptionValue(argument, L"/Log:")) != nullptr)
            StorePath(LogPath, value);
        else if ((value = OptionValue(argument, L"/Report:")) != nullptr) {
            ReportRequested = true;
            StorePath(ReportPath, value);
        }
    }
    IgnoreAdministratorOptions();
}

void ParseCommandLine(const wchar_t* commandLine)
{
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(commandLine, &count);
    if (arguments == nullptr)
        return;
    ParseOptions(count, arguments);
    LocalFree(arguments);
}

void LogOptionsHeader()
{
    if (QuietMode)
        LogLine(L"Running quietly (no UI)");
    if (Signature[0] != L'\0')
        LogLine(L"Using signature [%s]", Signature);
    if (LogPath[0] != L'\0')
        LogLine(L"Using log file location [%s]", LogPath);
    if (PreviewMode)
        LogLine(L"Preview: nothing will be changed");
    if (AllProfiles)
        LogLine(L"Including user profiles that are not loaded");
    if (CurrentUserOnly)
        LogCurrentUserHeader();
}

void LogIgnoredOption(const wchar_t* option)
{
    LogLine(L"Option %s is ignored with /CurrentUser", option);
}
