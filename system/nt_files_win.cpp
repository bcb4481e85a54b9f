#include "system/nt_files_win.h"

#include <winternl.h>

#include <vector>

namespace tessaryn {

UniqueFile openBeneath(HANDLE folder, const std::wstring& name, ACCESS_MASK access, ULONG share,
                       ULONG disposition, ULONG options, PSECURITY_DESCRIPTOR descriptor) {
    // A name with a separator or "." / ".." would leave the folder.
    if (name.empty() || name == L"." || name == L".." ||
        name.find_first_of(L"\\/:") != std::wstring::npos || name.size() > 255)
        return UniqueFile();
    UNICODE_STRING text;
    text.Buffer = const_cast<wchar_t*>(name.c_str());
    text.Length = text.MaximumLength = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE, folder, descriptor);
    IO_STATUS_BLOCK status{};
    HANDLE opened = nullptr;
    const NTSTATUS result = ::NtCreateFile(
        &opened, access | SYNCHRONIZE, &attributes, &status, nullptr, FILE_ATTRIBUTE_NORMAL, share,
        disposition,
        options | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT |
            FILE_OPEN_FOR_BACKUP_INTENT,
        nullptr, 0);
    if (result < 0 || !opened) {
        ::SetLastError(::RtlNtStatusToDosError(result));
        return UniqueFile();
    }
    return UniqueFile(opened);
}

std::vector<FolderEntry> listFolder(HANDLE folder) {
    constexpr size_t kMaxEntries = 1000000;
    std::vector<FolderEntry> entries;
    std::vector<LONGLONG> buffer(8 * 1024);  // 64 KiB, aligned for the records
    const DWORD size = static_cast<DWORD>(buffer.size() * sizeof(LONGLONG));
    FILE_INFO_BY_HANDLE_CLASS kind = FileIdBothDirectoryRestartInfo;
    while (entries.size() < kMaxEntries &&
           ::GetFileInformationByHandleEx(folder, kind, buffer.data(), size)) {
        kind = FileIdBothDirectoryInfo;
        const auto* bytes = reinterpret_cast<const unsigned char*>(buffer.data());
        for (;;) {
            const auto* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(bytes);
            std::wstring name(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
            if (name != L"." && name != L"..")
                entries.push_back({std::move(name), entry->FileAttributes,
                                   static_cast<uint64_t>(entry->EndOfFile.QuadPart)});
            if (entry->NextEntryOffset == 0) break;
            bytes += entry->NextEntryOffset;
        }
    }
    return entries;
}

std::vector<FolderEntry> listFolder(const std::wstring& path) {
    const UniqueFile folder(::CreateFileW(
        path.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!folder) return {};
    return listFolder(folder.get());
}

std::wstring finalPathOf(HANDLE file) {
    std::vector<wchar_t> buffer(MAX_PATH + 1);
    DWORD length = ::GetFinalPathNameByHandleW(file, buffer.data(),
                                               static_cast<DWORD>(buffer.size()), 0);
    if (length >= buffer.size() && length < 32768) {
        buffer.resize(length + 1);
        length = ::GetFinalPathNameByHandleW(file, buffer.data(),
                                             static_cast<DWORD>(buffer.size()), 0);
    }
    if (length == 0 || length >= buffer.size()) return {};
    std::wstring path(buffer.data(), length);
    if (path.compare(0, 8, L"\\\\?\\UNC\\") == 0) return L"\\\\" + path.substr(8);
    if (path.compare(0, 4, L"\\\\?\\") == 0) return path.substr(4);
    return path;
}

bool reachedByPath(HANDLE file, const std::wstring& path) {
    std::wstring expected = path;
    wchar_t longer[MAX_PATH + 1] = {};
    const DWORD length = ::GetLongPathNameW(path.c_str(), longer, MAX_PATH + 1);
    if (length > 0 && length <= MAX_PATH) expected.assign(longer, length);
    return samePath(finalPathOf(file), expected);
}

bool samePath(const std::wstring& left, const std::wstring& right) {
    return ::CompareStringOrdinal(left.c_str(), static_cast<int>(left.size()), right.c_str(),
                                  static_cast<int>(right.size()), TRUE) == CSTR_EQUAL;
}

}  // namespace tessaryn
