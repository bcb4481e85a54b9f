#include "app/ui_text_win.h"
#include "app/install_worker_win.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "app/product_name.h"
#include "package/bundle.h"
#include "package/signature_check.h"
#include "system/file_tree_win.h"
#include "system/handles_win.h"
#include "system/path_parts.h"
#include "system/run_log.h"
#include "system/unicode_win.h"
#include "ui/pump_win.h"

namespace tessaryn {

std::optional<uint64_t> freeDiskBytes(const std::wstring& folder) {
    ULARGE_INTEGER free = {};
    if (!GetDiskFreeSpaceExW(folder.c_str(), &free, nullptr, nullptr)) return std::nullopt;
    return free.QuadPart;
}

std::optional<RunEnd> diskSpaceShortfall(const RunContext& context, const std::wstring& folder) {
    if (context.package.size() < kSignatureBytes) return std::nullopt;
    uint64_t needed = 0;
    try {
        needed = bundleUnpackedBytes(context.package.data(),
                                     context.package.size() - kSignatureBytes);
    } catch (const std::exception&) {
        return std::nullopt;  // the unpacking itself reports what is wrong with the bundle
    }
    const std::optional<uint64_t> free = freeDiskBytes(folder);
    if (!free) return std::nullopt;
    const uint64_t available = *free;
    logLine("Disk space: " + std::to_string(needed) + " bytes to unpack, " +
            std::to_string(available) + " bytes free for " + toUtf8(folder));
    if (needed <= available) return std::nullopt;
    // The message names the install folder the user knows, not the staging folder beside it.
    const std::wstring shown = context.installDir.empty() ? folder : context.installDir;
    return diskFullEnd(toUtf8(withoutTrailingSeparator(shown)), kBuiltInProductName, needed,
                       available);
}

UnpackResult extractPackage(const RunContext& context, const std::wstring& destination,
                            ProgressWindow& window) {
    // Only stores into the window's shared state: safe from any number of threads, and the bar
    // keeps the highest fraction reported, whatever order the threads report in.
    const std::wstring status = wideText(Text::progress_installing_files);
    ExtractProgressCallback progress = [&window, &status](float fraction, const std::string&) {
        window.setStatusText(status);
        window.advanceProgress(std::clamp(static_cast<int>(fraction * 100), 0, 100));
    };
    UnpackResult result = UnpackResult::failed(0, {});  // no reason known
    try {
        // The checked view: its last 64 bytes are the signature, the rest is the bundle.
        if (context.package.size() < kSignatureBytes) {
            result = UnpackResult::failed(0, readFailedText(toUtf8(context.tempPak)));
        } else {
            logLine("Unpacking into " + toUtf8(destination));
            // Each file is written through to the disk by its worker, before the folder can
            // take the install folder's place.
            result = extractBundle(toUtf8(destination), context.package.data(),
                                   context.package.size() - kSignatureBytes, progress, 0, true);
        }
        if (result.isDone()) {
            if (logActive()) {
                const std::vector<TreeFile> files = listFiles(destination);
                logLine("Unpacked: " + std::to_string(files.size()) + " files, " +
                        std::to_string(totalSize(files)) + " bytes");
            }
            progress(1.0f, "Complete");
            return result;
        }
    } catch (const std::exception& error) {
        result = UnpackResult::failed(0, error.what());
    } catch (...) {
        return result;
    }
    logLine("Unpacking failed: " +
            (result.text().empty() ? "Unknown error while installing files" : result.text()));
    return result;
}

UnpackResult unpackWhilePumping(const std::function<UnpackResult()>& unpack) {
    const UniqueKernelHandle finished(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::atomic<bool> ended{false};
    std::optional<UnpackResult> result;
    std::thread worker([&] {
        try {
            result = unpack();
        } catch (...) {
            result = UnpackResult::failed(0, {});
        }
        ended = true;  // after the result: the waiting thread reads it once it sees this
        if (finished) SetEvent(finished.get());
    });
    while (!ended) {
        if (finished) {
            pumpUntilSignalled(finished.get());
        } else {
            // No event could be made: look again now and then.
            pumpFor(std::chrono::milliseconds(20));
        }
    }
    worker.join();
    return *result;
}

}  // namespace tessaryn
