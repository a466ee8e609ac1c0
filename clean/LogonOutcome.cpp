// The registration's outcome, kept for the run's report.
#include "LogonOutcome.h"

#include "RunSteps.h"

namespace {

LogonOutcome* Outcome = nullptr;

} // namespace

LogonOutcome& RunLogonOutcome()
{
    return *Outcome;
}

void UseLogonOutcome(LogonOutcome* outcome)
{
    Outcome = outcome;
}

void WriteLogonOutcomeMember(JsonText& json)
{
    if (RunOptionsNow().atNextLogon != LogonRegistration::Register)
        return;
    JsonOpenObject(json, "atNextLogon");
    JsonBool(json, "registered", Outcome->registered);
    JsonString(json, "command", Outcome->tried && Outcome->command[0] != L'\0' ? Outcome->command : nullptr);
    JsonString(json, "version", Outcome->version[0] != L'\0' ? Outcome->version : nullptr);
    if (Outcome->error != ERROR_SUCCESS)
        JsonNumber(json, "error", Outcome->error);
    else
        JsonNull(json, "error");
    JsonClose(json);
}
