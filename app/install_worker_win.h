#pragma once
// The worker that unpacks the package while the main thread keeps the installation window alive.
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "app/run_context_win.h"
#include "system/handles_win.h"
#include "ui/progress_window_win.h"

namespace tessaryn {

struct WorkerState {
    std::atomic<bool> done{false};
    std::atomic<bool> failed{false};
    std::string error;  // written before `failed` is set
    // Signalled (and left so) once the worker has ended either way.
    UniqueKernelHandle finished{CreateEventW(nullptr, TRUE, FALSE, nullptr)};

    void succeed() {
        done = true;
        SetEvent(finished.get());
    }
    void fail(std::string text) {
        error = std::move(text);
        failed = true;
        SetEvent(finished.get());
    }
};

// The free bytes of the volume that holds `folder`; none when they cannot be told.
std::optional<uint64_t> freeDiskBytes(const std::wstring& folder);

// Empty when the volume of `folder` has room for the package's unpacked files (or when either
// cannot be told); else the message that says how much is needed and free, in MB.
std::string diskSpaceShortfall(const RunContext& context, const std::wstring& folder);

// Unpacks the package into the install folder, reporting into the window without ever waiting
// for it; never throws. The unpacking may report from several threads at once.
void extractPackage(const RunContext& context, const std::wstring& destination,
                    ProgressWindow& window, WorkerState& worker);

// Dispatches the thread's messages as they come until the worker has ended. Should the window
// vanish first, it still waits: the worker's reports then go nowhere, and nothing it uses ends
// before it does.
void waitForWorker(const WorkerState& worker);

}  // namespace tessaryn
