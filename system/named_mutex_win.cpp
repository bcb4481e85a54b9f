#include "system/named_mutex_win.h"

#include <windows.h>
#include <sddl.h>

namespace tessaryn {
namespace {

// Everyone may wait on it and release it (a per-user run and an elevated run meet at one mutex);
// only SYSTEM and Administrators may change its access list.
constexpr wchar_t kMutexAccess[] = L"D:(A;;0x00100001;;;WD)(A;;GA;;;SY)(A;;GA;;;BA)";

}  // namespace

NamedMutex takeNamedMutex(const std::wstring& name) {
    NamedMutex taken;
    PSECURITY_DESCRIPTOR raw = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(kMutexAccess, SDDL_REVISION_1,
                                                                &raw, nullptr))
        return taken;
    const UniqueLocalMemory descriptor(raw);
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
    taken.handle.reset(::CreateMutexW(&attributes, FALSE, name.c_str()));
    if (!taken.handle) {
        // Made by someone else with an access list that shuts us out: as good as held.
        taken.state = ::GetLastError() == ERROR_ACCESS_DENIED ? MutexTake::Held
                                                               : MutexTake::Failed;
        return taken;
    }
    const DWORD waited = ::WaitForSingleObject(taken.handle.get(), 0);
    taken.state = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED ? MutexTake::Taken
                  : waited == WAIT_TIMEOUT                             ? MutexTake::Held
                                                                       : MutexTake::Failed;
    if (taken.state != MutexTake::Taken) taken.handle.reset();
    return taken;
}

}  // namespace tessaryn
