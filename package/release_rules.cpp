#include "package/release_rules.h"

#include <algorithm>
#include <cstdio>

#include "package/cbor_frame.h"
#include "system/ascii_text.h"

namespace tessaryn {

namespace {

using nlohmann::json;

struct VersionPart {
    std::string_view digits;  // without leading zeros
    std::string_view text;
};

VersionPart splitPart(std::string_view part) {
    size_t end = 0;
    while (end < part.size() && part[end] >= '0' && part[end] <= '9') ++end;
    std::string_view digits = part.substr(0, end);
    while (!digits.empty() && digits.front() == '0') digits.remove_prefix(1);
    return {digits, part.substr(end)};
}

int sign(int value) {
    return (value > 0) - (value < 0);
}

int comparePart(std::string_view a, std::string_view b) {
    const VersionPart left = splitPart(a);
    const VersionPart right = splitPart(b);
    // Numbers of any length: the longer is larger, else the first differing digit decides.
    if (left.digits.size() != right.digits.size())
        return left.digits.size() < right.digits.size() ? -1 : 1;
    if (const int digits = left.digits.compare(right.digits); digits != 0) return sign(digits);
    if (left.text.empty() != right.text.empty()) return left.text.empty() ? 1 : -1;
    const std::string leftText = lowerCaseAscii(std::string(left.text));
    return sign(leftText.compare(lowerCaseAscii(std::string(right.text))));
}

std::string_view nextPart(std::string_view& rest) {
    const size_t dot = rest.find('.');
    const std::string_view part = rest.substr(0, dot);
    rest = dot == std::string_view::npos ? std::string_view() : rest.substr(dot + 1);
    return part;
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
int64_t daysFromCivil(int64_t year, unsigned month, unsigned day) {
    year -= month <= 2;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const auto yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<int64_t>(dayOfEra) - 719468;
}

bool isLeapYear(int64_t year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

std::optional<unsigned> digitsAt(std::string_view text, size_t at, size_t count) {
    unsigned value = 0;
    for (size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return std::nullopt;
        value = value * 10 + static_cast<unsigned>(text[i] - '0');
    }
    return value;
}

}  // namespace

std::optional<PackageBinding> readPackageBinding(const json& value) {
    if (!value.is_object() || value.size() != 2) return std::nullopt;
    const auto size = value.find("size");
    const auto hash = value.find("sha256");
    // A parsed document holds a whole number >= 0 as unsigned; one built in code may not.
    if (size == value.end() || !size->is_number_integer() ||
        (!size->is_number_unsigned() && size->get<int64_t>() < 0) || hash == value.end() ||
        !hash->is_string())
        return std::nullopt;
    const std::string& hex = hash->get_ref<const std::string&>();
    PackageBinding binding;
    binding.size = size->get<uint64_t>();
    // Upper case is not the written form: refused, so that one text means one hash.
    if (!decodeHex(hex, binding.sha256.data(), binding.sha256.size(), HexLetters::LowerOnly))
        return std::nullopt;
    return binding;
}

json packageBindingJson(const PackageBinding& binding) {
    json value = json::object();
    value["size"] = binding.size;
    value["sha256"] = sha256Hex(binding.sha256);
    return value;
}

std::string sha256Hex(const Sha256Digest& digest) {
    return lowerHex(digest.data(), digest.size());
}

int compareVersions(std::string_view a, std::string_view b) {
    while (!a.empty() || !b.empty()) {
        const std::string_view left = a.empty() ? std::string_view("0") : nextPart(a);
        const std::string_view right = b.empty() ? std::string_view("0") : nextPart(b);
        if (const int order = comparePart(left, right); order != 0) return order;
    }
    return 0;
}

ReleaseChoice chooseRelease(const ReleaseMark& beside, const ReleaseMark* host,
                            std::string_view floor) {
    if (host) {
        const int order = compareVersions(host->version, beside.version);
        const bool samePackage = host->package && beside.package &&
                                 host->package->size == beside.package->size &&
                                 host->package->sha256 == beside.package->sha256;
        if (order == 0 && samePackage) return ReleaseChoice::Beside;
        if (order >= 0) return ReleaseChoice::Host;
    }
    if (!floor.empty() && compareVersions(beside.version, floor) < 0)
        return ReleaseChoice::BelowFloor;
    return host ? ReleaseChoice::BesideNewer : ReleaseChoice::BesideAlone;
}

std::optional<int64_t> parseUtcTime(std::string_view text) {
    // YYYY-MM-DDTHH:MM:SS[.fraction]Z
    if (text.size() < 20 || text.back() != 'Z' || text[4] != '-' || text[7] != '-' ||
        text[10] != 'T' || text[13] != ':' || text[16] != ':')
        return std::nullopt;
    if (text.size() > 20) {
        if (text[19] != '.' || text.size() == 21) return std::nullopt;
        for (size_t i = 20; i + 1 < text.size(); ++i)
            if (text[i] < '0' || text[i] > '9') return std::nullopt;
    }
    const auto year = digitsAt(text, 0, 4), month = digitsAt(text, 5, 2),
               day = digitsAt(text, 8, 2), hour = digitsAt(text, 11, 2),
               minute = digitsAt(text, 14, 2), second = digitsAt(text, 17, 2);
    if (!year || !month || !day || !hour || !minute || !second) return std::nullopt;
    static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (*month < 1 || *month > 12 || *day < 1 || *hour > 23 || *minute > 59 || *second > 59)
        return std::nullopt;
    const unsigned monthDays = kDays[*month - 1] + (*month == 2 && isLeapYear(*year) ? 1 : 0);
    if (*day > monthDays) return std::nullopt;
    return daysFromCivil(*year, *month, *day) * 86400 + *hour * 3600 + *minute * 60 + *second;
}

std::string formatUtcTime(int64_t seconds) {
    int64_t days = seconds >= 0 ? seconds / 86400 : (seconds - 86399) / 86400;
    const int64_t inDay = seconds - days * 86400;
    // The inverse of daysFromCivil.
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
    const unsigned yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned mp = (5 * dayOfYear + 2) / 153;
    const unsigned day = dayOfYear - (153 * mp + 2) / 5 + 1;
    const unsigned month = mp < 10 ? mp + 3 : mp - 9;
    const int64_t year = static_cast<int64_t>(yearOfEra) + era * 400 + (month <= 2);
    char text[96];
    std::snprintf(text, sizeof text, "%04lld-%02u-%02uT%02lld:%02lld:%02lldZ",
                  static_cast<long long>(year), month, day, static_cast<long long>(inDay / 3600),
                  static_cast<long long>(inDay / 60 % 60), static_cast<long long>(inDay % 60));
    return text;
}

std::optional<std::string> bundleVersion(const uint8_t* bundle, size_t size) noexcept {
    try {
        CborCursor cursor(bundle, size);
        const CborHead root = cursor.head();
        if (root.major != 5) return std::nullopt;
        std::optional<std::string> version;
        for (uint64_t i = 0; root.indefinite ? !cursor.nextIsBreak() : i < root.value; ++i) {
            const std::string key = cursor.text(cursor.head());
            const CborHead value = cursor.head();
            // The last "version" wins, as when the document is read whole.
            if (key == "version") {
                version.reset();
                if (value.major == 3) {
                    version = cursor.text(value);
                    continue;
                }
            }
            cursor.skip(value);
        }
        return version;
    } catch (...) {
        return std::nullopt;
    }
}

}  // namespace tessaryn
