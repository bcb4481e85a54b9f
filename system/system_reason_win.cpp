#include <windows.h>

#include "system/handles_win.h"
#include "system/system_reason.h"
#include "system/unicode_win.h"

namespace tessaryn {

std::string systemReason(int code) {
    LocalMemoryOf<wchar_t> text;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(text.put()), 0, nullptr);
    if (!length || !text) return "system error " + std::to_string(code);
    std::wstring message(text.get(), length);
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' ||
                                message.back() == L' ' || message.back() == L'.')) {
        message.pop_back();
    }
    return toUtf8(message);
}

}  // namespace tessaryn
