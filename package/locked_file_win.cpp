// The locked view on Windows: no write or delete sharing, so neither other programs nor other
// handles of this one can alter, rename or delete the file while the view exists.
#include <windows.h>


#include "package/locked_file.h"
#include "system/unicode_win.h"

namespace tessaryn {

void LockedFile::close() noexcept {
    if (data_) ::UnmapViewOfFile(data_);
    if (mapping_) ::CloseHandle(reinterpret_cast<HANDLE>(mapping_));
    if (file_ != -1) ::CloseHandle(reinterpret_cast<HANDLE>(file_));
    data_ = nullptr;
    size_ = 0;
    mapping_ = 0;
    file_ = -1;
}

std::optional<LockedFile> LockedFile::open(const std::string& path, int* systemCode) {
    HANDLE file = ::CreateFileW(toWide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN,
                                nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        if (systemCode) *systemCode = static_cast<int>(::GetLastError());
        return std::nullopt;
    }
    return adopt(reinterpret_cast<intptr_t>(file), systemCode);
}

std::optional<LockedFile> LockedFile::adopt(intptr_t handle, int* systemCode) {
    LockedFile result;
    auto fail = [systemCode]() -> std::optional<LockedFile> {
        if (systemCode) *systemCode = static_cast<int>(::GetLastError());
        return std::nullopt;
    };
    HANDLE file = reinterpret_cast<HANDLE>(handle);
    result.file_ = handle;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(file, &info)) return fail();
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        ::SetLastError(ERROR_ACCESS_DENIED);
        return fail();
    }
    const uint64_t size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    if (size > SIZE_MAX) {
        ::SetLastError(ERROR_FILE_TOO_LARGE);
        return fail();
    }
    // An empty file cannot be mapped; it is a view of no bytes.
    if (size == 0) return result;
    HANDLE mapping = ::CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (!mapping) return fail();
    result.mapping_ = reinterpret_cast<intptr_t>(mapping);
    const void* view = ::MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
    if (!view) return fail();
    result.data_ = static_cast<const uint8_t*>(view);
    result.size_ = static_cast<size_t>(size);
    return result;
}

}  // namespace tessaryn
