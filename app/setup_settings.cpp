#include "app/setup_settings.h"

#include <string_view>

#include "package/locked_file.h"
#include "system/ascii_text.h"
#include "system/json_text.h"

namespace tessaryn {

SetupSettings::SetupSettings() = default;
SetupSettings::~SetupSettings() = default;

SetupSettings::SetupSettings(const std::string& fileName) : fileName_(fileName) {
    if (!fileName.empty()) load(executableDirectory() + fileName);
}

bool SetupSettings::load(const std::string& path) {
    // The path is UTF-8 on every system (LockedFile widens it on Windows).
    const std::optional<LockedFile> file = LockedFile::open(path);
    if (!file) return loaded_;
    return loadBytes(file->data(), file->size());
}

bool SetupSettings::loadBytes(const uint8_t* bytes, size_t size) {
    if (size == 0) return loaded_;
    // A text that does not parse must not leave the keys of an earlier document behind.
    // Parsed as a string view, like the event answers: one instance of the parser in the setup.
    const std::string_view text(reinterpret_cast<const char*>(bytes), size);
    document_ = parseJsonText(text);
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

std::string SetupSettings::licenseText(const std::string& tag) const {
    if (const nlohmann::json* licenses = find("eulas"); licenses && licenses->is_object()) {
        for (const auto& [key, text] : licenses->items())
            if (text.is_string() && equalsIgnoringAsciiCase(key, tag))
                return text.get<std::string>();
    }
    return getString("eula", "");
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
