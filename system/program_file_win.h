#pragma once
// The running program's own file, held for the whole run: the uninstaller is copied from it, so
// that it is the file that was started (and checked by the system), whatever another program
// later renames or puts under its name.
#include <string>

#include "system/handles_win.h"

namespace tessaryn {

// Opens the program's file for reading, sharing reading only: while it is held, nobody can
// write, rename or delete it. Throws when it cannot be opened or is not the running image.
UniqueFile openProgramFile();

// Whether the open file is the one mapped as this program's image (same volume and file ID as
// the file the system names for the image now), not merely one of the same name or bytes.
bool isRunningImage(HANDLE file);

// Copies everything the file holds, from its start, into `target`, replacing a file of that name
// (a read-only one too). The copy is never read-only. On failure no partial copy is left.
bool copyOpenFile(HANDLE source, const std::wstring& target);

}  // namespace tessaryn
