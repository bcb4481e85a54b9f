#include "system/private_folder_win.h"

#include <windows.h>

#include <ntsecapi.h>
#include <aclapi.h>
#include <sddl.h>

#include <memory>
#include <stdexcept>
#include <vector>

#include "system/ascii_text.h"
#include "system/handles_win.h"

namespace tessaryn {

namespace {

constexpr int kNameTries = 16;

}  // namespace

std::wstring windowsTempFolder() {
    wchar_t folder[MAX_PATH + 1] = {};
    const UINT length = ::GetWindowsDirectoryW(folder, MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH - 6)
        throw std::runtime_error("The Windows folder is unknown");
    std::wstring result(folder, length);
    if (result.back() != L'\\') result += L'\\';
    return result + L"Temp\\";
}

std::wstring folderAccessText(const std::wstring& folder) {
    PSECURITY_DESCRIPTOR raw = nullptr;
    if (::GetNamedSecurityInfoW(folder.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                nullptr, nullptr, nullptr, nullptr, &raw) != ERROR_SUCCESS)
        return {};
    const UniqueLocalMemory descriptor(raw);
    LocalMemoryOf<wchar_t> text;
    if (!::ConvertSecurityDescriptorToStringSecurityDescriptorW(
            raw, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, text.put(), nullptr))
        return {};
    return text.get();
}

std::wstring randomFolderName() {
    unsigned char bytes[16];
    if (!RtlGenRandom(bytes, sizeof bytes)) throw std::runtime_error("No random numbers");
    const std::string hex = lowerHex(bytes, sizeof bytes);
    return std::wstring(hex.begin(), hex.end());
}

std::wstring userTempFolder() {
    wchar_t folder[MAX_PATH + 1] = {};
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, folder);
    if (length == 0 || length > MAX_PATH - 34) throw std::runtime_error("The Temp folder is unknown");
    std::wstring result(folder, length);
    if (result.back() != L'\\') result += L'\\';
    return result;
}

std::wstring createPrivateFolder(const std::wstring& parent,
                                 const std::function<std::wstring()>& nextName,
                                 bool privateAccess) {
    PSECURITY_DESCRIPTOR raw = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(
            kPrivateFolderAccess, SDDL_REVISION_1, &raw, nullptr))
        throw std::runtime_error("Cannot make the work folder's access list");
    const UniqueLocalMemory descriptor(raw);
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
    SECURITY_ATTRIBUTES* access = privateAccess ? &attributes : nullptr;
    std::wstring base = parent;
    if (!base.empty() && base.back() != L'\\') base += L'\\';
    for (int attempt = 0; attempt < kNameTries; ++attempt) {
        const std::wstring folder = base + nextName();
        // Fails when anything of that name exists: a folder made by someone else is never used.
        if (::CreateDirectoryW(folder.c_str(), access)) return folder + L"\\";
        if (::GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
    throw std::runtime_error("Cannot create the work folder");
}

}  // namespace tessaryn
