// Named mutexes that runs of every user and session share.
#include "MachineMutex.h"

#include "Bounded.h"

HANDLE OpenMachineMutex(const wchar_t* name)
{
    // No DACL: a run as SYSTEM and a user's run wait on one mutex.
    SECURITY_DESCRIPTOR everyone;
    InitializeSecurityDescriptor(&everyone, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&everyone, TRUE, nullptr, FALSE);
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), &everyone, FALSE};
    const wchar_t* const namespaces[2] = {L"Global", L"Local"};
    for (const wchar_t* space : namespaces) {
        PathBuffer fullName;
        if (!FormatText(fullName, L"%s\\%s", space, name))
            return nullptr;
        HANDLE mutex = CreateMutexW(&attributes, FALSE, fullName);
        if (mutex == nullptr)
            mutex = OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, fullName);
        if (mutex != nullptr)
            return mutex;
    }
    return nullptr;
}
