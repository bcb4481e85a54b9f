#include "app/product_name.h"

#include <string_view>

#include "package/entry_name.h"

namespace tessaryn {

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
