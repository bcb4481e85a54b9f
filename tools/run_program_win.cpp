// Helper programs on Windows: CreateProcessW with a quoted command line and a pipe for output.
#include <windows.h>

#include <stdexcept>

#include "package/path_text.h"
#include "system/handles_win.h"
#include "system/unicode_win.h"
#include "tools/run_program.h"
#include "system/system_reason.h"

namespace tessaryn {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

fs::path findOnPath(const std::string& name) {
    const DWORD size = ::GetEnvironmentVariableW(L"PATH", nullptr, 0);
    if (size == 0 || name.empty() || name.find_first_of("/\\:") != std::string::npos) return {};
    std::wstring entries(size, L'\0');
    entries.resize(::GetEnvironmentVariableW(L"PATH", entries.data(), size));
    const std::wstring file = toWide(name) + L".exe";
    size_t start = 0;
    while (start <= entries.size()) {
        size_t end = entries.find(L';', start);
        if (end == std::wstring::npos) end = entries.size();
        const fs::path folder = entries.substr(start, end - start);
        start = end + 1;
        if (!folder.is_absolute()) continue;
        const fs::path candidate = folder / file;
        const DWORD attributes = ::GetFileAttributesW(candidate.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            return candidate;
        }
    }
    return {};
}

namespace {

// Quotes one argument so that the program's startup code reads it back literally.
std::wstring quoted(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) return arg;
    std::wstring out = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
        } else if (c == L'"') {
            out.append(backslashes * 2 + 1, L'\\');
            out += c;
            backslashes = 0;
        } else {
            out.append(backslashes, L'\\');
            out += c;
            backslashes = 0;
        }
    }
    out.append(backslashes * 2, L'\\');
    return out + L"\"";
}

}  // namespace

ProgramResult runProgram(const fs::path& program, const std::vector<std::string>& args,
                         std::chrono::seconds timeout) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    UniqueKernelHandle readEnd;
    UniqueKernelHandle writeEnd;
    if (!::CreatePipe(readEnd.put(), writeEnd.put(), &inherit, 0)) {
        throw std::runtime_error("cannot make a pipe: " +
                                 systemReason(static_cast<int>(::GetLastError())));
    }
    ::SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0);
    UniqueFile input(::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   &inherit, OPEN_EXISTING, 0, nullptr));

    std::wstring commandLine = quoted(program.wstring());
    for (const std::string& arg : args) commandLine += L" " + quoted(toWide(arg));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input.get();
    startup.hStdOutput = writeEnd.get();
    startup.hStdError = writeEnd.get();
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                          CREATE_NO_WINDOW, nullptr, nullptr, &startup, &info)) {
        throw std::runtime_error("cannot start " + pathText(program) + ": " +
                                 systemReason(static_cast<int>(::GetLastError())));
    }
    UniqueKernelHandle process(info.hProcess);
    UniqueKernelHandle thread(info.hThread);
    writeEnd.reset();

    ProgramResult result;
    const auto deadline = Clock::now() + timeout;
    auto drain = [&] {
        DWORD available = 0;
        while (Clock::now() < deadline &&
               ::PeekNamedPipe(readEnd.get(), nullptr, 0, nullptr, &available, nullptr) &&
               available > 0) {
            char buffer[4096];
            DWORD got = 0;
            if (!::ReadFile(readEnd.get(), buffer, sizeof buffer, &got, nullptr) || got == 0) break;
            result.output.append(buffer, got);
            if (result.output.size() > kOutputLimit) {
                result.output.erase(0, result.output.size() - kOutputLimit);
            }
        }
    };
    for (;;) {
        drain();
        if (::WaitForSingleObject(process.get(), 50) == WAIT_OBJECT_0) break;
        if (Clock::now() >= deadline) {
            ::TerminateProcess(process.get(), 1);
            ::WaitForSingleObject(process.get(), 5000);
            throw std::runtime_error(pathText(program) + " did not finish within " +
                                     std::to_string(timeout.count()) + " seconds");
        }
    }
    drain();
    DWORD code = 1;
    ::GetExitCodeProcess(process.get(), &code);
    result.exitCode = static_cast<int>(code);
    return result;
}

}  // namespace tessaryn
