#pragma once
// The one way the program ends: what must finish first gets its moment, the exit code goes to
// the log, then the process ends.
#include <string_view>

namespace tessaryn {

// Work that runs before the process ends (for example: letting usage events still on their way
// arrive). Registered once at start-up; it must bound its own wait.
using BeforeEnd = void (*)();
void setBeforeEnd(BeforeEnd work) noexcept;

// Runs the registered work, logs "Exit code <code>" (with " (<note>)" when a note is given) and
// ends the process with `code`.
[[noreturn]] void endProcess(int code, std::string_view note = {}) noexcept;

}  // namespace tessaryn
