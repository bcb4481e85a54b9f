#include "system/program_file_win.h"

#include <stdexcept>
#include <vector>

#include "system/process_win.h"

#include <psapi.h>
#include <winternl.h>

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

bool sameIdentity(HANDLE left, HANDLE right) {
    BY_HANDLE_FILE_INFORMATION a{};
    BY_HANDLE_FILE_INFORMATION b{};
    return ::GetFileInformationByHandle(left, &a) && ::GetFileInformationByHandle(right, &b) &&
           a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
           a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}

}  // namespace

bool isRunningImage(HANDLE file) {
    // The file the system mapped as this program, by the name the system gives it now (an NT
    // name: "\Device\HarddiskVolumeN\..." on Windows, "\??\C:\..." under Wine).
    std::vector<wchar_t> name(32768);
    const DWORD length =
        ::K32GetMappedFileNameW(::GetCurrentProcess(), ::GetModuleHandleW(nullptr), name.data(),
                                static_cast<DWORD>(name.size()));
    if (length == 0 || length >= name.size() || length > 32000) return false;
    UNICODE_STRING text;
    text.Buffer = name.data();
    text.Length = text.MaximumLength = static_cast<USHORT>(length * sizeof(wchar_t));
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
    IO_STATUS_BLOCK status{};
    HANDLE opened = nullptr;
    if (::NtCreateFile(&opened, FILE_READ_ATTRIBUTES | SYNCHRONIZE, &attributes, &status, nullptr,
                       0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN,
                       FILE_NON_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0) < 0 ||
        !opened)
        return false;
    const UniqueFile image(opened);
    return sameIdentity(image.get(), file);
}

UniqueFile openProgramFile() {
    const std::wstring path = getModulePath();
    UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (path.empty() || !file) throw std::runtime_error("Setup cannot open its own file");
    // Opened by name: renamed and replaced in the first moments, the name leads to another
    // file, which must never become unins000.exe. Held now, the file can no longer be renamed.
    if (!isRunningImage(file.get()))
        throw std::runtime_error("Setup's own file was replaced while it started");
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
