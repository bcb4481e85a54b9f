#include "app/product_name.h"

#include <array>
#include <string_view>

#include "app/command_line.h"

namespace tessaryn {

namespace {

bool isReservedDeviceName(std::string_view name) {
    // Windows maps these names to devices whatever extension follows them.
    std::string_view stem = name.substr(0, name.find('.'));
    while (!stem.empty() && stem.back() == ' ') stem.remove_suffix(1);
    static constexpr std::array<std::string_view, 4> plain = {"CON", "PRN", "AUX", "NUL"};
    for (std::string_view reserved : plain) {
        if (equalsIgnoringAsciiCase(stem, reserved)) return true;
    }
    if (stem.size() == 4 && stem[3] >= '1' && stem[3] <= '9') {
        std::string_view head = stem.substr(0, 3);
        return equalsIgnoringAsciiCase(head, "COM") || equalsIgnoringAsciiCase(head, "LPT");
    }
    return false;
}

}  // namespace

bool isUsableProductName(const std::string& name) {
    if (name.empty() || name == "." || name == "..") return false;
    for (char c : name) {
        unsigned char byte = static_cast<unsigned char>(c);
        if (byte < 0x20) return false;
        if (std::string_view("\\/:*?\"<>|").find(c) != std::string_view::npos) return false;
    }
    if (name.back() == '.' || name.back() == ' ') return false;
    return !isReservedDeviceName(name);
}

}  // namespace tessaryn
