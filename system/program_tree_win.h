#pragma once
// A program started in a job object of its own, so that what it leaves running can be waited for.

#include <windows.h>

#include <string>

#include "system/handles_win.h"

namespace tessaryn {

// The processes a program starts in turn (an uninstaller's clean-up script that removes its
// folder after it has ended) belong to its job too: they can be waited for and, when they take
// too long, ended, so that nothing of the tree acts on a path after its caller moved on.
class ProgramTree {
public:
    // Starts the program by its full path (no shell between), hidden, with the arguments after
    // its quoted path, in the working folder, with the environment block (machineEnvironment)
    // and nothing of this process's own. False when it could not be started.
    [[nodiscard]] bool start(const std::wstring& program, const std::wstring& arguments,
                             const std::wstring& workingFolder, const std::wstring& environment);
    // The program's own process: signalled when it has ended.
    [[nodiscard]] HANDLE program() const { return process_.get(); }
    // True when the program has ended with exit code 0.
    [[nodiscard]] bool succeeded() const;
    // False when the system refused the job: only the program itself can then be waited for.
    [[nodiscard]] bool tracksWhatItStarts() const { return static_cast<bool>(job_); }
    // True when no process of the tree runs any more.
    [[nodiscard]] bool ended() const;
    // Ends every process of the tree that still runs.
    void end();

private:
    UniqueKernelHandle job_;
    UniqueKernelHandle process_;
};

}  // namespace tessaryn
