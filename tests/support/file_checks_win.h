#pragma once
// What a test reads back from the disk on its own, apart from the code it checks.
#include <windows.h>

#include <string>

namespace tessaryn::testing {

// A file or folder by that name, whatever its attributes.
inline bool exists(const std::wstring& path) {
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace tessaryn::testing
