#pragma once
// The run's work folder: made fresh under an unguessable name, open only to SYSTEM, the
// administrators and the current user, so that no other program can plant or swap its files.
#include <functional>
#include <string>

namespace tessaryn {

// The temporary folder for this process (GetTempPath2W where the system has it, so that SYSTEM
// gets the protected system temporary folder), with a trailing separator.
std::wstring temporaryFolder();

// Creates a new folder in `parent` named by `nextName`; a name that already exists is never
// reused, the next one is tried (at most 16). Its access list is protected (nothing inherited)
// and lets in only SYSTEM, Administrators and the current user. The path with a trailing
// separator; throws when no folder could be made.
std::wstring createPrivateFolder(const std::wstring& parent,
                                 const std::function<std::wstring()>& nextName);

// A name of 32 hexadecimal digits from the system's random generator.
std::wstring randomFolderName();

}  // namespace tessaryn
