#include "system/program_tree_win.h"

namespace tessaryn {

bool ProgramTree::start(const std::wstring& program, const std::wstring& arguments,
                        const std::wstring& workingFolder, const std::wstring& environment) {
    job_.reset(::CreateJobObjectW(nullptr, nullptr));
    // CreateProcessW may write into the command line, so it gets a writable copy.
    std::wstring line = L"\"" + program + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION info{};
    // Suspended until it is in the job: nothing it starts can come before.
    std::wstring block = environment;
    if (!::CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE,
                          CREATE_SUSPENDED | CREATE_NO_WINDOW | CREATE_UNICODE_ENVIRONMENT,
                          block.data(),
                          workingFolder.empty() ? nullptr : workingFolder.c_str(), &startup,
                          &info)) {
        job_.reset();
        return false;
    }
    process_.reset(info.hProcess);
    UniqueKernelHandle thread(info.hThread);
    if (job_ && !::AssignProcessToJobObject(job_.get(), process_.get())) job_.reset();
    ::ResumeThread(thread.get());
    return true;
}

bool ProgramTree::succeeded() const {
    DWORD exitCode = STILL_ACTIVE;
    return process_ && ::WaitForSingleObject(process_.get(), 0) == WAIT_OBJECT_0 &&
           ::GetExitCodeProcess(process_.get(), &exitCode) && exitCode == 0;
}

bool ProgramTree::ended() const {
    if (!process_) return true;
    if (::WaitForSingleObject(process_.get(), 0) != WAIT_OBJECT_0) return false;
    if (!job_) return true;
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting{};
    // A job that cannot be read is taken as still busy: the caller's limit ends the wait.
    return ::QueryInformationJobObject(job_.get(), JobObjectBasicAccountingInformation, &accounting,
                                       sizeof(accounting), nullptr) &&
           accounting.ActiveProcesses == 0;
}

void ProgramTree::end() {
    if (job_) ::TerminateJobObject(job_.get(), 1);
    if (process_) ::TerminateProcess(process_.get(), 1);
}

}  // namespace tessaryn
