#include "system/private_folder_win.h"

#include <windows.h>

#include <ntsecapi.h>
#include <sddl.h>

#include <memory>
#include <stdexcept>
#include <vector>

#include "system/ascii_text.h"
#include "system/handles_win.h"

namespace tessaryn {

namespace {

constexpr int kNameTries = 16;

std::wstring currentUserSid() {
    UniqueKernelHandle token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put()))
        throw std::runtime_error("Cannot read the user of this process");
    DWORD size = 0;
    ::GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    if (size == 0 ||
        !::GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size))
        throw std::runtime_error("Cannot read the user of this process");
    wchar_t* text = nullptr;
    if (!::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text))
        throw std::runtime_error("Cannot read the user of this process");
    std::wstring sid = text;
    ::LocalFree(text);
    return sid;
}

struct LocalFreeDeleter {
    void operator()(void* memory) const noexcept { ::LocalFree(memory); }
};

}  // namespace

std::wstring temporaryFolder() {
    using GetTempPath2 = DWORD(WINAPI*)(DWORD, LPWSTR);
    wchar_t folder[MAX_PATH + 1] = {};
    auto getTempPath2 = reinterpret_cast<GetTempPath2>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "GetTempPath2W")));
    DWORD length = getTempPath2 ? getTempPath2(MAX_PATH + 1, folder)
                                : ::GetTempPathW(MAX_PATH + 1, folder);
    if (length == 0 || length > MAX_PATH)
        throw std::runtime_error("The temporary folder is unknown");
    std::wstring result(folder, length);
    if (result.back() != L'\\') result += L'\\';
    return result;
}

std::wstring randomFolderName() {
    unsigned char bytes[16];
    if (!RtlGenRandom(bytes, sizeof bytes)) throw std::runtime_error("No random numbers");
    const std::string hex = lowerHex(bytes, sizeof bytes);
    return std::wstring(hex.begin(), hex.end());
}

std::wstring createPrivateFolder(const std::wstring& parent,
                                 const std::function<std::wstring()>& nextName) {
    // Full access for SYSTEM, Administrators and this user, passed on to everything inside; the
    // parent's entries are not inherited ("P").
    const std::wstring sddl = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;" +
                              currentUserSid() + L")";
    PSECURITY_DESCRIPTOR raw = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                                &raw, nullptr))
        throw std::runtime_error("Cannot make the work folder's access list");
    std::unique_ptr<void, LocalFreeDeleter> descriptor(raw);
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
    std::wstring base = parent;
    if (!base.empty() && base.back() != L'\\') base += L'\\';
    for (int attempt = 0; attempt < kNameTries; ++attempt) {
        const std::wstring folder = base + nextName();
        // Fails when anything of that name exists: a folder made by someone else is never used.
        if (::CreateDirectoryW(folder.c_str(), &attributes)) return folder + L"\\";
        if (::GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
    throw std::runtime_error("Cannot create the work folder");
}

}  // namespace tessaryn
