#include <gtest/gtest.h>

#include "app/command_line.h"
#include "app/language_choice.h"
#include "app/run_outcome.h"
#include "app/ui_text.h"

namespace tessaryn {
namespace {

// Only the display language decides: a locale or keyboard of another language never does, a
// region falls back to its language, the two Chinese scripts never to each other, an unknown
// language to English, and /LANG wins when the setup has its language.
TEST(Language, ChoiceFollowsTheDisplayLanguageAndLangWins) {
    struct Case {
        const char* display;
        const char* locale;
        const char* keyboard;
        const char* langSwitch;
        const char* chosen;
        const char* why;
    };
    for (const Case& c : std::initializer_list<Case>{
             {"en-US", "de-DE", "de-DE", "", "en", "(display language)"},
             {"de-DE", "en-US", "en-US", "", "de", "(display language)"},
             {"de-AT", "de-AT", "de-AT", "", "de", "(display language)"},
             {"pt-BR", "pt-PT", "pt-PT", "", "pt-BR", "(display language)"},
             {"pt-PT", "pt-BR", "pt-BR", "", "pt-PT", "(display language)"},
             {"pt-AO", "pt-AO", "pt-AO", "", "pt-PT", "(display language)"},
             {"zh-TW", "zh-CN", "zh-CN", "", "zh-TW", "(display language)"},
             {"zh-CN", "zh-TW", "zh-TW", "", "zh-CN", "(display language)"},
             {"zh-HK", "zh-HK", "en-US", "", "zh-TW", "(display language)"},
             {"zh-MO", "zh-MO", "en-US", "", "zh-TW", "(display language)"},
             {"zh-SG", "zh-SG", "en-US", "", "zh-CN", "(display language)"},
             {"zh-Hant-CN", "zh-CN", "zh-CN", "", "zh-TW", "(display language)"},
             {"zh-Hans-HK", "zh-HK", "zh-HK", "", "zh-CN", "(display language)"},
             {"no-NO", "nb-NO", "nb-NO", "", "nb", "(display language)"},
             {"AR-sa", "ar-SA", "ar-SA", "", "ar", "(display language)"},
             {"sw-KE", "de-DE", "fr-FR", "", "en", "(no translation of the display language)"},
             {"", "de-DE", "de-DE", "", "en", "(no translation of the display language)"},
             {"de-DE", "de-DE", "de-DE", "ja", "ja", "(/LANG=ja)"},
             {"en-US", "en-US", "en-US", "PT-br", "pt-BR", "(/LANG=PT-br)"},
             {"en-US", "en-US", "en-US", "zh-hk", "zh-TW", "(/LANG=zh-hk)"},
             {"fr-FR", "fr-FR", "fr-FR", "xx", "fr", "(display language)"},
             {"fr-FR", "fr-FR", "fr-FR", "-", "fr", "(display language)"},
         }) {
        const LanguageChoice choice = chooseLanguage({c.display, c.locale, c.keyboard}, c.langSwitch);
        EXPECT_EQ(choice.tag, c.chosen) << c.display << " /LANG=" << c.langSwitch;
        EXPECT_EQ(choice.logLine.rfind(std::string("Language: ") + c.chosen + " " + c.why, 0), 0u)
            << choice.logLine;
    }
    // An unknown /LANG is named in the log, beside what was chosen instead.
    const LanguageChoice unknown = chooseLanguage({"de-DE", "de-DE", "de-DE"}, "xx");
    EXPECT_NE(unknown.logLine.find("/LANG=xx is not a language of this setup"), std::string::npos);
}

TEST(Language, LangSwitchIsReadInAnyCaseAndTheLastWins) {
    EXPECT_EQ(readCommandLine("/lang=De").language, "De");
    EXPECT_EQ(readCommandLine("/LANG=fr /VERYSILENT /LANG=ar").language, "ar");
    EXPECT_TRUE(readCommandLine("/LANGUAGE").unknown.size() == 1);
}

// Every language decodes from the blob with its own texts (none is another's, none is cut off),
// and a tag outside the list gets none.
TEST(Language, EveryLanguageDecodesItsOwnTexts) {
    ASSERT_GE(kLanguageCount, 25);
    std::vector<std::string> accepts;
    for (const char* tag : kLanguageTags) {
        const std::optional<UiTexts> texts = languageTexts(tag);
        ASSERT_TRUE(texts) << tag;
        EXPECT_EQ(texts->tag(), tag);
        EXPECT_EQ(texts->rightToLeft(), std::string(tag) == "ar" || std::string(tag) == "he");
        for (const std::string& other : accepts)
            EXPECT_NE((*texts)(Text::eula_accept), other) << tag;
        accepts.push_back((*texts)(Text::eula_accept));
        EXPECT_FALSE((*texts)(Text::outcome_support).empty()) << tag;  // the last id
    }
    EXPECT_FALSE(languageTexts("DE"));
    EXPECT_FALSE(languageTexts("xx"));
}

// A right-to-left language's boxes read right to left; its log line stays English.
TEST(Language, BoxesOfARightToLeftLanguageAreMirroredAndTheLogStaysEnglish) {
    const std::optional<UiTexts> arabic = languageTexts("ar");
    const std::optional<UiTexts> german = languageTexts("de");
    ASSERT_TRUE(arabic && german);
    const EndPlan ar = planEnd({Outcome::Expired, "2021"}, false, "https://help", *arabic);
    const EndPlan de = planEnd({Outcome::Expired, "2021"}, false, "https://help", *german);
    const EndPlan en = planEnd({Outcome::Expired, "2021"}, false, "https://help");
    EXPECT_EQ(ar.icon, static_cast<uint32_t>(BoxIcon::Error) | kRightToLeftBoxBits);
    EXPECT_EQ(de.icon, static_cast<uint32_t>(BoxIcon::Error));
    EXPECT_EQ(ar.logLine, en.logLine);
    EXPECT_NE(de.message, en.message);
    EXPECT_NE(de.message.find("2021"), std::string::npos);
    EXPECT_NE(de.message.find("https://help"), std::string::npos);
}

}  // namespace
}  // namespace tessaryn
