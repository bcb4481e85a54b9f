#pragma once
// Conversions between the program's UTF-8 byte strings and the UTF-16 of the Windows interfaces.
#include <string>
#include <string_view>

namespace tessaryn {

std::wstring toWide(std::string_view utf8);
std::string toUtf8(std::wstring_view wide);

// The text in a Windows code page (CP_ACP, CP_OEMCP, ...), for files that older readers parse.
std::string toCodePage(std::wstring_view wide, unsigned codePage);

}  // namespace tessaryn
