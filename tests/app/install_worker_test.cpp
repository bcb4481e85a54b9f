// The unpacking worker of the install road and the main thread's wait for it.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "app/install_worker_win.h"
#include "app/unpack_while_downloading_win.h"
#include "tools/lzma_encode.h"

#include <fstream>
#include <nlohmann/json.hpp>

#include "system/unicode_win.h"
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

// A package whose one file says, in its LZMA header, that it unpacks to `unpacked` bytes.
LockedFile packageClaiming(uint64_t unpacked) {
    std::vector<uint8_t> item = {0x5D, 0, 0, 1, 0};
    for (int i = 0; i < 8; ++i) item.push_back(static_cast<uint8_t>(unpacked >> (8 * i)));
    const nlohmann::json files = nlohmann::json::array(
        {{{"n", "big.bin"}, {"t", "f"}, {"d", nlohmann::json::binary(item)}}});
    std::vector<uint8_t> bytes = nlohmann::json::to_cbor({{"version", "1"}, {"files", files}});
    bytes.resize(bytes.size() + 64);  // the signature's place
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::string path = toUtf8(temp) + "claiming-" + std::to_string(unpacked) + ".pak";
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
    return *LockedFile::open(path);
}

TEST(InstallWorker, FreeSpaceIsCheckedAgainstTheUnpackedSizes) {
    RunContext context;
    context.package = packageClaiming(1000);
    EXPECT_FALSE(diskSpaceShortfall(context, L"C:\\"));
    context.package = packageClaiming(1ull << 60);
    const std::optional<RunEnd> shortfall = diskSpaceShortfall(context, L"C:\\");
    ASSERT_TRUE(shortfall);
    EXPECT_EQ(shortfall->outcome, Outcome::DiskFull);
    // No install folder yet: the folder checked is the one named.
    ASSERT_EQ(shortfall->values.size(), 4u);
    EXPECT_EQ(shortfall->values[0], "C:\\");
    EXPECT_EQ(shortfall->values[2], "1099511627776");
}

TEST(InstallWorker, FailureIsReturnedWithItsTextNotThrown) {
    ProgressWindow window(false, L"Setup", L"Initializing...", false);
    const RunContext context = contextWithPackage(L"C:\\no\\such\\setup.pak");
    const UnpackResult result =
        unpackWhilePumping([&] { return extractPackage(context, context.installDir, window); });
    EXPECT_TRUE(result.isFailed());
    EXPECT_EQ(result.text().rfind("Failed to read file: ", 0), 0u) << result.text();
}

// The window can vanish while files are still being written; the road must not go on (and
// later end) while the worker still reports into state the road owns.
TEST(InstallWorker, WaitOutlastsAVanishedWindow) {
    ProgressWindow window(false, L"Setup", L"Initializing...", false);
    ShowWindow(window.handle(), SW_SHOW);
    static std::atomic<int> reports{0};
    static HWND shown = nullptr;
    reports = 0;
    shown = window.handle();
    // The window goes, on its own thread as it must, while the worker still reports into it.
    const UINT_PTR timer = SetTimer(nullptr, 0, 10, [](HWND, UINT, UINT_PTR id, DWORD) {
        if (reports < 5) return;
        KillTimer(nullptr, id);
        DestroyWindow(shown);
    });
    ASSERT_NE(timer, 0u);
    const UnpackResult result = unpackWhilePumping([&] {
        for (int i = 0; i < 40; ++i) {
            window.setStatusText(L"Installing files...");
            window.setProgress(i);
            ++reports;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return UnpackResult::done();
    });
    EXPECT_FALSE(IsWindow(window.handle()));
    EXPECT_TRUE(result.isDone());
    EXPECT_EQ(reports, 40);
}

// A download as the setup makes it: a new file written through a handle opened for reading too,
// with read sharing only. The unpacking reads what lies below the checked mark, and leaves its
// view on a restart, so that the file can be cut back.
TEST(UnpackWhileDownloading, FollowsTheCheckedMarkAndLeavesTheFileOnARestart) {
    const auto entry = [](const std::string& name, const std::string& text) {
        const std::vector<uint8_t> packed =
            lzmaAloneEncode(reinterpret_cast<const uint8_t*>(text.data()), text.size(), 1);
        return nlohmann::json{{"n", name}, {"t", "f"}, {"d", nlohmann::json::binary(packed)}};
    };
    const std::vector<uint8_t> first = nlohmann::json::to_cbor(entry("a.txt", "alpha"));
    std::vector<uint8_t> bytes = nlohmann::json::to_cbor(
        {{"files", nlohmann::json::array({entry("a.txt", "alpha"), entry("b.txt", "beta")})},
         {"version", "1"}});
    bytes.resize(bytes.size() + 64);  // the signature's place
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring path = std::wstring(temp) + L"tessaryn-arriving.pak";
    const std::wstring dest = std::wstring(temp) + L"tessaryn-arriving\\";
    ProgressWindow window(false, L"Setup", L"Initializing...", false);
    for (const bool restart : {true, false}) {
        DeleteFileW((dest + L"a.txt").c_str());
        DeleteFileW((dest + L"b.txt").c_str());
        UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                    nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(file);
        UnpackWhileDownloading early(bytes.size(), toUtf8(dest), UINT64_MAX);
        early.opened(file.get());
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()),
                              &written, nullptr));
        // The head (map, key, list) and the first entry have checked.
        early.checked(1 + 6 + 1 + first.size());
        for (int i = 0; i < 200 && GetFileAttributesW((dest + L"a.txt").c_str()) ==
                                       INVALID_FILE_ATTRIBUTES;
             ++i)
            Sleep(10);
        EXPECT_NE(GetFileAttributesW((dest + L"a.txt").c_str()), INVALID_FILE_ATTRIBUTES);
        EXPECT_EQ(GetFileAttributesW((dest + L"b.txt").c_str()), INVALID_FILE_ATTRIBUTES);
        if (restart) {
            early.restarted();
            LARGE_INTEGER start = {};
            EXPECT_TRUE(SetFilePointerEx(file.get(), start, nullptr, FILE_BEGIN) &&
                        SetEndOfFile(file.get()));
            EXPECT_EQ(early.finish(window).kind(), UnpackResult::Kind::ReadWhole);
        } else {
            early.checked(bytes.size());
            const UnpackResult unpacked = early.finish(window);
            EXPECT_TRUE(unpacked.isDone()) << unpacked.text();
            EXPECT_NE(GetFileAttributesW((dest + L"b.txt").c_str()), INVALID_FILE_ATTRIBUTES);
            EXPECT_EQ(early.statusSuffix(), ", 2 of 2 files");
        }
    }
}

}  // namespace
}  // namespace tessaryn
