// Taking the signature off a file with the Win32 file calls.
#include <windows.h>

#include "package/signed_file.h"
#include "system/handles_win.h"

namespace tessaryn {

std::vector<uint8_t> takeTrailingSignature(const std::filesystem::path& path) {
    std::vector<uint8_t> signature(kSignatureBytes, 0);
    UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return {};
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file.get(), &size)) return {};
    if (size.QuadPart < static_cast<LONGLONG>(kSignatureBytes)) return {};
    LARGE_INTEGER payloadEnd{};
    payloadEnd.QuadPart = size.QuadPart - static_cast<LONGLONG>(kSignatureBytes);
    if (!::SetFilePointerEx(file.get(), payloadEnd, nullptr, FILE_BEGIN)) return {};
    DWORD read = 0;
    if (!::ReadFile(file.get(), signature.data(), static_cast<DWORD>(kSignatureBytes), &read,
                    nullptr) ||
        read != kSignatureBytes) {
        return {};
    }
    // Truncation comes last, so that every failure above leaves the file whole.
    if (!::SetFilePointerEx(file.get(), payloadEnd, nullptr, FILE_BEGIN)) return {};
    if (!::SetEndOfFile(file.get())) return {};
    return signature;
}

}  // namespace tessaryn
