#include "app/setup_settings.h"

#include <filesystem>
#include <fstream>
#include <iterator>

namespace tessaryn {

SetupSettings::SetupSettings(const std::string& fileName) : fileName_(fileName) {
    if (!fileName.empty()) load(executableDirectory() + fileName);
}

bool SetupSettings::load(const std::string& path) {
    // Through a UTF-8 path object: a narrow name would be read in the ANSI code page on Windows.
    const std::filesystem::path file(std::u8string(path.begin(), path.end()));
    std::ifstream in(file, std::ios::binary);
    if (!in) return loaded_;
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad() || bytes.empty()) return loaded_;
    // A text that does not parse must not leave the keys of an earlier document behind.
    document_ = nlohmann::json::parse(bytes, nullptr, /*allow_exceptions=*/false);
    loaded_ = true;
    return loaded_;
}

const nlohmann::json* SetupSettings::find(const std::string& key) const {
    if (!document_.is_object()) return nullptr;
    auto it = document_.find(key);
    return it == document_.end() ? nullptr : &*it;
}

std::string SetupSettings::getString(const std::string& key,
                                     const std::string& defaultValue) const {
    const nlohmann::json* value = find(key);
    return value && value->is_string() ? value->get<std::string>() : defaultValue;
}

bool SetupSettings::getBool(const std::string& key) const {
    const nlohmann::json* value = find(key);
    return value && value->is_boolean() ? value->get<bool>() : true;
}

std::vector<std::string> SetupSettings::getStringArray(
    const std::string& key, const std::vector<std::string>& defaultValue) const {
    const nlohmann::json* value = find(key);
    if (!value || !value->is_array()) return defaultValue;
    std::vector<std::string> items;
    items.reserve(value->size());
    for (const auto& element : *value) {
        if (!element.is_string()) return defaultValue;
        items.push_back(element.get<std::string>());
    }
    return items;
}

}  // namespace tessaryn
