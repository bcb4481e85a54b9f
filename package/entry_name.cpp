#include "package/entry_name.h"

#include <algorithm>
#include <string_view>

#include "system/ascii_text.h"

namespace tessaryn {

namespace {

// Windows drops trailing dots and spaces from a name, so "..." or ".. " can act as "..".
bool onlyDotsAndSpaces(std::string_view part) {
    return std::all_of(part.begin(), part.end(), [](char c) { return c == '.' || c == ' '; });
}

}  // namespace

// "NUL", "com1.txt", "Aux .log", "LPT\u00b9": Windows opens the device, not a file in the folder.
bool isReservedDeviceName(std::string_view name) {
    std::string_view stem = name.substr(0, name.find('.'));
    while (!stem.empty() && stem.back() == ' ') stem.remove_suffix(1);
    for (std::string_view device : {"CON", "PRN", "AUX", "NUL"}) {
        if (equalsIgnoringAsciiCase(stem, device)) return true;
    }
    if (!startsWithIgnoringAsciiCase(stem, "COM") && !startsWithIgnoringAsciiCase(stem, "LPT"))
        return false;
    const std::string_view digit = stem.substr(3);
    if (digit.size() == 1) return digit[0] >= '0' && digit[0] <= '9';
    // Superscript one, two and three in UTF-8.
    return digit == "\xC2\xB9" || digit == "\xC2\xB2" || digit == "\xC2\xB3";
}

std::string entryNameEscapeReason(const std::string& name) {
    // Both separators count on every platform: the names were made for Windows.
    std::string text = name;
    std::replace(text.begin(), text.end(), '\\', '/');
    if (!text.empty() && text.front() == '/') return "the name is an absolute or network path";
    if (text.find(':') != std::string::npos) {
        return "the name holds a drive or stream designator (\":\")";
    }
    int depth = 0;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('/', start);
        if (end == std::string::npos) end = text.size();
        const std::string_view part(text.data() + start, end - start);
        if (part.empty() || part == ".") {
            // stays where it is
        } else if (part == "..") {
            if (--depth < 0) return "the name climbs out of the destination folder";
        } else if (onlyDotsAndSpaces(part)) {
            return "the name holds a component made only of dots and spaces";
        } else if (isReservedDeviceName(part)) {
            return "the name holds a reserved device name";
        } else {
            ++depth;
        }
        start = end + 1;
    }
    return {};
}

}  // namespace tessaryn
