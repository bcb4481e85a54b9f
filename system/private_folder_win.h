#pragma once
// The elevated run's work folder: made fresh under an unguessable name in the Windows folder's
// Temp, open only to SYSTEM and the administrators, so that no program of the user can plant,
// rewrite, rename or swap its files.
#include <functional>
#include <string>

namespace tessaryn {

// The Windows folder's Temp (from GetWindowsDirectoryW, never from the environment), with a
// trailing separator. Users may make entries there but not rename or delete those of others.
std::wstring windowsTempFolder();

// The access list every private folder gets: protected (nothing inherited), full access for
// SYSTEM and Administrators, passed on to everything inside; no entry for the user.
inline constexpr wchar_t kPrivateFolderAccess[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

// Creates a new folder in `parent` named by `nextName`; a name that already exists is never
// reused, the next one is tried (at most 16). Its access list is kPrivateFolderAccess. The path
// with a trailing separator; throws when no folder could be made.
// Without `privateAccess` (the user's own %TEMP%, for an unelevated run of the user's install)
// the folder takes the access its parent hands on.
std::wstring createPrivateFolder(const std::wstring& parent,
                                 const std::function<std::wstring()>& nextName,
                                 bool privateAccess = true);

// The user's temporary folder (GetTempPathW), with a trailing separator: only for a run that
// crosses no privilege boundary.
std::wstring userTempFolder();

// The folder's access list as the system reads it back (SDDL), empty when unreadable.
std::wstring folderAccessText(const std::wstring& folder);

// A name of 32 hexadecimal digits from the system's random generator.
std::wstring randomFolderName();

}  // namespace tessaryn
