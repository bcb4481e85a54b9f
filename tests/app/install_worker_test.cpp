// The unpacking worker of the install road and the main thread's wait for it.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "app/install_worker_win.h"
#include "ui/pump_win.h"

namespace tessaryn {
namespace {

RunContext contextWithPackage(const std::wstring& package) {
    RunContext context;
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    context.installDir = std::wstring(temp) + L"tessaryn-worker-test\\";
    context.tempPak = package;
    return context;
}

TEST(InstallWorker, FailureIsStoredWithItsTextNotThrown) {
    ProgressWindow window(false, L"Setup");
    WorkerState worker;
    const RunContext context = contextWithPackage(L"C:\\no\\such\\setup.pak");
    std::thread thread([&] { extractPackage(context, context.installDir, window, worker); });
    waitForWorker(worker);
    thread.join();
    EXPECT_TRUE(worker.failed);
    EXPECT_FALSE(worker.done);
    EXPECT_EQ(worker.error.rfind("Failed to read file: ", 0), 0u) << worker.error;
}

// The window can vanish while files are still being written; the road must not go on (and
// later end) while the worker still reports into state the road owns.
TEST(InstallWorker, WaitOutlastsAVanishedWindow) {
    ProgressWindow window(false, L"Setup");
    ShowWindow(window.handle(), SW_SHOW);
    WorkerState worker;
    std::atomic<int> reports{0};
    std::thread thread([&] {
        for (int i = 0; i < 40; ++i) {
            window.setStatusText(L"Installing files...");
            window.setProgress(i);
            ++reports;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        worker.succeed();
    });
    while (reports < 5) {
        pumpMessages();
        Sleep(5);
    }
    DestroyWindow(window.handle());

    waitForWorker(worker);

    EXPECT_TRUE(worker.done);
    EXPECT_EQ(reports, 40);
    thread.join();
}

}  // namespace
}  // namespace tessaryn
