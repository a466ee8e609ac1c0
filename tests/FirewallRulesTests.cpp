// The firewall step's finding, matching and removing, against a firewall that has rules: a
// stand-in registered for CLSID_NetFwPolicy2 in this process over a known list (Wine's firewall
// has none).
#include "change/RunOutcome.h"
#include "clean/starts/FirewallRules.h"
#include "common/Settings.h"
#include "support/StandIn.h"
#include "support/StandInFirewall.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <netfw.h>

namespace {

typedef std::vector<std::wstring> Lines;

class FirewallRulesTest : public ::testing::Test {
protected:
    FirewallRulesTest()
        : programFiles(L"ProgramFiles", (programs / L"PF").c_str()),
          programFilesX86(L"ProgramFiles(x86)", (programs / L"PF86").c_str()),
          programW6432(L"ProgramW6432", (programs / L"PF64").c_str())
    {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        firewall = StandInClass::Register(CLSID_NetFwPolicy2, [this]() { return MakeStandInFirewall(rules); });
    }
    ~FirewallRulesTest() override
    {
        firewall->Revoke();
        CoUninitialize();
    }
    void SetUp() override { ASSERT_TRUE(firewall->Registered()); }
    std::wstring Pf86(const std::wstring& tail) const { return programs / (L"PF86" + tail); }
    static StandInRule Rule(const wchar_t* name, const std::wstring& program)
    {
        StandInRule rule;
        rule.name = name;
        rule.program = program;
        return rule;
    }
    // The rules left, as "name|program".
    Lines Left() const
    {
        Lines left;
        for (const StandInRule& rule : rules)
            left.push_back(rule.name + L"|" + rule.program);
        return left;
    }

    TempFolder programs;
    LogCapture log;
    ScopedVariable programFiles;
    ScopedVariable programFilesX86;
    ScopedVariable programW6432;
    std::vector<StandInRule> rules;
    StandInClass* firewall = nullptr;
};

// Every rule of a name the product's rules alone carry goes (each of them, the name logged once);
// a name another program's rule shares stays whole, logged as failed with 5; another maker's
// rules, a rule for a program in a folder that only begins like the product's and a rule for no
// program stay.
TEST_F(FirewallRulesTest, ProductRulesAreRemovedSharedNamesStay)
{
    const std::wstring zamo = Pf86(L"\\Quorvex\\Zamo\\Zamo.exe");
    const std::wstring tools = Pf86(L"\\Quorvex Tools\\tool.exe");
    rules = {Rule(L"Zamo", zamo), Rule(L"Zamo Sync", L"%ProgramFiles(x86)%\\Quorvex\\Zamo\\ZamoSync.exe"),
             Rule(L"Fenwick Notes", L"C:\\Fenwick\\notes.exe"), Rule(L"Zamo", L"\"" + zamo + L"\""),
             Rule(L"Zamo Sync", L"C:\\Fenwick\\sync.exe"), Rule(L"Zamo Tools", tools), Rule(L"Zamo Any", L"")};
    const Lines seeded = Left();

    {
        PreviewRun preview;
        RemoveFirewallRules();
    }
    EXPECT_EQ(log.Lines(), Lines{L"Would remove firewall rule [Zamo]"});
    EXPECT_EQ(Left(), seeded);

    log.Clear();
    RemoveFirewallRules();
    EXPECT_EQ(log.Lines(), (Lines{L"Removing firewall rule [Zamo]",
                                  L"Failed to remove firewall rule [Zamo Sync] [5]"}));
    EXPECT_EQ(Left(), (Lines{L"Zamo Sync|%ProgramFiles(x86)%\\Quorvex\\Zamo\\ZamoSync.exe",
                             L"Fenwick Notes|C:\\Fenwick\\notes.exe", L"Zamo Sync|C:\\Fenwick\\sync.exe",
                             L"Zamo Tools|" + tools, L"Zamo Any|"}));
}

// With "/ExitCode": a rule the firewall refuses to remove and a shared name both stay, each
// logged with 5 and named in "Not removed", and the run ends with 1.
TEST_F(FirewallRulesTest, RulesThatStayCountForTheExitCode)
{
    rules = {Rule(L"Zamo Sync", Pf86(L"\\Quorvex\\ZamoSync.exe")), Rule(L"Zamo", Pf86(L"\\Quorvex\\Zamo.exe")),
             Rule(L"Zamo Sync", L"C:\\Fenwick\\sync.exe")};
    rules[1].removed = E_ACCESSDENIED;
    struct Option {
        Option() { ReportExitCode = true; ClearTriedItems(); }
        ~Option() { ClearTriedItems(); ReportExitCode = false; }
    } option;

    RemoveFirewallRules();
    EXPECT_EQ(LogRunOutcome(), 1);
    EXPECT_EQ(log.Lines(), (Lines{L"Failed to remove firewall rule [Zamo Sync] [5]", L"Removing firewall rule [Zamo]",
                                  L"Failed to remove firewall rule [Zamo] [5]",
                                  L"Not removed: firewall rule [Zamo Sync]", L"Not removed: firewall rule [Zamo]",
                                  L"Exit code [1]"}));
    EXPECT_EQ(rules.size(), 3u);
}

} // namespace
