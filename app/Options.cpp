// Command-line options: the RunOptions they fill and the header lines that show them.
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

// A run of the current user alone does only what that user may do: what needs an administrator
// is not done, and its option only noted for its line.
void IgnoreAdministratorOptions(RunOptions& options)
{
    options.allProfilesIgnored = options.currentUserOnly && options.allProfiles;
    options.deleteAtRestartIgnored = options.currentUserOnly && options.deleteAtRestart;
    options.atNextLogonIgnored = options.currentUserOnly ? options.atNextLogon : LogonRegistration::None;
    if (options.currentUserOnly) {
        options.allProfiles = false;
        options.deleteAtRestart = false;
        options.atNextLogon = LogonRegistration::None;
    }
}

// "Cleaning the current user only [<SID>]" (empty brackets where the SID cannot be read), then
// one line for each option it ignores, in the order the options are listed.
void LogCurrentUserHeader(const RunOptions& options)
{
    PathBuffer sid;
    if (!ReadRunningUserSidText(sid))
        sid[0] = L'\0';
    LogLine(L"Cleaning the current user only [%s]", sid);
    if (options.allProfilesIgnored)
        LogIgnoredOption(L"/AllProfiles");
    if (options.deleteAtRestartIgnored)
        LogIgnoredOption(L"/DeleteAtRestart");
    if (options.atNextLogonIgnored == LogonRegistration::Register)
        LogIgnoredOption(L"/AtNextLogon");
    else if (options.atNextLogonIgnored == LogonRegistration::Withdraw)
        LogIgnoredOption(L"/WithdrawAtNextLogon");
}

} // namespace

void ParseOptions(int count, wchar_t** arguments, RunOptions& options)
{
    for (int i = 0; i < count; i++) {
        const wchar_t* argument = arguments[i];
        const wchar_t* value = nullptr;
        if (StrCmpIW(argument, L"/Quiet") == 0)
            options.quiet = true;
        else if (StrCmpIW(argument, L"/Preview") == 0)
            options.preview = true;
        else if (StrCmpIW(argument, L"/AllProfiles") == 0)
            options.allProfiles = true;
        else if (StrCmpIW(argument, L"/CurrentUser") == 0)
            options.currentUserOnly = true;
        else if (StrCmpIW(argument, L"/DeleteAtRestart") == 0)
            options.deleteAtRestart = true;
        else if (StrCmpIW(argument, L"/ExitCode") == 0)
            options.reportExitCode = true;
        else if (StrCmpIW(argument, L"/AtNextLogon") == 0)
            options.atNextLogon = LogonRegistration::Register;
        else if (StrCmpIW(argument, L"/WithdrawAtNextLogon") == 0)
            options.atNextLogon = LogonRegistration::Withdraw;
        else if ((value = OptionValue(argument, L"/Signature:")) != nullptr)
            StoreValue(options.signature, value);
        else if ((value = OptionValue(argument, L"/Log:")) != nullptr)
            StorePath(options.logPath, value);
        else if ((value = OptionValue(argument, L"/Report:")) != nullptr) {
            options.reportRequested = true;
            StorePath(options.reportPath, value);
        }
    }
    IgnoreAdministratorOptions(options);
}

void ParseCommandLine(const wchar_t* commandLine, RunOptions& options)
{
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(commandLine, &count);
    if (arguments == nullptr)
        return;
    ParseOptions(count, arguments, options);
    LocalFree(arguments);
}

void LogOptionsHeader(const RunOptions& options)
{
    if (options.quiet)
        LogLine(L"Running quietly (no UI)");
    if (options.signature[0] != L'\0')
        LogLine(L"Using signature [%s]", options.signature);
    if (options.logPath[0] != L'\0')
        LogLine(L"Using log file location [%s]", options.logPath);
    if (options.preview)
        LogLine(L"Preview: nothing will be changed");
    if (options.allProfiles)
        LogLine(L"Including user profiles that are not loaded");
    if (options.currentUserOnly)
        LogCurrentUserHeader(options);
}

void LogIgnoredOption(const wchar_t* option)
{
    LogLine(L"Option %s is ignored with /CurrentUser", option);
}
