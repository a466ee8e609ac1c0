// Named mutexes that runs of every user and session share, and the run lock's, which only
// administrators and SYSTEM can create or hold.
#include "MachineMutex.h"

#include "Bounded.h"
#include "ProgramNames.h"

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

namespace {

// The namespace functions are looked up, not imported: a system without them (Wine has none
// but a CreateBoundaryDescriptorW that creates nothing) must still load the program.
struct NamespaceApi {
    HANDLE(WINAPI* createBoundary)(LPCWSTR, ULONG);
    BOOL(WINAPI* addSid)(HANDLE*, PSID);
    VOID(WINAPI* deleteBoundary)(HANDLE);
    HANDLE(WINAPI* createNamespace)(LPSECURITY_ATTRIBUTES, LPVOID, LPCWSTR);
    HANDLE(WINAPI* openNamespace)(LPVOID, LPCWSTR);
    BOOLEAN(WINAPI* closeNamespace)(HANDLE, ULONG);
};

template <typename Function>
bool Find(HMODULE module, const char* name, Function& function)
{
    function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    return function != nullptr;
}

bool FindNamespaceApi(NamespaceApi& api)
{
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    return kernel != nullptr && Find(kernel, "CreateBoundaryDescriptorW", api.createBoundary) &&
           Find(kernel, "AddSIDToBoundaryDescriptor", api.addSid) &&
           Find(kernel, "DeleteBoundaryDescriptor", api.deleteBoundary) &&
           Find(kernel, "CreatePrivateNamespaceW", api.createNamespace) &&
           Find(kernel, "OpenPrivateNamespaceW", api.openNamespace) &&
           Find(kernel, "ClosePrivateNamespace", api.closeNamespace);
}

// Creates the namespace, or opens it when another run has; a run that ends between the two
// takes the namespace with it, so the pair is tried again.
HANDLE OpenNamespace(const NamespaceApi& api, HANDLE boundary, SECURITY_ATTRIBUTES& attributes)
{
    for (int attempt = 0; attempt < 3; attempt++) {
        HANDLE space = api.createNamespace(&attributes, boundary, HandedNames.program);
        if (space != nullptr || GetLastError() != ERROR_ALREADY_EXISTS)
            return space;
        space = api.openNamespace(boundary, HandedNames.program);
        if (space != nullptr || (GetLastError() != ERROR_FILE_NOT_FOUND && GetLastError() != ERROR_PATH_NOT_FOUND))
            return space;
    }
    return nullptr;
}

} // namespace

AdministratorsMutex OpenAdministratorsMutex(const wchar_t* name)
{
    AdministratorsMutex opened = {nullptr, nullptr};
    NamespaceApi api;
    HANDLE boundary = FindNamespaceApi(api) ? api.createBoundary(HandedNames.program, 0) : nullptr;
    if (boundary == nullptr) {
        // A system without private namespaces (Wine) has no place that only administrators can
        // create a name in: the shared name keeps two runs apart there, and a holder that
        // never gives it back costs a run no more than its bounded wait. Where the namespace
        // exists but refuses this process, the shared name is never used: a standard user
        // could have created it first.
        opened.mutex = OpenMachineMutex(name);
        return opened;
    }
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    DWORD sidSize = sizeof(administrators);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &sidSize) &&
        api.addSid(&boundary, administrators) &&
        ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(A;;GA;;;SY)(A;;GA;;;BA)", SDDL_REVISION_1,
                                                             &descriptor, nullptr)) {
        SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor, FALSE};
        opened.space = OpenNamespace(api, boundary, attributes);
        PathBuffer fullName;
        if (opened.space != nullptr && FormatText(fullName, L"%s\\%s", HandedNames.program, name))
            opened.mutex = CreateMutexW(&attributes, FALSE, fullName);
        if (opened.mutex == nullptr && opened.space != nullptr) {
            api.closeNamespace(opened.space, 0);
            opened.space = nullptr;
        }
    }
    if (descriptor != nullptr)
        LocalFree(descriptor);
    api.deleteBoundary(boundary);
    return opened;
}

void CloseAdministratorsMutex(AdministratorsMutex& opened)
{
    if (opened.mutex != nullptr)
        CloseHandle(opened.mutex);
    NamespaceApi api;
    if (opened.space != nullptr && FindNamespaceApi(api))
        api.closeNamespace(opened.space, 0);
    opened = {nullptr, nullptr};
}
