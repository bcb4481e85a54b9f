#pragma once
// Reader of the setup information file: a JSON document whose keys have fixed defaults.
#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>
#include <vector>

namespace tessaryn {

class SetupSettings {
  public:
    SetupSettings();
    // Out of line: the document's clean-up is then in the program once, not in each user.
    ~SetupSettings();
    SetupSettings(const SetupSettings&) = delete;
    SetupSettings& operator=(const SetupSettings&) = delete;
    // Loads the file of this name from the executable's folder; an empty name loads nothing.
    explicit SetupSettings(const std::string& fileName);

    // Reads the whole file and parses it. An empty or unreadable file leaves loaded false; text
    // that is not JSON leaves a document without keys. Never throws.
    bool load(const std::string& path);
    // The same for bytes already in memory (the checked payload of the setup information file).
    bool loadBytes(const uint8_t* bytes, size_t size);

    bool loaded() const { return loaded_; }
    const std::string& fileName() const { return fileName_; }

    std::string getString(const std::string& key, const std::string& defaultValue) const;
    // A missing key or one of another type counts as true.
    bool getBool(const std::string& key) const;
    // An array that holds anything but strings counts as missing.
    std::vector<std::string> getStringArray(const std::string& key,
                                            const std::vector<std::string>& defaultValue) const;

    // The license in the language `tag` from "eulas" ({"de": "...", ...}, the tag in any case),
    // else "eula"; empty without either.
    std::string licenseText(const std::string& tag) const;

    // The value of a key as it is in the document; null when the key is absent.
    const nlohmann::json* find(const std::string& key) const;

  private:

    nlohmann::json document_;
    std::string fileName_;
    bool loaded_ = false;
};

// The executable's folder in UTF-8, ending in its separator; empty when it cannot be found.
std::string executableDirectory();

}  // namespace tessaryn
