// Event bodies and the reading of the web host's answers.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <hydrogen.h>

#include "telemetry/answer_signature.h"
#include "telemetry/events.h"
#include "telemetry/machine_id.h"

namespace tessaryn {
namespace {

TEST(MetricBody, IsCompactJsonWithSortedKeys) {
    EXPECT_EQ(metricBody(5, "00ff", "Tessaryn", "anon-0123456789ABCDEF0123456789ABCDEF"),
              R"({"event":5,"nonce":"00ff","prod":"Tessaryn",)"
              R"("uuid":"anon-0123456789ABCDEF0123456789ABCDEF"})");
    EXPECT_EQ(metricBody(0, "", "", ""), R"({"event":0,"nonce":"","prod":"","uuid":""})");
    EXPECT_EQ(metricBody(-1, "n", "a", "b"), R"({"event":-1,"nonce":"n","prod":"a","uuid":"b"})");
    // The source of the package, in its sorted place; none below 0.
    EXPECT_EQ(metricBody(9, "n", "a", "b", 0),
              R"({"event":9,"nonce":"n","prod":"a","src":0,"uuid":"b"})");
    EXPECT_EQ(metricBody(9, "n", "a", "b", 2),
              R"({"event":9,"nonce":"n","prod":"a","src":2,"uuid":"b"})");
    EXPECT_EQ(metricBody(9, "n", "a", "b", -1), R"({"event":9,"nonce":"n","prod":"a","uuid":"b"})");
    // The system and the version, each in its sorted place and only when known.
    EXPECT_EQ(metricBody(9, "n", "a", "b", 1, "Windows 10 Build 19045; x64; en-US", "1.1"),
              R"({"event":9,"nonce":"n","prod":"a","src":1,)"
              R"("sys":"Windows 10 Build 19045; x64; en-US","uuid":"b","ver":"1.1"})");
    EXPECT_EQ(metricBody(9, "n", "a", "b", 0, "S", "1.1", "user"),
              R"({"event":9,"nonce":"n","prod":"a","scope":"user","src":0,"sys":"S","uuid":"b",)"
              R"("ver":"1.1"})");
    EXPECT_EQ(metricBody(9, "n", "a", "b", -1, "S", ""),
              R"({"event":9,"nonce":"n","prod":"a","sys":"S","uuid":"b"})");
    EXPECT_EQ(metricBody(9, "n", "a", "b", -1, "", "2"),
              R"({"event":9,"nonce":"n","prod":"a","uuid":"b","ver":"2"})");
}

TEST(MetricBody, EscapesTextAndSurvivesBadUtf8) {
    EXPECT_EQ(metricBody(9, "n", "Say \"hi\"\\\n", "anon-0x02"),
              R"({"event":9,"nonce":"n","prod":"Say \"hi\"\\\n","uuid":"anon-0x02"})");
    EXPECT_EQ(metricBody(1, "n", "Caf\xc3\xa9", "u"),
              "{\"event\":1,\"nonce\":\"n\",\"prod\":\"Caf\xc3\xa9\",\"uuid\":\"u\"}");
    // A broken byte must not throw out of an event; it becomes U+FFFD.
    EXPECT_EQ(metricBody(1, "n", "x\xff", "u"),
              "{\"event\":1,\"nonce\":\"n\",\"prod\":\"x\xef\xbf\xbd\",\"uuid\":\"u\"}");
}

// The body is written by hand; it must stay byte for byte what json::dump with
// error_handler_t::replace gives, broken and borderline UTF-8 included.
TEST(MetricBody, MatchesTheJsonLibrary) {
    using namespace std::string_literals;
    const std::string texts[] = {
        "plain", "\x01\x1f\x7f\b\t\n\f\r\"\\/"s, "nul\0in"s, "\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80",
        "\x80", "\xbf\xbf", "\xc0\xaf", "\xc1\xbf", "\xc2", "\xc2x", "\xe0\x80\x80", "\xe0\xa0",
        "\xe0\xa0\x80", "\xed\x9f\xbf", "\xed\xa0\x80", "\xef\xbf\xbf", "\xf0\x8f\xbf\xbf",
        "\xf0\x90\x80\x80", "\xf0\x90\x80", "\xf0\x90\x80x", "\xf4\x8f\xbf\xbf", "\xf4\x90\x80\x80",
        "\xf5\x80", "\xfe\xff", "a\xe2\x82\"b", "\xe2\x82\xe2\x82\xac", "\xf0\xc3\xa9\x80",
        std::string(600, 'x') + "\xe2\x82", std::string(509, 'y') + "\xf0\x9f\x98\x80\x01",
    };
    for (const std::string& text : texts) {
        for (int32_t event : {0, -2147483647 - 1, 2147483647}) {
            const nlohmann::json expected = {
                {"event", event}, {"nonce", "0a"}, {"prod", text}, {"uuid", text + "\n"}};
            EXPECT_EQ(metricBody(event, "0a", text, text + "\n"),
                      expected.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace))
                << testing::PrintToString(text);
            nlohmann::json full = expected;
            full["src"] = 3;
            full["sys"] = "s" + text;
            full["ver"] = text + "v";
            EXPECT_EQ(metricBody(event, "0a", text, text + "\n", 3, "s" + text, text + "v"),
                      full.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace))
                << testing::PrintToString(text);
        }
    }
}

TEST(Answer, MessageDefaultsToTitleMessageAndInformationStyle) {
    AnswerActions a = interpretAnswer(R"({"msg":"x"})", false);
    EXPECT_TRUE(a.showMessage);
    EXPECT_EQ(a.message, "x");
    EXPECT_EQ(a.title, "Message");
    EXPECT_EQ(a.style, 0x50040u);
    EXPECT_TRUE(a.openUrl.empty());
    EXPECT_FALSE(a.exitProcess);

    a = interpretAnswer(R"({"msg":"x","title":"News","icon_type":"warning"})", false);
    EXPECT_EQ(a.title, "News");
    EXPECT_EQ(a.style, 0x50030u);
    a = interpretAnswer(R"({"msg":"x","title":7})", false);
    EXPECT_EQ(a.title, "Message");
}

TEST(Answer, IconTypeSelectsTheStyle) {
    const std::pair<const char*, uint32_t> table[] = {
        {"error", 0x50010}, {"warning", 0x50030}, {"info", 0x50040}, {"question", 0x50020},
        {"other", 0x50000}, {"", 0x50000},        {"ERROR", 0x50000}};
    for (const auto& [icon, style] : table) {
        std::string answer = std::string(R"({"msg":"m","icon_type":")") + icon + "\"}";
        AnswerActions a = interpretAnswer(answer, false);
        EXPECT_TRUE(a.showMessage) << icon;
        EXPECT_EQ(a.style, style) << icon;
    }
}

TEST(Answer, NonStringIconTypeEndsTheHandlingWithoutABox) {
    for (const char* answer :
         {R"({"msg":"m","icon_type":3,"action":1})", R"({"msg":"m","icon_type":null,"action":1})",
          R"({"msg":"m","icon_type":["info"],"action":1})"}) {
        AnswerActions a = interpretAnswer(answer, false);
        EXPECT_FALSE(a.showMessage) << answer;
        EXPECT_FALSE(a.exitProcess) << answer;
    }
    // The icon type only matters when there is a message to show.
    EXPECT_TRUE(interpretAnswer(R"({"icon_type":3,"action":1})", false).exitProcess);
}

TEST(Answer, SilentRunShowsNothingButStillActs) {
    AnswerActions a =
        interpretAnswer(R"({"msg":"x","icon_type":5,"url":"https://h/p","action":1})", true);
    EXPECT_FALSE(a.showMessage);
    EXPECT_EQ(a.openUrl, "https://h/p");
    EXPECT_TRUE(a.exitProcess);
}

TEST(Answer, ActionMustBeTheIntegerOne) {
    EXPECT_TRUE(interpretAnswer(R"({"action":1})", false).exitProcess);
    for (const char* answer : {R"({"action":0})", R"({"action":2})", R"({"action":"1"})",
                               R"({"action":1.0})", R"({"action":true})", R"({"action":null})"}) {
        EXPECT_FALSE(interpretAnswer(answer, false).exitProcess) << answer;
    }
}

TEST(Answer, OnlyWebAddressesAreOpened) {
    EXPECT_EQ(interpretAnswer(R"({"url":"https://tessaryn.example/x"})", false).openUrl,
              "https://tessaryn.example/x");
    EXPECT_EQ(interpretAnswer(R"({"url":"HTTP://h/"})", false).openUrl, "HTTP://h/");
    for (const char* answer :
         {R"({"url":"C:\\Windows\\System32\\cmd.exe"})", R"({"url":"file:///C:/x.bat"})",
          R"({"url":"\\\\evil\\share\\x.exe"})", R"j({"url":"javascript:alert(1)"})j",
          R"({"url":5})", R"({"url":["https://h"]})"}) {
        EXPECT_TRUE(interpretAnswer(answer, false).openUrl.empty()) << answer;
    }
}

TEST(Answer, MalformedAnswersDoNothing) {
    for (const char* answer : {"", "not json", "[1,2]", "\"msg\"", "{\"msg\":\"x\"", "null",
                               "{\"msg\":5}", "<html>502</html>",
                               "{\"msg\":\"x\",\"action\":1} {}"}) {
        AnswerActions a = interpretAnswer(answer, false);
        EXPECT_FALSE(a.showMessage) << answer;
        EXPECT_FALSE(a.exitProcess) << answer;
        EXPECT_TRUE(a.openUrl.empty()) << answer;
    }
}

TEST(MachineIdText, FailureCodesAndIdentifierForm) {
    EXPECT_EQ(digestFailureCode(0), "0x00");
    EXPECT_EQ(digestFailureCode(1), "0x01");
    EXPECT_EQ(digestFailureCode(2), "0x02");
    EXPECT_EQ(digestFailureCode(3), "0x03");
    EXPECT_EQ(machineIdFromDigest("0x02"), "anon-0x02");
    EXPECT_EQ(machineIdFromDigest("0x02").size(), 9u);
    EXPECT_EQ(std::string(kMachineIdPrefix), "Corvalis-PC:");
}

// The signature covers exactly the request body as sent and the answer as received: a change of
// one byte of either, another request's nonce, or moving bytes between them breaks it.
TEST(AnswerSignature, CoversExactlyTheBytesSent) {
    ASSERT_EQ(hydro_init(), 0);
    hydro_sign_keypair pair;
    hydro_sign_keygen(&pair);
    AnswersPublicKey key;
    std::copy(std::begin(pair.pk), std::end(pair.pk), key.begin());
    const auto signWith = [&](const std::string& request, const std::string& answer,
                              const char* context = kAnswerContext) {
        const std::string message = answerSignedMessage(request, answer);
        uint8_t signature[hydro_sign_BYTES];
        hydro_sign_create(signature, message.data(), message.size(), context, pair.sk);
        std::string hex;
        for (uint8_t b : signature) {
            hex += "0123456789abcdef"[b >> 4];
            hex += "0123456789abcdef"[b & 15];
        }
        return hex;
    };
    const std::string nonce = newAnswerNonce();
    EXPECT_EQ(nonce.size(), 32u);
    EXPECT_NE(nonce, newAnswerNonce());
    const std::string request = metricBody(9, nonce, "Tessaryn", "anon-1");
    const std::string answer = R"({"action":1})";
    const std::string good = signWith(request, answer);
    EXPECT_TRUE(answerSignatureValid(request, answer, good, key));
    // The length prefix: 8 bytes little-endian, then the request, then the answer.
    EXPECT_EQ(answerSignedMessage("ab", "c"), std::string("\x02\0\0\0\0\0\0\0abc", 11));
    std::string upper = good;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_TRUE(answerSignatureValid(request, answer, upper, key));

    const std::string otherNonce = metricBody(9, newAnswerNonce(), "Tessaryn", "anon-1");
    EXPECT_FALSE(answerSignatureValid(otherNonce, answer, good, key)) << "another request";
    EXPECT_FALSE(answerSignatureValid(request, answer + " ", good, key)) << "answer changed";
    EXPECT_FALSE(answerSignatureValid(request, R"({"action":2})", good, key));
    // The boundary moved: the same concatenation split differently.
    EXPECT_FALSE(answerSignatureValid(request + "{", answer.substr(1), good, key));
    EXPECT_FALSE(answerSignatureValid(request, answer, signWith(request, answer, "OTHERCTX"), key));
    // Exactly 128 digits: a valid signature with anything before or after it is no signature.
    for (const std::string& header :
         {std::string(), good.substr(2), good.substr(1), "zz" + good.substr(2),
          good.substr(0, 126) + "g0", good + "0", good + "00", "00" + good, good + " "})
        EXPECT_FALSE(answerSignatureValid(request, answer, header, key)) << header;
    AnswersPublicKey otherKey = key;
    otherKey[0] ^= 1;
    EXPECT_FALSE(answerSignatureValid(request, answer, good, otherKey));
}

}  // namespace
}  // namespace tessaryn
