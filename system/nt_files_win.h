#pragma once
// Files opened relative to an open folder, never through a link, and what a handle really names.
// A path is looked up again at every use, so a folder swapped for a link between two uses leads
// elsewhere; a handle keeps the object it was opened on.
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "system/handles_win.h"

namespace tessaryn {

// Opens (or with `disposition` FILE_CREATE makes) `name`, one part of a path, inside the folder
// held by `folder`. A link is opened as itself where the system can (FILE_OPEN_REPARSE_POINT);
// `options` adds NtCreateFile options; `descriptor`, when given, is the new object's security.
// Invalid on failure.
UniqueFile openBeneath(HANDLE folder, const std::wstring& name, ACCESS_MASK access, ULONG share,
                       ULONG disposition, ULONG options, PSECURITY_DESCRIPTOR descriptor = nullptr);

struct FolderEntry {
    std::wstring name;
    DWORD attributes;
    uint64_t size;
};

// The entries of the folder held open ("." and ".." left out), read through its handle.
std::vector<FolderEntry> listFolder(HANDLE folder);

// The entries of the folder at `path`, opened with every kind of sharing, so that a folder
// another part of the run holds against renaming can still be listed. Empty when unreadable.
std::vector<FolderEntry> listFolder(const std::wstring& path);

// The path the handle's object has now (GetFinalPathNameByHandleW), as a drive path without the
// "\\?\" prefix; empty when unknown.
std::wstring finalPathOf(HANDLE file);

// Whether the open file is what `path` (full, existing) names with no link on the way: its final
// path is the path itself, short (8.3) names spelled out.
bool reachedByPath(HANDLE file, const std::wstring& path);

// Paths compared as the file system does, ignoring case.
bool samePath(const std::wstring& left, const std::wstring& right);

}  // namespace tessaryn
