#pragma once
// What makes a release one signed whole: the settings name their package by size and SHA-256,
// the package's version is the settings' version, versions only go up, and settings may expire.
#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "package/sha256.h"

namespace tessaryn {

// The "package" value of signed settings: the whole .pak file, signature included.
struct PackageBinding {
    uint64_t size = 0;
    Sha256Digest sha256{};
};

// {"size": <whole number>, "sha256": "<64 lower-case hex digits>"} and nothing else; empty for
// any other value.
std::optional<PackageBinding> readPackageBinding(const nlohmann::json& value);
nlohmann::json packageBindingJson(const PackageBinding& binding);

// Orders dotted versions: negative when a < b, 0 when equal, positive when a > b. Parts are cut
// at dots and compared left to right, a missing part counting as "0" (so 2 == 2.0). A part is a
// number (its leading digits, any length, leading zeros ignored; none counts as 0) and the text
// after it: numbers decide first; for equal numbers a part without text ranks above one with
// text (2.0 > 2.0-beta, a pre-release), and two texts compare as ASCII, case ignored.
int compareVersions(std::string_view a, std::string_view b);

// Which release a run installs when settings lie beside the setup: the web host's current one
// wins, so that files left beside the setup never take a machine back.
enum class ReleaseChoice {
    Beside,       // the host's release is the one beside the setup: its package is copied
    Host,         // the host's is newer, or another build of that version: it is downloaded
    BesideNewer,  // the host's is older: the signed, newer one beside the setup is installed
    BesideAlone,  // the host gave no settings: the one beside the setup, at or above the floor
    BelowFloor,   // the host gave no settings, or older ones, and the one beside is below the floor
};
struct ReleaseMark {
    std::string version;
    std::optional<PackageBinding> package;
};
// `host` null: the web host gave no settings. `floor` empty: no floor. Only a release beside the
// setup that the host did not name is held to the floor.
ReleaseChoice chooseRelease(const ReleaseMark& beside, const ReleaseMark* host,
                            std::string_view floor);

// Seconds since 1970-01-01 00:00:00 UTC of "YYYY-MM-DDTHH:MM:SSZ" (a fraction of a second such
// as ".5" before the Z is allowed and ignored); empty for any other text or an impossible date.
std::optional<int64_t> parseUtcTime(std::string_view text);
// The same form, written back from seconds.
std::string formatUtcTime(int64_t seconds);

// The root "version" text of a bundle (the package without its signature); empty when the
// bundle is no map or has no text "version". Reads only the root map's keys, nothing decoded.
std::optional<std::string> bundleVersion(const uint8_t* bundle, size_t size) noexcept;

}  // namespace tessaryn
