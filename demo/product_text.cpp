#include "demo/product_text.h"

namespace tessaryn {

namespace {

constexpr std::size_t kLongestVersion = 40;

std::string_view trim(std::string_view text) {
    const char* blanks = " \t\r\n";
    std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) return {};
    std::size_t last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

std::string_view firstLine(std::string_view text) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    return text.substr(0, text.find('\n'));
}

}  // namespace

std::string versionFromFile(std::string_view content) {
    std::string_view version = trim(firstLine(content));
    if (version.size() > kLongestVersion) return {};
    for (char c : version) {
        if (c < 0x20 || c > 0x7E) return {};
    }
    return std::string(version);
}

std::string productTitle(std::string_view version) {
    std::string title = "Tessaryn";
    if (!version.empty()) title += " " + std::string(version);
    return title;
}

std::string productMessage(std::string_view version, std::string_view installDir,
                           std::string_view firstRunNote) {
    std::string text = "Thank you for trying " + productTitle(version) + ".\r\n\r\n";
    text += "This demonstration program was installed by the Tessaryn web setup into\r\n";
    text += std::string(installDir) + "\r\n\r\n";
    std::string_view note = trim(firstLine(firstRunNote));
    if (!note.empty()) text += "First run: " + std::string(note) + "\r\n\r\n";
    text += "Remove it with \"Add/Remove Programs\" or with unins000.exe in that folder.";
    return text;
}

}  // namespace tessaryn
