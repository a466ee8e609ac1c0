// Command-line options and the process-wide settings they fill.
#include "app.h"

#include <shlwapi.h>
#include <wchar.h>

bool QuietMode = false;
bool PreviewMode = false;
bool AllProfiles = false;
PathBuffer Signature = L"";
PathBuffer LogPath = L"";
bool DeleteAtRestart = false;
bool ReportExitCode = false;
bool ReportRequested = false;
PathBuffer ReportPath = L"";
HWND MainWindow = nullptr;

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
        else if (StrCmpIW(argument, L"/DeleteAtRestart") == 0)
            DeleteAtRestart = true;
        else if (StrCmpIW(argument, L"/ExitCode") == 0)
            ReportExitCode = true;
        else if ((value = OptionValue(argument, L"/Signature:")) != nullptr)
            StoreValue(Signature, value);
        else if ((value = OptionValue(argument, L"/Log:")) != nullptr)
            StorePath(LogPath, value);
        else if ((value = OptionValue(argument, L"/Report:")) != nullptr) {
            ReportRequested = true;
            StorePath(ReportPath, value);
        }
    }
}
