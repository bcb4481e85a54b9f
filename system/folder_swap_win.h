#pragma once
// Whole folders moved within one volume: the staging folder an install unpacks into, the backup
// an old version is moved aside to during an upgrade, and what a killed run left behind.
// Folder paths here carry no trailing separator.
#include <string>

#include "system/handles_win.h"
#include "system/side_folder_name.h"

namespace tessaryn {

// The folder's path without a trailing separator, and the folder it lies in.
std::wstring parentFolder(const std::wstring& folder);

// A path beside the folder for a side folder of the product, with fresh random digits; empty
// when the system gave no random bytes. The path is not created.
std::wstring freshSideFolderPath(const std::wstring& folder, const std::wstring& product,
                                 SideFolderKind kind);

// Creates a new hidden staging folder beside the folder, with kPrivateFolderAccess (no entry for
// Users: until it is in place, no program of the user can open a file in it and so hold the
// folder against its rename), and gives
// the handle it was made with: delete access, no delete sharing, so that nothing else can hold
// it against a rename. Never opens one that already exists. Sets `path`; invalid on failure.
// Without `privateAccess` (an unelevated run in the user's own folder, which the user must write
// in) it takes the access its parent hands on.
UniqueFile createStagingFolder(const std::wstring& folder, const std::wstring& product,
                               std::wstring& path, bool privateAccess = true);

// Renames the folder held by the handle (opened with delete access) to `to`, on the same
// volume; false when `to` exists or the rename fails.
[[nodiscard]] bool renameHeldFolder(HANDLE folder, const std::wstring& to);

// Opens the folder without delete sharing: while the handle lives, no other run of the setup
// takes the folder for a leftover, and nothing renames or deletes it. Programs may still start
// in it (their current folder is opened without delete sharing, which delete access would bar).
UniqueFile holdFolder(const std::wstring& folder);

// The same with delete access, for renameHeldFolder, the folder opened as itself (a link is not
// followed). Invalid when another program holds the folder so that it could not be moved.
UniqueFile openFolderToMove(const std::wstring& folder);

// The access list a folder in place gets, passed on to everything in it: what its parent passes
// on (Program Files: Users may read and run), nothing of its own.
[[nodiscard]] bool inheritParentAccess(const std::wstring& folder);

// Renames a folder on the same volume; never copies. False when the target exists.
[[nodiscard]] bool moveFolder(const std::wstring& from, const std::wstring& to);

// Removes the folder tree. What cannot be deleted now (a file held open by another program) is
// marked for deletion at the next restart. True when the folder is gone now.
[[nodiscard]] bool removeFolderNowOrAtRestart(const std::wstring& folder);

// Removes the side folders of the product beside the folder that no running setup holds. Only
// names made for this product qualify, and links among them are removed as links. When the
// folder itself is missing, a backup is moved back into its place instead: a run killed while
// the old version stood aside leaves it there.
void removeLeftoverSideFolders(const std::wstring& folder, const std::wstring& product);

}  // namespace tessaryn
