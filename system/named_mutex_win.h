#pragma once
// A mutex by name, so that two runs that must not overlap see each other.
#include <string>

#include "system/handles_win.h"

namespace tessaryn {

enum class MutexTake {
    Taken,      // ours until the handle closes (also when a crashed run left it abandoned)
    Held,       // another process holds it, or made it so that this one cannot open it
    Failed,     // the system could not make it: the caller decides
};

struct NamedMutex {
    UniqueKernelHandle handle;  // held while it is open; closing it lets the next run in
    MutexTake state = MutexTake::Failed;
};

// Opens or makes the mutex `name` (e.g. "Global\\..." for the whole machine) with an access list
// that lets every user open and wait on it, and takes it without waiting. Any program of any
// user can hold such a name: at worst they keep runs from starting, never more.
NamedMutex takeNamedMutex(const std::wstring& name);

}  // namespace tessaryn
