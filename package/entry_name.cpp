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
        } else if (isWindowsDeviceName(part)) {
            return "the name holds a reserved device name";
        } else {
            ++depth;
        }
        start = end + 1;
    }
    return {};
}

}  // namespace tessaryn
