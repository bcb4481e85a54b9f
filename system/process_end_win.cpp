#include "system/process_end_win.h"

#include <windows.h>

#include <atomic>
#include <string>

#include "system/run_log.h"

namespace tessaryn {

namespace {

std::atomic<BeforeEnd> beforeEnd{nullptr};

}  // namespace

void setBeforeEnd(BeforeEnd work) noexcept {
    beforeEnd = work;
}

void endProcess(int code, std::string_view note) noexcept {
    if (BeforeEnd work = beforeEnd.load()) {
        try {
            work();
        } catch (...) {
            // Ending is not stopped by the work before it.
        }
    }
    try {
        std::string line = "Exit code " + std::to_string(code);
        if (!note.empty()) line.append(" (").append(note).append(")");
        logLine(line);
    } catch (...) {
        // No memory for the line: the process still ends.
    }
    ::ExitProcess(static_cast<UINT>(code));
}

}  // namespace tessaryn
