#pragma once
// The narrow (UTF-8) form of a path, as shown in messages.
#include <filesystem>
#include <string>

namespace tessaryn {

inline std::string pathText(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

// A path from UTF-8 text (entry names, command-line arguments).
inline std::filesystem::path pathFromUtf8(const std::string& text) {
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

}  // namespace tessaryn
