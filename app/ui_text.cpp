#include "app/ui_text.h"

#include <LzmaDec.h>

#include <cstdlib>

namespace tessaryn {

extern const char* const kEnglishTexts[kTextCount];
extern const unsigned char kTranslations[];
extern const unsigned kTranslationsSize;
extern const unsigned kTranslationsPlainSize;

namespace {

void* allocate(void*, size_t size) {
    return std::malloc(size);
}

void release(void*, void* address) {
    std::free(address);
}

// The blob's texts, unpacked; empty when it does not decode (the run then stays English).
std::string unpackTranslations() {
    constexpr size_t header = LZMA_PROPS_SIZE + 8;
    if (kTranslationsSize < header) return {};
    std::string plain(kTranslationsPlainSize, '\0');
    SizeT plainSize = plain.size();
    SizeT packedSize = kTranslationsSize - header;
    ELzmaStatus status{};
    ISzAlloc alloc{allocate, release};
    const SRes result = LzmaDecode(reinterpret_cast<Byte*>(plain.data()), &plainSize,
                                   kTranslations + header, &packedSize, kTranslations,
                                   LZMA_PROPS_SIZE, LZMA_FINISH_END, &status, &alloc);
    if (result != SZ_OK || plainSize != plain.size()) return {};
    return plain;
}

bool writtenRightToLeft(std::string_view tag) {
    const std::string_view language = tag.substr(0, tag.find('-'));
    return language == "ar" || language == "he";
}

UiTexts& current() {
    static UiTexts texts;
    return texts;
}

}  // namespace

UiTexts::UiTexts(std::string tag, std::string texts)
    : tag_(std::move(tag)), rightToLeft_(writtenRightToLeft(tag_)), texts_(std::move(texts)) {}

std::string UiTexts::operator()(Text id) const {
    const auto index = static_cast<size_t>(id);
    if (index >= static_cast<size_t>(kTextCount)) return {};
    size_t at = 0;
    for (size_t skipped = 0; skipped < index && at < texts_.size(); ++skipped)
        at = texts_.find('\0', at) + 1;
    const size_t end = texts_.find('\0', at);
    if (at >= texts_.size() || end == at || end == std::string::npos) return kEnglishTexts[index];
    return texts_.substr(at, end - at);
}

std::string UiTexts::fill(Text id, const std::string& detail) const {
    return fillPlaceholders((*this)(id), detail);
}

std::string UiTexts::fillIn(Text id, const std::vector<std::string>& values) const {
    return fillNumbered((*this)(id), values);
}

const char* englishText(Text id) {
    const auto index = static_cast<size_t>(id);
    return index < static_cast<size_t>(kTextCount) ? kEnglishTexts[index] : "";
}

std::string fillPlaceholders(std::string_view text, const std::string& detail) {
    std::string result;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '{' && i + 1 < text.size() && text[i + 1] == '}') {
            result += detail;
            ++i;
        } else {
            result += text[i];
        }
    }
    return result;
}

std::string fillNumbered(std::string_view text, const std::vector<std::string>& values) {
    std::string result;
    for (size_t i = 0; i < text.size(); ++i) {
        const bool numbered = text[i] == '{' && i + 2 < text.size() && text[i + 1] >= '1' &&
                              text[i + 1] <= '9' && text[i + 2] == '}';
        const size_t index = numbered ? static_cast<size_t>(text[i + 1] - '1') : 0;
        if (numbered && index < values.size()) {
            result += values[index];
            i += 2;
        } else {
            result += text[i];
        }
    }
    return result;
}

std::optional<UiTexts> languageTexts(std::string_view tag) {
    if (tag == kLanguageTags[0]) return UiTexts();
    int language = 1;
    while (language < kLanguageCount && tag != kLanguageTags[language]) ++language;
    if (language == kLanguageCount) return std::nullopt;
    const std::string plain = unpackTranslations();
    // Each language is kTextCount texts, each ended by a NUL, in the order of kLanguageTags.
    size_t at = 0;
    size_t start = 0;
    for (int index = 1; index <= language; ++index) {
        start = at;
        for (int id = 0; id < kTextCount; ++id) {
            at = plain.find('\0', at);
            if (at == std::string::npos) return std::nullopt;
            ++at;
        }
    }
    return UiTexts(std::string(tag), plain.substr(start, at - start));
}

const UiTexts& uiTexts() {
    return current();
}

void useTexts(UiTexts texts) {
    current() = std::move(texts);
}

uint32_t boxStyle(uint32_t style) {
    return uiTexts().rightToLeft() ? style | kRightToLeftBoxBits : style;
}

}  // namespace tessaryn
