// Usage events against the test web host: what is sent, when nothing is sent, and what the
// program does with the host's answers (real message boxes, found and closed by a watcher).
#include <windows.h>

#include <shellapi.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <thread>

#include "net/file_downloader.h"
#include "net/json_post_win.h"
#include "system/process_win.h"
#include "system/unicode_win.h"
#include "telemetry/events_win.h"
#include "tests/support/test_env_win.h"
#include "tests/telemetry/answers_key.h"
#include "tests/telemetry/message_box_watch_win.h"

namespace tessaryn {
namespace {

using nlohmann::json;
using namespace testing;

const char kMachineId[] = "anon-0123456789ABCDEF0123456789ABCDEF";

// Makes the host answer POSTs to `path` with `body`, after `delaySeconds` (before each
// `chunkSize` bytes when given). The host signs it for the request it answers, unless `extra`
// sets the signature header itself or "sign_for" (another request).
void scriptAnswer(const std::string& path, const std::string& body, double delaySeconds = 0,
                  int chunkSize = 0, const json& extra = json::object()) {
    json answer = {
        {"path", path}, {"body", body}, {"headers", {{"Content-Type", "application/json"}}}};
    if (delaySeconds > 0) answer["chunk_delay"] = delaySeconds;
    if (chunkSize > 0) answer["chunk_size"] = chunkSize;
    for (const auto& [key, value] : extra.items()) {
        if (key == "headers")
            answer["headers"].update(value);
        else
            answer[key] = value;
    }
    ASSERT_EQ(postJson(serverUrl() + "/__answers", answer.dump()).body, "ok");
}

// The requests the host recorded for `path`.
json requestsTo(const std::string& path) {
    FileDownloader reader;
    std::string file = testing::scratchDir() + "requests.json";
    reader.downloadFile(serverUrl() + "/__requests", file, nullptr);
    json matching = json::array();
    for (const auto& request : json::parse(testing::readFile(file))) {
        if (request["path"] == path) matching.push_back(request);
    }
    return matching;
}

std::map<std::string, std::string> headerMap(const json& headers) {
    std::map<std::string, std::string> map;
    for (const auto& pair : headers) map[pair[0]] = pair[1];
    return map;
}

class Events : public ServerTest {
  protected:
    void SetUp() override {
        ServerTest::SetUp();
        config.productName = "Tessaryn";
        config.machineId = kMachineId;
        config.userAgent = "Setup/1.1 (Windows 10 Build 19045; x64; en-US)";
        config.system = "Windows 10 Build 19045; x64; en-US";
        config.enabled = true;
        config.silent = false;
        config.answersKey = testing::answersKey();
        configureTelemetry(config);
    }
    // Posts the next events to `address`.
    void sendTo(const std::string& address) {
        config.address = address;
        configureTelemetry(config);
    }
    // A path of its own for each test, so that recorded requests do not mix.
    std::string usePath(const std::string& name) {
        std::string path = "/installers/metrics-" + name;
        sendTo(serverUrl() + path);
        return path;
    }
    TelemetryConfig config;
};

TEST_F(Events, BodyBytesAndAgentArriveExactly) {
    std::string path = usePath("exact");
    scriptAnswer(path, "{}");
    sendMetric(UsageEvent::LicenseAccepted, false);
    json requests = requestsTo(path);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0]["method"], "POST");
    const std::string body = requests[0]["body"];
    const std::string rest = std::string(R"(","prod":"Tessaryn","sys":"Windows 10 Build 19045; x64; )"
                                         R"(en-US","uuid":")") + kMachineId + "\",\"ver\":\"1.1\"}";
    ASSERT_EQ(body.size(), 52 + rest.size()) << body;
    EXPECT_EQ(body.substr(0, 20), R"({"event":5,"nonce":")");
    EXPECT_EQ(body.find_first_not_of("0123456789abcdef", 20), 52u) << "32 hex digits";
    EXPECT_EQ(body.substr(52), rest);
    auto headers = headerMap(requests[0]["headers"]);
    EXPECT_EQ(headers["User-Agent"], "Setup/1.1 (Windows 10 Build 19045; x64; en-US)");
    EXPECT_EQ(headers["Content-Type"], "application/json");
}

TEST_F(Events, NothingIsSentWhenEventsAreOff) {
    std::string path = usePath("off");
    scriptAnswer(path, "{}");
    config.enabled = false;
    configureTelemetry(config);
    sendMetric(UsageEvent::LicenseDeclined, false);
    sendMetric(UsageEvent::DownloadFailed, true);
    ::Sleep(1500);
    EXPECT_EQ(requestsTo(path).size(), 0u);
}

TEST_F(Events, BackgroundEventNeverBlocksTheCaller) {
    std::string path = usePath("slow");
    scriptAnswer(path, "{}", 4.0);
    auto start = std::chrono::steady_clock::now();
    sendMetric(UsageEvent::PreviousVersionRemoval, true);
    auto spent = std::chrono::steady_clock::now() - start;
    EXPECT_LT(spent, std::chrono::milliseconds(500));
    // It is still sent.
    json requests;
    for (int i = 0; i < 100 && requests.empty(); ++i) {
        ::Sleep(100);
        requests = requestsTo(path);
    }
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0]["body"].get<std::string>().substr(0, 11), R"({"event":7,)");
    EXPECT_TRUE(waitForPendingMetrics(15000));
}

TEST_F(Events, PendingBackgroundEventsCanBeAwaitedWithALimit) {
    std::string path = usePath("pending");
    scriptAnswer(path, "{}", 1.5);
    ASSERT_TRUE(waitForPendingMetrics(15000)) << "events of earlier tests finish";
    EXPECT_TRUE(waitForPendingMetrics(0)) << "nothing pending";
    sendMetric(UsageEvent::LicenseAccepted, true);
    sendMetric(UsageEvent::UninstallStarted, true);
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(waitForPendingMetrics(200)) << "the host has not answered yet";
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
    EXPECT_TRUE(waitForPendingMetrics(15000));
    EXPECT_EQ(requestsTo(path).size(), 2u);
}

TEST_F(Events, FailuresAreSwallowed) {
    usePath("unused");
    sendTo(serverUrl() + "/status/500");
    sendMetricNow(UsageEvent::InstallFailed);
    sendTo("http://127.0.0.1:1/installers/metrics");
    sendMetricNow(UsageEvent::InstallFailed);
    sendTo("not an address");
    sendMetric(UsageEvent::InstallFailed, false);
    std::string path = usePath("not-json");
    scriptAnswer(path, "<html>busy</html>");
    sendMetricNow(UsageEvent::InstallFailed);
    EXPECT_EQ(requestsTo(path).size(), 1u);
}

// What a signed answer shows: its text and title (default "Message") in Unicode, the icon it
// names (none for an unknown name); no box for a numeric icon type or in a silent run, where the
// event itself still goes out.
TEST_F(Events, SignedAnswerShowsItsMessageBox) {
    const struct {
        const char* answer;
        const wchar_t* title;
        bool silent;
        const wchar_t* text;  // nullptr: no box
        LPCWSTR icon;         // a system icon, or nullptr for none
    } rows[] = {
        {R"({"msg":"x"})", L"Message", false, L"x", IDI_INFORMATION},
        {"{\"msg\":\"Gr\xc3\xbc\xc3\x9f"
         "e \xe2\x82\xac\",\"title\":\"Hinweis\",\"icon_type\":\"error\"}",
         L"Hinweis", false,
         L"Gr\x00fc\x00df"
         L"e \x20ac",
         IDI_ERROR},
        {R"({"msg":"plain","title":"Plain","icon_type":"balloon"})", L"Plain", false, L"plain",
         nullptr},
        {R"({"msg":"hidden","title":"Hidden","icon_type":3})", L"Hidden", false, nullptr, nullptr},
        {R"({"msg":"quiet","title":"Quiet"})", L"Quiet", true, nullptr, nullptr},
    };
    int round = 0;
    for (const auto& row : rows) {
        config.silent = row.silent;
        const std::string path = usePath("box-" + std::to_string(++round));
        scriptAnswer(path, row.answer);
        MessageBoxWatch watch(row.title, row.text ? 20 : 3);
        sendMetricNow(UsageEvent::PackageBesideSetup);
        const testing::SeenBox box = watch.result();
        EXPECT_EQ(requestsTo(path).size(), 1u) << row.answer;
        ASSERT_EQ(box.found, row.text != nullptr) << row.answer;
        if (!row.text) continue;
        EXPECT_EQ(box.text, row.text);
        EXPECT_EQ(box.icon, row.icon ? ::LoadIconW(nullptr, row.icon) : nullptr) << row.answer;
    }
}

// Anyone on the path could answer: an answer without the host's signature, or signed for
// another request (an old answer replayed), is only logged; so is any answer in a build
// without an answers key.
TEST_F(Events, AnswersNotSignedForThisRequestAreIgnored) {
    int round = 0;
    for (const json& extra :
         {json{{"headers", {{"Tessaryn-Answer-Signature", std::string(128, '0')}}}},
          json{{"headers", {{"Tessaryn-Answer-Signature", ""}}}},
          json{{"sign_for", R"({"event":0,"nonce":"00","prod":"Tessaryn","uuid":"x"})"}},
          json::object()}) {
        const bool keyless = extra.empty();
        if (keyless) config.answersKey.reset();
        configureTelemetry(config);
        const std::string path = usePath("unsigned-" + std::to_string(++round));
        scriptAnswer(path, R"({"msg":"forged","title":"Forged"})", 0, 0, extra);
        MessageBoxWatch watch(L"Forged", 3);
        sendMetricNow(UsageEvent::PackageBesideSetup);
        EXPECT_FALSE(watch.result().found) << extra.dump();
        EXPECT_EQ(requestsTo(path).size(), 1u);
    }
}

// The whole exchange has its deadline, whatever the host does: a host that trickles its answer
// (a byte every 2 s) does not hold the caller past it.
TEST_F(Events, TricklingHostDoesNotHoldTheCallerPastTheDeadline) {
    const std::string path = usePath("trickle");
    scriptAnswer(path, R"({"msg":"late","title":"Late"})", 2.0, 1);
    MessageBoxWatch watch(L"Late", 14);
    const auto start = std::chrono::steady_clock::now();
    sendMetricNow(UsageEvent::InstallCompleted);
    const auto spent = std::chrono::steady_clock::now() - start;
    EXPECT_GE(spent, std::chrono::milliseconds(kAnswerDeadlineMs - 500));
    EXPECT_LT(spent, std::chrono::milliseconds(kAnswerDeadlineMs + 2000));
    EXPECT_FALSE(watch.result().found) << "an answer after the deadline is dropped";
}

// Runs the probe beside this program against `path`; its exit code.
DWORD runProbe(const std::string& path) {
    std::wstring line =
        L"\"" + getModuleDirectory() + L"\\metric_probe.exe\" " + toWide(serverUrl() + path);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &info)) {
        return 1000;
    }
    UniqueKernelHandle process(info.hProcess), thread(info.hThread);
    if (::WaitForSingleObject(process.get(), 30000) != WAIT_OBJECT_0) return 1001;
    DWORD code = 1002;
    ::GetExitCodeProcess(process.get(), &code);
    return code;
}

// An answer arrives at any moment, also while files are written: it never ends the program
// itself, the program ends at its next safe point.
TEST_F(Events, ActionOneIsRecordedNotCarriedOutOnTheEventsThread) {
    std::string path = usePath("action-1");
    scriptAnswer(path, R"({"action":1})");
    EXPECT_EQ(runProbe(path), 3u);
    path = usePath("action-2");
    scriptAnswer(path, R"({"action":2})");
    EXPECT_EQ(runProbe(path), 7u) << "only 1 asks for an end";
}

TEST_F(Events, AddressThatIsNotAWebPageIsNotOpened) {
    std::string folder = testing::scratchDir();
    std::string script = folder + "opened-by-answer.bat";
    std::string marker = folder + "answer-marker.txt";
    {
        std::ofstream out(script, std::ios::binary);
        out << "@echo ran> \"" << marker << "\"\r\n";
    }
    int round = 0;
    for (const std::string& url : {script, "file:///" + script}) {
        std::string path = usePath("url-local-" + std::to_string(++round));
        scriptAnswer(path, json({{"url", url}}).dump());
        sendMetricNow(UsageEvent::SignatureInvalid);
        ASSERT_EQ(requestsTo(path).size(), 1u);
    }
    ::Sleep(2000);
    EXPECT_FALSE(testing::fileExists(marker));

    // The same script, opened on purpose, does leave its mark: the check above can fail.
    SHELLEXECUTEINFOW open = {};
    open.cbSize = sizeof open;
    open.fMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    const std::wstring file = toWide(script);
    open.lpFile = file.c_str();
    ASSERT_TRUE(::ShellExecuteExW(&open));
    for (int i = 0; i < 100 && !testing::fileExists(marker); ++i) ::Sleep(100);
    EXPECT_TRUE(testing::fileExists(marker));
}

}  // namespace
}  // namespace tessaryn
