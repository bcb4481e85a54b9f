// Helper programs on Linux: posix_spawn with a pipe for their output.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "package/path_text.h"
#include "tools/run_program.h"
#include "system/system_reason.h"

extern char** environ;

namespace tessaryn {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

fs::path findOnPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    if (!path || name.empty() || name.find('/') != std::string::npos) return {};
    std::string entries = path;
    size_t start = 0;
    while (start <= entries.size()) {
        size_t end = entries.find(':', start);
        if (end == std::string::npos) end = entries.size();
        const fs::path folder = entries.substr(start, end - start);
        start = end + 1;
        if (!folder.is_absolute()) continue;
        const fs::path candidate = folder / name;
        struct stat info {};
        if (::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
            ::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return {};
}

namespace {

struct Fd {
    int fd = -1;
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
};

void keepTail(std::string& output) {
    if (output.size() > kOutputLimit) output.erase(0, output.size() - kOutputLimit);
}

}  // namespace

ProgramResult runProgram(const fs::path& program, const std::vector<std::string>& args,
                         std::chrono::seconds timeout) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        throw std::runtime_error("cannot make a pipe: " + errnoReason());
    }
    Fd readEnd{fds[0]};
    Fd writeEnd{fds[1]};

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, writeEnd.fd, 1);
    posix_spawn_file_actions_adddup2(&actions, writeEnd.fd, 2);
    std::vector<std::string> argvText{program.string()};
    argvText.insert(argvText.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : argvText) argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t child = 0;
    const int spawned =
        ::posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        throw std::runtime_error("cannot start " + pathText(program) + ": " +
                                 std::strerror(spawned));
    }
    ::close(writeEnd.fd);
    writeEnd.fd = -1;

    ProgramResult result;
    const auto deadline = Clock::now() + timeout;
    bool open = true;
    int status = 0;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            throw std::runtime_error(pathText(program) + " did not finish within " +
                                     std::to_string(timeout.count()) + " seconds");
        }
        if (open) {
            pollfd wait{readEnd.fd, POLLIN, 0};
            const int ready = ::poll(&wait, 1, static_cast<int>(std::min<long long>(left.count(), 200)));
            if (ready > 0) {
                char buffer[4096];
                const ssize_t got = ::read(readEnd.fd, buffer, sizeof buffer);
                if (got > 0) {
                    result.output.append(buffer, static_cast<size_t>(got));
                    keepTail(result.output);
                } else if (got == 0 || errno != EINTR) {
                    open = false;
                }
            }
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        const pid_t ended = ::waitpid(child, &status, WNOHANG);
        if (ended == child && !open) break;
        if (ended == child) {
            // Drain what it left in the pipe; a grandchild holding it open is not waited for.
            pollfd wait{readEnd.fd, POLLIN, 0};
            while (Clock::now() < deadline && ::poll(&wait, 1, 100) > 0) {
                char buffer[4096];
                const ssize_t got = ::read(readEnd.fd, buffer, sizeof buffer);
                if (got <= 0) break;
                result.output.append(buffer, static_cast<size_t>(got));
                keepTail(result.output);
            }
            break;
        }
    }
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

}  // namespace tessaryn
