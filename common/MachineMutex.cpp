// Named mutexes that runs of every user and session share.
#include "MachineMutex.h"

#include "Bounded.h"

#include <sddl.h>

HANDLE OpenMachineMutex(const wchar_t* name)
{
    // Everyone may wait on it and release it, so that a run as SYSTEM and a user's run share
    // one mutex; only SYSTEM and administrators may change it. No DACL at all would let any
    // user take the mutex over (its owner and access list) and shut every later run out.
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(A;;0x00100001;;;WD)(A;;GA;;;SY)(A;;GA;;;BA)",
                                                              SDDL_REVISION_1, &descriptor, nullptr))
        return nullptr;
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor, FALSE};
    HANDLE mutex = nullptr;
    const wchar_t* const namespaces[2] = {L"Global", L"Local"};
    for (const wchar_t* space : namespaces) {
        PathBuffer fullName;
        if (!FormatText(fullName, L"%s\\%s", space, name))
            break;
        // Made by another user's run, the mutex opens with the rights everyone has.
        mutex = CreateMutexW(&attributes, FALSE, fullName);
        if (mutex == nullptr)
            mutex = OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, fullName);
        if (mutex != nullptr)
            break;
    }
    LocalFree(descriptor);
    return mutex;
}
