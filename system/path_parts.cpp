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

std::wstring withoutTrailingSeparator(std::wstring path) {
    while (path.size() > 1 && kSeparators.find(path.back()) != std::wstring_view::npos &&
           path[path.size() - 2] != L':')
        path.pop_back();
    return path;
}

std::wstring directoryOf(std::wstring_view path) {
    size_t cut = path.find_last_of(kSeparators);
    return std::wstring(cut == std::wstring_view::npos ? path : path.substr(0, cut));
}

}  // namespace tessaryn
