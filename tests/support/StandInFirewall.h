// A stand-in firewall policy for the tests, over a list of rules that the test knows and reads
// back afterwards (a removed rule is gone from it).
#pragma once

#include <windows.h>
#include <objbase.h>

#include <string>
#include <vector>

struct StandInRule {
    std::wstring name;
    std::wstring program;  // empty: a rule for no one program
    HRESULT removed = S_OK;  // what removing it answers
};

// The firewall's policy object (INetFwPolicy2) over rules, with one reference; rules must outlive it.
IUnknown* MakeStandInFirewall(std::vector<StandInRule>& rules);
