#include "system/file_bytes_win.h"

#include <windows.h>

#include "system/handles_win.h"

namespace tessaryn {

bool writeFileBytes(const std::wstring& path, std::string_view bytes) {
    UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    DWORD written = 0;
    return WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                     nullptr) &&
           written == bytes.size();
}

}  // namespace tessaryn
