// The download job end to end: window, worker, status lines and the final hold.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <nlohmann/json.hpp>
#include <optional>
#include <regex>
#include <set>
#include <thread>

#include "app/download_job_win.h"
#include "app/run_outcome_win.h"
#include "system/handles_win.h"
#include "system/unicode_win.h"
#include "tests/support/test_env_win.h"

namespace tessaryn {
namespace {

// The host the failure box names for support.

using namespace testing;

// Watches this process's progress window from another thread and notes every status line it
// shows and whether the window was ever visible.
class WindowWatcher {
  public:
    WindowWatcher() : thread_([this] { run(); }) {}
    ~WindowWatcher() { stop(); }

    void stop() {
        stopping_ = true;
        if (thread_.joinable()) thread_.join();
    }
    static HWND findOwnWindow();
    std::vector<std::string> lines;  // in order of first appearance
    bool sawWindow = false;
    bool sawVisible = false;

  private:
    void run() {
        while (!stopping_) {
            if (HWND window = findOwnWindow()) {
                sawWindow = true;
                if (IsWindowVisible(window)) sawVisible = true;
                HWND status = FindWindowExW(window, nullptr, L"Static", nullptr);
                wchar_t text[512] = {};
                DWORD_PTR ignored = 0;
                // A timeout, so that the watcher never hangs on a window that is going away.
                if (status &&
                    SendMessageTimeoutW(status, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(text),
                                        SMTO_BLOCK, 500, &ignored)) {
                    const std::string line = toUtf8(text);
                    if (lines.empty() || lines.back() != line) lines.push_back(line);
                }
            }
            Sleep(15);
        }
    }
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

HWND WindowWatcher::findOwnWindow() {
    HWND candidate = nullptr;
    while ((candidate = FindWindowExW(nullptr, candidate, L"ProgressWindowClass", nullptr))) {
        DWORD pid = 0;
        GetWindowThreadProcessId(candidate, &pid);
        if (pid == GetCurrentProcessId()) return candidate;
    }
    return nullptr;
}

bool anyMatches(const std::vector<std::string>& lines, const std::string& pattern) {
    const std::regex re(pattern);
    for (const auto& line : lines) {
        if (std::regex_match(line, re)) return true;
    }
    return false;
}

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

class DownloadJob : public ServerTest {
  protected:
    DownloadLook look{false, "Setup/1.1 (Job Test)", RetrySchedule{2, {100}, 1000}};
};

TEST_F(DownloadJob, FileArrivesWithProgressLinesThenVerifying) {
    const std::string path = scratchDir() + "job.pak";
    WindowWatcher watcher;
    const auto start = std::chrono::steady_clock::now();
    const bool ok = downloadFileWithProgress(
                        path, {serverUrl() + "/bytes/400000?chunk=40000&delay=100"},
                        "Downloading setup files... ", look)
                        .complete;
    const double took = secondsSince(start);
    watcher.stop();
    ASSERT_TRUE(ok);
    EXPECT_EQ(readFile(path), patternBytes(400000));
    EXPECT_GE(took, 2.0);  // the final line is held for 2 s
    EXPECT_TRUE(watcher.sawVisible);
    EXPECT_TRUE(anyMatches(watcher.lines, R"(Downloading setup files\.\.\. \d{1,2}% - \d+ KB/s)"));
    ASSERT_FALSE(watcher.lines.empty());
    EXPECT_EQ(watcher.lines.back(), "Verifying download...");
}

TEST_F(DownloadJob, UnknownSizeShowsKilobytes) {
    const std::string path = scratchDir() + "job-unsized.dat";
    WindowWatcher watcher;
    ASSERT_TRUE(downloadFileWithProgress(
                    path, {serverUrl() + "/bytes/300000?chunked=1&chunk=30000&delay=100"},
                    "Initializing setup... ", look)
                    .complete);
    watcher.stop();
    EXPECT_TRUE(anyMatches(watcher.lines, R"(Initializing setup\.\.\. \d+ KB - \d+ KB/s)"));
    // Kilobytes only grow and never pass the 292 KB of the body.
    const std::regex kilobytes(R"(Initializing setup\.\.\. (\d+) KB - \d+ KB/s)");
    int previous = 0;
    for (const auto& line : watcher.lines) {
        std::smatch m;
        if (!std::regex_match(line, m, kilobytes)) continue;
        const int kb = std::stoi(m[1]);
        EXPECT_GE(kb, previous);
        EXPECT_LE(kb, 292);
        previous = kb;
    }
    EXPECT_GT(previous, 0);
    EXPECT_FALSE(anyMatches(watcher.lines, ".*%.*"));
}

// A final answer fails at once; a cut transfer (the route ignores ranges, so each try starts
// over) is tried again with a notice. The last line, held 2 s, says why; no file is left.
TEST_F(DownloadJob, FailureIsShownWithItsCauseAndLeavesNoFile) {
    const struct {
        const char* route;
        int restarts;
        const char* retryLine;  // a pattern, or "" for none
        const char* lastLine;
    } rows[] = {
        {"/status/404", 0, "",
         "Download failed! The server 127.0.0.1 answered with HTTP status 404."},
        {"/bytes/300000?chunk=50000&delay=50&cut=120000", 1,
         R"(Connection lost\. Retrying in 1 s \(try 2 of 2\)\.\.\.)",
         "Download failed! The connection to 127.0.0.1 was lost 2 times."},
    };
    for (const auto& row : rows) {
        const std::string path = scratchDir() + "job-failed.pak";
        WindowWatcher watcher;
        const auto start = std::chrono::steady_clock::now();
        const auto result =
            downloadFileWithProgress(path, {serverUrl() + row.route}, "Downloading... ", look);
        EXPECT_GE(secondsSince(start), 2.0) << row.route;
        watcher.stop();
        EXPECT_FALSE(result.complete) << row.route;
        EXPECT_EQ(result.restarts, row.restarts) << row.route;
        EXPECT_EQ(anyMatches(watcher.lines, row.retryLine), *row.retryLine != 0) << row.route;
        ASSERT_FALSE(watcher.lines.empty()) << row.route;
        EXPECT_EQ(watcher.lines.back(), row.lastLine);
        EXPECT_FALSE(fileExists(path)) << row.route;
    }
}

TEST_F(DownloadJob, SilentRunKeepsTheWindowHidden) {
    look.silent = true;
    const std::string path = scratchDir() + "job-silent.dat";
    WindowWatcher watcher;
    const auto start = std::chrono::steady_clock::now();
    // Slow enough for the watcher to find the window; nobody looks, so no final 2 s hold.
    EXPECT_TRUE(downloadFileWithProgress(path, {serverUrl() + "/bytes/5000?chunk=1000&delay=100"},
                                         "Initializing setup... ", look)
                    .complete);
    EXPECT_LT(secondsSince(start), 2.0);
    watcher.stop();
    EXPECT_TRUE(watcher.sawWindow);
    EXPECT_FALSE(watcher.sawVisible);
    EXPECT_EQ(readFile(path), patternBytes(5000));
}

TEST_F(DownloadJob, SendsTheProcessAgentString) {
    const std::string path = scratchDir() + "job-echo.json";
    ASSERT_TRUE(
        downloadFileWithProgress(path, {serverUrl() + "/echo"}, "Initializing setup... ", look)
            .complete);
    const auto echo = nlohmann::json::parse(readFile(path));
    bool found = false;
    for (const auto& pair : echo["headers"]) {
        if (pair[0] == "User-Agent") {
            EXPECT_EQ(pair[1], "Setup/1.1 (Job Test)");
            found = true;
        }
    }
    EXPECT_TRUE(found);
}

// The failure box waits for the user, so it is tried in a child: this same program, started with
// a filter that picks the test below and a variable that makes it end a run whose download failed.
// The child ends with 42 once the call has returned: the run, not the box, ends the process.
constexpr DWORD kReturnedFromBox = 42;
constexpr char kSupport[] = "https://help.example/tessaryn";
TEST(DownloadFailureChild, CallsTheFailureBox) {
    if (testing::testEnv("TESSARYN_FAILURE_CHILD").empty()) GTEST_SKIP() << "runs as a child only";
    const int code = endWithDownloadFailure(
        DownloadFailure::HttpStatus, "", testing::testEnv("TESSARYN_FAILURE_CHILD") == "silent",
        kSupport);
    ExitProcess(code == -1 ? kReturnedFromBox : 43);
}

class ChildProcess {
  public:
    explicit ChildProcess(const char* mode) {
        wchar_t self[MAX_PATH] = {};
        GetModuleFileNameW(nullptr, self, MAX_PATH);
        std::wstring command = L"\"" + std::wstring(self) +
                               L"\" --gtest_filter=DownloadFailureChild.CallsTheFailureBox";
        SetEnvironmentVariableA("TESSARYN_FAILURE_CHILD", mode);
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        started_ = CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                  nullptr, &startup, &info_);
        SetEnvironmentVariableA("TESSARYN_FAILURE_CHILD", nullptr);
        process_.reset(info_.hProcess);
        thread_.reset(info_.hThread);
    }
    ~ChildProcess() {
        if (process_ && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT)
            TerminateProcess(process_.get(), 99);
    }
    bool started() const { return started_; }
    DWORD id() const { return info_.dwProcessId; }
    // The exit code, or nothing when the child is still running after `ms`.
    std::optional<DWORD> exitCode(DWORD ms) {
        if (WaitForSingleObject(process_.get(), ms) != WAIT_OBJECT_0) return std::nullopt;
        DWORD code = 0;
        GetExitCodeProcess(process_.get(), &code);
        return code;
    }

  private:
    PROCESS_INFORMATION info_ = {};
    bool started_ = false;
    UniqueKernelHandle process_;
    UniqueKernelHandle thread_;
};

HWND findDialogOf(DWORD processId, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < timeoutMs) {
        HWND candidate = nullptr;
        while ((candidate = FindWindowExW(nullptr, candidate, L"#32770", nullptr))) {
            DWORD pid = 0;
            GetWindowThreadProcessId(candidate, &pid);
            // A box exists a moment before its caption and text are set: wait until it shows.
            if (pid == processId && IsWindowVisible(candidate) &&
                GetWindowTextLengthW(candidate) > 0 && GetDlgItem(candidate, 0xFFFF))
                return candidate;
        }
        Sleep(50);
    }
    return nullptr;
}

TEST(DownloadFailure, SilentRunShowsNoBoxAndReturns) {
    ChildProcess child("silent");
    ASSERT_TRUE(child.started());
    const auto code = child.exitCode(20000);
    ASSERT_TRUE(code.has_value()) << "the child waits for something";
    EXPECT_EQ(*code, kReturnedFromBox);
}

TEST(DownloadFailure, BoxNamesTheReleasesSupportThenReturns) {
    ChildProcess child("shown");
    ASSERT_TRUE(child.started());
    HWND box = findDialogOf(child.id(), 20000);
    ASSERT_NE(box, nullptr);
    wchar_t caption[64] = {};
    GetWindowTextW(box, caption, 64);
    EXPECT_EQ(std::wstring(caption), L"Error");
    // The message text is the dialog's static control with id 0xFFFF.
    wchar_t text[512] = {};
    GetDlgItemTextW(box, 0xFFFF, text, 512);
    EXPECT_EQ(toUtf8(text), "Download failed!\nPlease try later, or visit " +
                                std::string(kSupport) + " to contact support.");
    EXPECT_FALSE(child.exitCode(0).has_value());  // waits for the user
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    const auto code = child.exitCode(20000);
    ASSERT_TRUE(code.has_value());
    EXPECT_EQ(*code, kReturnedFromBox);
}

TEST_F(DownloadJob, ClosingTheWindowCancelsATransferThatTrickles) {
    const std::string path = scratchDir() + "job-closed.pak";
    std::thread closer([] {
        HWND window = nullptr;
        for (int i = 0; i < 500 && !(window = WindowWatcher::findOwnWindow()); ++i) Sleep(10);
        Sleep(300);
        PostMessageW(window, WM_CLOSE, 0, 0);
    });
    const auto start = std::chrono::steady_clock::now();
    // A byte every 50 ms: 100 s to finish, unless the close stops it.
    const bool ok = downloadFileWithProgress(path, {serverUrl() + "/bytes/2000?chunk=1&delay=50"},
                                             "Downloading setup files... ", look)
                        .complete;
    closer.join();
    EXPECT_FALSE(ok);
    EXPECT_LT(secondsSince(start), 10.0);
}

}  // namespace
}  // namespace tessaryn
