#pragma once
// Starting a helper program by its full path, without a shell, with a bound on its run time and
// on the output kept.
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace tessaryn {

struct ProgramResult {
    int exitCode = -1;
    std::string output;  // standard output and error together, the last kOutputLimit bytes
};

inline constexpr size_t kOutputLimit = 64 * 1024;

// The first absolute folder on PATH holding an executable of that name (".exe" appended on
// Windows); empty when there is none. Relative PATH entries are skipped: they would make the
// current folder choose the program.
std::filesystem::path findOnPath(const std::string& name);

// Runs program with args (passed literally, no shell) and standard input empty. Throws
// std::runtime_error when it cannot start or does not end within timeout (it is killed then).
ProgramResult runProgram(const std::filesystem::path& program,
                         const std::vector<std::string>& args, std::chrono::seconds timeout);

}  // namespace tessaryn
