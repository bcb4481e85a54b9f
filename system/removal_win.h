#pragma once
// Removing folder trees, and the uninstaller removing itself after it has ended.
#include <string>

namespace tessaryn {

// Removes the folder and everything in it, read-only files included. Junctions and symbolic
// links inside are removed as links; what they point to is left alone. False for an empty path,
// one longer than 256 characters, or when the folder itself could not be removed.
[[nodiscard]] bool deleteDirectoryTree(const std::wstring& path);

// Writes the clean-up script into the run's private work folder (ending in a separator) and starts
// it hidden: it deletes this program's file once it has ended, then the installation folder,
// then the work folder with itself. Ends the process with exit code 0, or with -1 when
// the script could not be written or started (it is never started then).
[[noreturn]] void selfRemove(const std::wstring& installDir, const std::wstring& workDir);

}  // namespace tessaryn
