#include "system/file_bytes_win.h"

#include <windows.h>

#include "system/handles_win.h"

namespace tessaryn {

bool writeFileBytes(const std::wstring& path, std::string_view bytes) {
    UniqueFile file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    // WriteFile takes at most 4 GiB at a time: larger contents go in parts.
    while (!bytes.empty()) {
        const size_t limit = size_t{1} << 30;
        const DWORD part = static_cast<DWORD>(bytes.size() < limit ? bytes.size() : limit);
        DWORD written = 0;
        if (!::WriteFile(file.get(), bytes.data(), part, &written, nullptr) || written == 0)
            return false;
        bytes.remove_prefix(written);
    }
    return true;
}

}  // namespace tessaryn
