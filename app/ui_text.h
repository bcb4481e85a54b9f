#pragma once
// The texts a person reads, in the run's language: one table of ids (resources/strings/en.txt),
// English compiled in as it is, every other language decoded from one compressed blob. The log
// stays English; it quotes a text only where it says what a window or box showed.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ui_text_ids.h"

namespace tessaryn {

class UiTexts {
  public:
    // English, left to right.
    UiTexts() = default;
    // `texts`: the language's texts in the order of the ids, each ended by a NUL.
    UiTexts(std::string tag, std::string texts);

    const std::string& tag() const { return tag_; }
    bool rightToLeft() const { return rightToLeft_; }
    // The text of `id`; English where this language has none.
    std::string operator()(Text id) const;
    // The text with every "{}" replaced by `detail`.
    std::string fill(Text id, const std::string& detail) const;
    // The text with "{1}", "{2}", ... replaced by values[0], values[1], ...: a language may put
    // them in another order than English.
    std::string fillIn(Text id, const std::vector<std::string>& values) const;

  private:
    std::string tag_ = "en";
    bool rightToLeft_ = false;
    std::string texts_;  // as given; empty for English
};

const char* englishText(Text id);
// Every "{}" of `text` becomes `detail` (one detail may be named twice).
std::string fillPlaceholders(std::string_view text, const std::string& detail);
// Every "{N}" of `text` (N from 1 to 9) becomes values[N - 1]; one without a value stays as it is.
std::string fillNumbered(std::string_view text, const std::vector<std::string>& values);

// The texts of one of kLanguageTags (exactly as spelt there); none for another tag or when the
// blob does not decode.
std::optional<UiTexts> languageTexts(std::string_view tag);

// The run's texts: English until the language is chosen, once, before any window is made.
const UiTexts& uiTexts();
void useTexts(UiTexts texts);

// The message box style bits (MB_RTLREADING | MB_RIGHT) a right-to-left language adds.
inline constexpr uint32_t kRightToLeftBoxBits = 0x00100000 | 0x00080000;
uint32_t boxStyle(uint32_t style);

}  // namespace tessaryn
