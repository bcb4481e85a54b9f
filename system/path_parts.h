#pragma once
// Cutting file-system paths into folder, file name and base name. Both "\" and "/" separate.
#include <string>
#include <string_view>

namespace tessaryn {

// The text after the last separator (the whole path when it has none).
std::wstring fileNameOf(std::wstring_view path);

// The file name cut at its first "." ("Tessaryn.1.2.exe" gives "Tessaryn").
std::wstring baseNameOf(std::wstring_view path);

// The text before the last separator, without it; the whole path when there is none.
std::wstring directoryOf(std::wstring_view path);

// The path without separators at its end, but a root keeps its own: "C:\" (a drive's root,
// also behind "\\?\") and "\" stay as they are, as "C:" would name the drive's current folder.
std::wstring withoutTrailingSeparator(std::wstring path);

// True when the path holds a "\" or "/".
bool hasSeparator(std::wstring_view path);

}  // namespace tessaryn
