#pragma once
// The worker that unpacks the package while the main thread keeps the installation window alive.
#include <atomic>
#include <string>

#include "app/run_context_win.h"
#include "ui/progress_window_win.h"

namespace tessaryn {

struct WorkerState {
    std::atomic<bool> done{false};
    std::atomic<bool> failed{false};
    std::string error;  // written before `failed` is set
};

// Unpacks the package into the install folder, reporting into the window; never throws.
void extractPackage(const RunContext& context, ProgressWindow& window, WorkerState& worker);

// Pumps the window's messages until the worker has ended. Should the window vanish first, it
// still waits: the worker's reports then go nowhere, and nothing it uses ends before it does.
void waitForWorker(ProgressWindow& window, const WorkerState& worker);

}  // namespace tessaryn
