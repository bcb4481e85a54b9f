#include "system/path_parts.h"

namespace tessaryn {

namespace {
constexpr std::wstring_view kSeparators = L"\\/";
}

bool hasSeparator(std::wstring_view path) {
    return path.find_first_of(kSeparators) != std::wstring_view::npos;
}

std::wstring fileNameOf(std::wstring_view path) {
    size_t cut = path.find_last_of(kSeparators);
    return std::wstring(cut == std::wstring_view::npos ? path : path.substr(cut + 1));
}

std::wstring baseNameOf(std::wstring_view path) {
    std::wstring name = fileNameOf(path);
    size_t dot = name.find(L'.');
    if (dot != std::wstring::npos) name.resize(dot);
    return name;
}

std::wstring directoryOf(std::wstring_view path) {
    size_t cut = path.find_last_of(kSeparators);
    return std::wstring(cut == std::wstring_view::npos ? path : path.substr(0, cut));
}

}  // namespace tessaryn
