#include "system/unicode_win.h"

#include <windows.h>

namespace tessaryn {

std::wstring toWide(std::string_view utf8) {
    if (utf8.empty()) return {};
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
    return wide;
}

std::string toCodePage(std::wstring_view wide, unsigned codePage) {
    if (wide.empty()) return {};
    int n = WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                nullptr, nullptr);
    std::string bytes(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()), bytes.data(), n,
                            nullptr, nullptr);
    return bytes;
}

std::string toUtf8(std::wstring_view wide) {
    return toCodePage(wide, CP_UTF8);
}

}  // namespace tessaryn
