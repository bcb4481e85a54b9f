#include "app/ui_text_win.h"
#include "app/unpack_while_downloading_win.h"

#include <algorithm>
#include <chrono>

#include "app/status_texts.h"
#include "package/bundle.h"
#include "package/bundle_stream.h"
#include "package/signature_check.h"
#include "system/run_log.h"
#include "system/unicode_win.h"
#include "ui/progress_window_win.h"
#include "ui/pump_win.h"

namespace tessaryn {

namespace {

// The longest the unpacking waits for the next bytes: past it, the package is unpacked whole
// once it has arrived (the download has its own limits and retries).
constexpr auto kLongestWait = std::chrono::minutes(2);

}  // namespace

UnpackWhileDownloading::UnpackWhileDownloading(uint64_t packageSize, std::string destination,
                                               uint64_t spaceBudget)
    : packageSize_(packageSize), destination_(std::move(destination)), spaceBudget_(spaceBudget) {
    thread_ = std::thread([this] { run(); });
}

UnpackWhileDownloading::~UnpackWhileDownloading() {
    stop();
    leaveView();
    if (thread_.joinable()) thread_.join();
}

void UnpackWhileDownloading::opened(HANDLE file) {
    // The view covers the whole package from the start: the file is made that long first (the
    // download writes over it from its first byte), as a read-only mapping cannot grow.
    bool made = packageSize_ > kSignatureBytes && packageSize_ <= SIZE_MAX;
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(packageSize_);
    made = made && SetFilePointerEx(file, at, nullptr, FILE_BEGIN) && SetEndOfFile(file);
    at.QuadPart = 0;
    const bool rewound = SetFilePointerEx(file, at, nullptr, FILE_BEGIN);
    UniqueKernelHandle mapping(made && rewound ? CreateFileMappingW(file, nullptr, PAGE_READONLY,
                                                                    0, 0, nullptr)
                                               : nullptr);
    const void* view = mapping ? MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0) : nullptr;
    if (!view) {
        const DWORD error = GetLastError();
        mapping.reset();
        if (made && rewound) (void)SetEndOfFile(file);  // back to empty, as it was made
        logLine("No view of the arriving package (error " + std::to_string(error) +
                "): it is unpacked once it has arrived");
    }
    std::lock_guard lock(mutex_);
    view_.reset(view);
    mapping_ = std::move(mapping);
    viewTried_ = true;
    changed_.notify_all();
}

void UnpackWhileDownloading::checked(uint64_t checkedEnd) {
    std::lock_guard lock(mutex_);
    if (checkedEnd == checkedEnd_) return;
    checkedEnd_ = checkedEnd;
    changed_.notify_all();
}

void UnpackWhileDownloading::restarted() {
    logLine("The package starts over: it is unpacked once it has arrived");
    stop();
    leaveView();
}

void UnpackWhileDownloading::stop() {
    std::lock_guard lock(mutex_);
    stopped_ = true;
    changed_.notify_all();
}

size_t UnpackWhileDownloading::waitFor(size_t wanted) {
    const uint64_t bundleSize = packageSize_ - kSignatureBytes;
    std::unique_lock lock(mutex_);
    const auto available = [&] { return std::min(checkedEnd_, bundleSize); };
    changed_.wait_for(lock, kLongestWait, [&] { return stopped_ || available() >= wanted; });
    return stopped_ ? 0 : static_cast<size_t>(available());
}

void UnpackWhileDownloading::run() {
    const uint8_t* view = nullptr;
    {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, kLongestWait, [&] { return viewTried_ || stopped_; });
        if (!stopped_) view = static_cast<const uint8_t*>(view_.get());
    }
    UnpackResult outcome = UnpackResult::readWhole("no view of the arriving package");
    if (view) {
        logLine("Unpacking into " + destination_ + " as the package arrives");
        BundleStream stream(view, static_cast<size_t>(packageSize_ - kSignatureBytes),
                            [this](size_t wanted) { return waitFor(wanted); });
        const StreamProgressCallback progress = [this](size_t index, size_t listed) {
            if (handed_ == 0) {
                std::lock_guard lock(mutex_);
                logLine("Unpacking began at byte " + std::to_string(checkedEnd_) + " of " +
                        std::to_string(packageSize_));
            }
            listed_ = listed;
            handed_ = index + 1;
        };
        try {
            // Each file written through to the disk by its worker, as on the whole road.
            outcome = extractBundleStream(destination_, stream, view, spaceBudget_, progress, 0,
                                          true);
        } catch (const std::exception& unexpected) {
            // No memory, no thread: nothing of it to keep, and the whole road may still fare
            // better.
            outcome = UnpackResult::readWhole(unexpected.what());
        }
    }
    std::lock_guard lock(mutex_);
    outcome_ = std::move(outcome);
    ended_ = true;
    changed_.notify_all();
}

void UnpackWhileDownloading::leaveView() {
    std::unique_lock lock(mutex_);
    // Nothing reads the view once the unpacking has ended (its pool is joined by then).
    changed_.wait(lock, [&] { return ended_; });
    view_.reset();
    mapping_.reset();
}

UnpackResult UnpackWhileDownloading::finish(ProgressWindow& window) {
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (ended_) break;
        }
        const size_t listed = listed_;
        window.setStatusText(handed_ == 0 ? wideText(Text::progress_installing_files)
                                          : wideText(Text::progress_installing_files) + L" " +
                                                toWide(fileCount()));
        if (listed != 0) window.advanceProgress(static_cast<int>(handed_ * 100 / listed));
        pumpFor(std::chrono::milliseconds(50));
    }
    thread_.join();
    std::lock_guard lock(mutex_);
    return outcome_;
}

std::string UnpackWhileDownloading::fileCount() const {
    return fileCountText(uiTexts(), handed_, listed_);
}

std::string UnpackWhileDownloading::statusSuffix() const {
    return handed_ == 0 ? std::string() : ", " + fileCount();
}

}  // namespace tessaryn
