// JSON POST against the test web host: what arrives, redirects followed by hand, failures.
#include <gtest/gtest.h>

#include <map>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "net/file_downloader.h"
#include "net/json_post_win.h"
#include "tests/support/test_env_win.h"

namespace tessaryn {
namespace {

using nlohmann::json;
using namespace testing;

std::string raisedText(const std::string& url, const std::string& body = "{}") {
    try {
        postJson(url, body, {"Setup/1.1 (Test)", 10000});
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "(nothing raised)";
}

// Requests the host recorded whose path contains `marker`.
json recordedRequests(const std::string& marker) {
    FileDownloader reader;
    const std::string path = scratchDir() + "requests.json";
    reader.downloadFile(serverUrl() + "/__requests", path, nullptr);
    json matching = json::array();
    for (const auto& r : json::parse(readFile(path))) {
        if (r["path"].get<std::string>().find(marker) != std::string::npos) matching.push_back(r);
    }
    return matching;
}

std::map<std::string, std::string> headerMap(const json& headers) {
    std::map<std::string, std::string> map;
    for (const auto& pair : headers) map[pair[0]] = pair[1];
    return map;
}

class Post : public ServerTest {};

TEST_F(Post, BodyAndHeadersArriveAsSent) {
    const std::string body = R"({"event":3,"prod":"Tessaryn","text":"grüße \"quoted\""})";
    const JsonPost how{"Setup/1.1 (Test System)", 10000};
    const json echo = json::parse(postJson(serverUrl() + "/echo?t=exact", body, how).body);
    EXPECT_EQ(echo["method"], "POST");
    EXPECT_EQ(echo["body"], body);
    auto headers = headerMap(echo["headers"]);
    EXPECT_EQ(headers["User-Agent"], "Setup/1.1 (Test System)");
    EXPECT_EQ(headers["Content-Type"], "application/json");
    EXPECT_EQ(headers["Content-Length"], std::to_string(body.size()));
    EXPECT_EQ(headers["Cache-Control"], "no-cache, no-store, must-revalidate");
    EXPECT_EQ(headers["Pragma"], "no-cache");
    EXPECT_EQ(headers["Expires"], "0");
}

TEST_F(Post, NineRedirectsAreFollowedWithTheBodyEachTime) {
    for (const char* mode : {"absolute", "rooted", "relative"}) {
        for (const char* status : {"302", "307", "301"}) {
            const std::string marker = std::string("t=nine-") + mode + status;
            const std::string url =
                serverUrl() + "/chain/" + mode + "/9/end?status=" + status + "&" + marker;
            const json echo = json::parse(postJson(url, R"({"n":9})").body);
            EXPECT_EQ(echo["method"], "POST") << url;
            EXPECT_EQ(echo["body"], R"({"n":9})") << url;
            EXPECT_EQ(echo["path"],
                      "/chain/" + std::string(mode) + "/0/end?status=" + status + "&" + marker);
            const json requests = recordedRequests(marker);
            ASSERT_EQ(requests.size(), 10u) << url;
            for (const auto& r : requests) EXPECT_EQ(r["body"], R"({"n":9})");
        }
    }
}

TEST_F(Post, TheTenthRedirectFails) {
    EXPECT_EQ(raisedText(serverUrl() + "/chain/relative/10/end?t=ten"), "Too many redirects");
    EXPECT_EQ(recordedRequests("t=ten").size(), 10u);
}

TEST_F(Post, RedirectToAnotherSchemeAndPort) {
    const std::string url = serverUrl() + "/status/302?to=" + secureServerUrl() + "/echo";
    const json echo = json::parse(postJson(url, "[1,2]").body);
    EXPECT_EQ(echo["body"], "[1,2]");
    EXPECT_EQ("https://" + headerMap(echo["headers"])["Host"], secureServerUrl());
}

TEST_F(Post, StatusesOtherThan200AreErrors) {
    EXPECT_EQ(raisedText(serverUrl() + "/status/204"), "HTTP error: 204");
    EXPECT_EQ(raisedText(serverUrl() + "/status/201"), "HTTP error: 201");
    EXPECT_EQ(raisedText(serverUrl() + "/status/404"), "HTTP error: 404");
    EXPECT_EQ(raisedText(serverUrl() + "/status/500"), "HTTP error: 500");
    EXPECT_EQ(raisedText(serverUrl() + "/noloc"), "Redirect without Location header");
    EXPECT_EQ(raisedText("nonsense"), "Failed to parse URL: nonsense");
    EXPECT_EQ(raisedText("http://127.0.0.1:1/x"), "Failed to send POST request");
}

TEST_F(Post, AnswerBodiesComeBackWholeUpTo64KiB) {
    EXPECT_EQ(postJson(serverUrl() + "/bytes/0", "{}").body, "");
    EXPECT_EQ(postJson(serverUrl() + "/bytes/65536?chunked=1&chunk=30000", "{}").body,
              testing::patternBytes(65536));
    EXPECT_EQ(postJson(secureServerUrl() + "/bytes/5", "{}").body, testing::patternBytes(5));
    // Larger, or without end: dropped, not gathered in memory.
    EXPECT_EQ(raisedText(serverUrl() + "/bytes/65537?chunked=1&chunk=30000"), "Answer too large");
    EXPECT_EQ(raisedText(serverUrl() + "/endless"), "Answer too large");
}

TEST_F(Post, CertificateForAnotherNameOrOutOfDateIsRefused) {
    for (const char* name : {"TESSARYN_TEST_SERVER_HTTPS_OTHER_NAME",
                             "TESSARYN_TEST_SERVER_HTTPS_EXPIRED"}) {
        ASSERT_FALSE(testing::testEnv(name).empty()) << name;
        EXPECT_EQ(raisedText(testing::testEnv(name) + "/echo"), "Failed to send POST request")
            << name;
    }
}

}  // namespace
}  // namespace tessaryn
