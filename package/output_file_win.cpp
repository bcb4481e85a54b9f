#include <windows.h>

#include "package/output_file.h"
#include "system/file_tree_win.h"
#include "system/system_reason.h"
#include "system/unicode_win.h"

namespace tessaryn {

bool isPathSeparator(char c) {
    return c == '\\' || c == '/';
}

bool OutputFile::create(const std::string& path) {
    discard();
    path_ = path;
    HANDLE file = ::CreateFileW(toWide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    file_ = reinterpret_cast<intptr_t>(file);
    return true;
}

bool OutputFile::write(const uint8_t* data, size_t size) {
    HANDLE file = reinterpret_cast<HANDLE>(file_);
    while (size > 0) {
        const DWORD part = static_cast<DWORD>(size < (1u << 30) ? size : (1u << 30));
        DWORD written = 0;
        if (!::WriteFile(file, data, part, &written, nullptr) || written == 0) return false;
        data += written;
        size -= written;
    }
    return true;
}

bool OutputFile::finish(bool flush) {
    if (file_ == -1) return false;
    if (flush && !::FlushFileBuffers(reinterpret_cast<HANDLE>(file_))) return false;
    const bool closed = ::CloseHandle(reinterpret_cast<HANDLE>(file_)) != 0;
    file_ = -1;
    return closed;
}

void OutputFile::discard() noexcept {
    if (file_ == -1) return;
    ::CloseHandle(reinterpret_cast<HANDLE>(file_));
    file_ = -1;
    ::DeleteFileW(toWide(path_).c_str());
}

UnpackResult makeDirectories(const std::string& path, size_t entry) {
    const std::wstring wide = toWide(path);
    // Every prefix that ends before a separator is a folder to have; the drive or share part
    // ("C:", "\\host\share") fails to be made and is taken as it is.
    for (size_t at = 0; at <= wide.size(); ++at) {
        if (at < wide.size() && wide[at] != L'\\' && wide[at] != L'/') continue;
        if (at == 0) continue;
        const std::wstring prefix = wide.substr(0, at);
        if (prefix.back() == L':' || prefix.back() == L'\\' || prefix.back() == L'/') continue;
        if (::CreateDirectoryW(prefix.c_str(), nullptr)) continue;
        const DWORD error = ::GetLastError();
        if (isDirectory(prefix)) continue;
        // Parts of a share name ("\\host") cannot be made but are no failure.
        if (at < wide.size() && error != ERROR_ALREADY_EXISTS) continue;
        return UnpackResult::failed(entry, "filesystem error: create_directories: " +
                                               systemReason(static_cast<int>(error)) + " [" +
                                               path + "]");
    }
    return UnpackResult::done();
}

}  // namespace tessaryn
