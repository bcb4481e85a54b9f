#pragma once
// The worker that unpacks the package while the main thread keeps the installation window alive.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "app/run_context_win.h"
#include "app/run_outcome.h"
#include "package/unpack_result.h"
#include "ui/progress_window_win.h"

namespace tessaryn {

// The free bytes of the volume that holds `folder`; none when they cannot be told.
std::optional<uint64_t> freeDiskBytes(const std::wstring& folder);

// None when the volume of `folder` has room for the package's unpacked files (or when either
// cannot be told); else the end that says how much is needed and free.
std::optional<RunEnd> diskSpaceShortfall(const RunContext& context, const std::wstring& folder);

// Unpacks the package into the install folder, reporting into the window without ever waiting
// for it; never throws. The unpacking may report from several threads at once.
UnpackResult extractPackage(const RunContext& context, const std::wstring& destination,
                            ProgressWindow& window);

// Runs `unpack` on a thread of its own and dispatches this thread's messages as they come until
// it has ended; returns its result. Should the window vanish first, it still waits: the
// worker's reports then go nowhere, and nothing it uses ends before it does.
UnpackResult unpackWhilePumping(const std::function<UnpackResult()>& unpack);

}  // namespace tessaryn
