#include "system/program_file_win.h"

#include <stdexcept>
#include <vector>

#include "system/process_win.h"

namespace tessaryn {

namespace {

bool copyBytes(HANDLE source, HANDLE target) {
    LARGE_INTEGER start{};
    if (!::SetFilePointerEx(source, start, nullptr, FILE_BEGIN)) return false;
    std::vector<char> buffer(64 * 1024);
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(source, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr))
            return false;
        if (got == 0) return true;
        DWORD put = 0;
        if (!::WriteFile(target, buffer.data(), got, &put, nullptr) || put != got) return false;
    }
}

}  // namespace

UniqueFile openProgramFile() {
    const std::wstring path = getModulePath();
    UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (path.empty() || !file) throw std::runtime_error("Setup cannot open its own file");
    return file;
}

bool copyOpenFile(HANDLE source, const std::wstring& target) {
    ::SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL);
    UniqueFile copy(::CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!copy) return false;
    if (copyBytes(source, copy.get())) return true;
    copy.reset();
    ::DeleteFileW(target.c_str());
    return false;
}

}  // namespace tessaryn
