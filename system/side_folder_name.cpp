#include "system/side_folder_name.h"

#include "system/ascii_text.h"

namespace tessaryn {
namespace {

constexpr std::wstring_view kStaging = L"-staging-";
constexpr std::wstring_view kBackup = L"-backup-";

bool isRandomPart(std::wstring_view text) {
    if (text.size() != kSideFolderRandomDigits) return false;
    for (wchar_t c : text)
        if (!((c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f'))) return false;
    return true;
}

}  // namespace

std::wstring sideFolderName(std::wstring_view product, SideFolderKind kind,
                            std::wstring_view randomHex) {
    std::wstring name = L".";
    name += product;
    name += kind == SideFolderKind::Staging ? kStaging : kBackup;
    name += randomHex;
    return name;
}

std::optional<SideFolderKind> sideFolderKindOf(std::wstring_view name, std::wstring_view product) {
    if (product.empty() || name.empty() || name.front() != L'.') return std::nullopt;
    name.remove_prefix(1);
    if (!startsWithIgnoringAsciiCase(name, product)) return std::nullopt;
    name.remove_prefix(product.size());
    if (name.substr(0, kStaging.size()) == kStaging && isRandomPart(name.substr(kStaging.size())))
        return SideFolderKind::Staging;
    if (name.substr(0, kBackup.size()) == kBackup && isRandomPart(name.substr(kBackup.size())))
        return SideFolderKind::Backup;
    return std::nullopt;
}

std::wstring hexDigits(const unsigned char* bytes, size_t count) {
    const std::string hex = lowerHex(bytes, count);
    return std::wstring(hex.begin(), hex.end());
}

}  // namespace tessaryn
