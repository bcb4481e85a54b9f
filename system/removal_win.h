#pragma once
// Removing folder trees, and the uninstaller removing itself after it has ended.
#include <string>

namespace tessaryn {

// Removes the folder and everything in it, read-only files included. Junctions and symbolic
// links inside are removed as links; what they point to is left alone. False for an empty path,
// one longer than 256 characters, or when the folder itself could not be removed.
[[nodiscard]] bool deleteDirectoryTree(const std::wstring& path);

// Starts a hidden clean-up script that deletes this program's file once it has ended, then the
// installation folder (UTF-8) and the script, and ends the process with exit code 0.
[[noreturn]] void selfRemove(const std::string& installDir);

}  // namespace tessaryn
