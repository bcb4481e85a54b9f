// Drives the setup's windows from outside, as a user would, through Win32 messages. Reads one
// command per line on standard input and answers one line on standard output:
//   wait CLASS SECONDS        -> "ok" when a visible top-level window of that class exists
//   waitbox TITLE SECONDS     -> "ok" when a message box with that caption exists
//   gone CLASS SECONDS        -> "ok" when no window of that class is left
//   enabled CLASS ID          -> "1" or "0"
//   checked CLASS ID          -> "1" or "0"
//   click CLASS ID            -> "ok" after BM_CLICK on the child
//   text CLASS ID             -> the child's text (WM_GETTEXT, UTF-8); ID -1: the window's own
//   exstyle CLASS ID          -> the extended style of the child (ID -1: the window) in hex
//   close CLASS               -> "ok" after WM_CLOSE to the window
//   quit-thread CLASS         -> "ok" after WM_QUIT to the thread that owns the window (as when
//                                its message loop is told to end from outside)
//   boxtext TITLE             -> the message box's text, line breaks written as "\n"
//   boxclick TITLE ID         -> "ok" after clicking button ID (6 = Yes, 7 = No, 1 = OK)
//   hold PATH                 -> "ok" once the file or folder (the rest of the line) is open for
//                                reading without delete sharing, as another program may hold it
//   release                   -> "ok" after the held file is closed
//   run COMMAND LINE          -> the exit code of CreateProcessW(nullptr, COMMAND LINE), as the
//                                "Installed apps" page starts an uninstall command
//   quit
// In the captions of message boxes "_" stands for a blank. Any failure answers "error: ...".
#include <windows.h>

#include <chrono>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>

namespace {

std::wstring widen(const std::string& text) {
    int n = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::wstring wide(n > 0 ? n - 1 : 0, L'\0');
    if (n > 1) MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, wide.data(), n);
    return wide;
}

std::string narrow(const std::wstring& text) {
    int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(n > 0 ? n - 1 : 0, '\0');
    if (n > 1) WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, utf8.data(), n, nullptr, nullptr);
    return utf8;
}

HWND findVisible(const std::wstring& className, const std::wstring& title) {
    HWND window = nullptr;
    while ((window = FindWindowExW(nullptr, window, className.empty() ? nullptr : className.c_str(),
                                   title.empty() ? nullptr : title.c_str()))) {
        if (IsWindowVisible(window)) return window;
    }
    return nullptr;
}

HWND findBox(const std::wstring& title) { return findVisible(L"#32770", title); }

template <typename Found>
bool waitFor(Found found, double seconds) {
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
        if (found()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return found();
}

std::string boxText(HWND box) {
    // A message box shows its text in a Static child with id 0xFFFF.
    HWND text = GetDlgItem(box, 0xFFFF);
    if (!text) return {};
    wchar_t buffer[2048] = {};
    GetWindowTextW(text, buffer, 2048);
    // One answer is one line: line breaks travel as "\n".
    std::string result;
    for (char c : narrow(buffer)) {
        if (c == '\n')
            result += "\\n";
        else if (c != '\r')
            result += c;
    }
    return result;
}

// A click may open a modal box inside the clicked window's handler, so the driver never waits
// for the handler to finish: it gives it a moment and goes on.
void click(HWND button) {
    DWORD_PTR result = 0;
    SendMessageTimeoutW(button, BM_CLICK, 0, 0, SMTO_NORMAL, 2000, &result);
}

std::string runCommandLine(const std::string& commandLine) {
    std::wstring line = widen(commandLine);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info))
        return "error: not started";
    CloseHandle(info.hThread);
    DWORD code = 0;
    const bool ended = WaitForSingleObject(info.hProcess, 180000) == WAIT_OBJECT_0;
    GetExitCodeProcess(info.hProcess, &code);
    CloseHandle(info.hProcess);
    return ended ? std::to_string(static_cast<int>(code)) : "error: still running";
}

std::string handle(const std::string& line) {
    if (line.rfind("run ", 0) == 0) return runCommandLine(line.substr(4));
    std::istringstream in(line);
    std::string command, name;
    in >> command >> name;
    const std::wstring wideName = widen(name);
    if (command == "wait" || command == "gone") {
        double seconds = 10;
        in >> seconds;
        bool wantPresent = command == "wait";
        bool ok = waitFor([&] { return (findVisible(wideName, L"") != nullptr) == wantPresent; },
                          seconds);
        return ok ? "ok" : "error: timed out";
    }
    if (command.rfind("box", 0) == 0 || command == "waitbox") {
        for (char& c : name)
            if (c == '_') c = ' ';
    }
    const std::wstring boxTitle = widen(name);
    if (command == "waitbox") {
        double seconds = 10;
        in >> seconds;
        return waitFor([&] { return findBox(boxTitle) != nullptr; }, seconds) ? "ok"
                                                                              : "error: no box";
    }
    if (command == "boxtext" || command == "boxclick") {
        HWND box = findBox(boxTitle);
        if (!box) return "error: no box";
        if (command == "boxtext") return boxText(box);
        int id = 0;
        in >> id;
        HWND button = GetDlgItem(box, id);
        if (!button) return "error: no such button";
        click(button);
        return "ok";
    }
    HWND window = findVisible(wideName, L"");
    if (!window) return "error: no window";
    if (command == "close") {
        PostMessageW(window, WM_CLOSE, 0, 0);
        return "ok";
    }
    if (command == "quit-thread") {
        DWORD thread = GetWindowThreadProcessId(window, nullptr);
        return PostThreadMessageW(thread, WM_QUIT, 0, 0) ? "ok" : "error: cannot post";
    }
    int id = 0;
    in >> id;
    HWND child = id == -1 ? window : GetDlgItem(window, id);
    if (!child) return "error: no such control";
    if (command == "text") {
        wchar_t buffer[2048] = {};
        SendMessageW(child, WM_GETTEXT, 2048, reinterpret_cast<LPARAM>(buffer));
        return narrow(buffer);
    }
    if (command == "exstyle") {
        std::ostringstream hex;
        hex << std::hex << GetWindowLongPtrW(child, GWL_EXSTYLE);
        return hex.str();
    }
    if (command == "enabled") return IsWindowEnabled(child) ? "1" : "0";
    if (command == "checked")
        return SendMessageW(child, BM_GETCHECK, 0, 0) == BST_CHECKED ? "1" : "0";
    if (command == "click") {
        click(child);
        return "ok";
    }
    return "error: unknown command";
}

HANDLE held = INVALID_HANDLE_VALUE;

std::string hold(const std::string& path) {
    if (held != INVALID_HANDLE_VALUE) return "error: already holding a file";
    // A folder is held as a console holds its current folder: shared for reading and writing.
    const std::wstring wide = widen(path);
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    const bool folder = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    held = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | (folder ? FILE_SHARE_WRITE : 0),
                       nullptr, OPEN_EXISTING, folder ? FILE_FLAG_BACKUP_SEMANTICS : 0, nullptr);
    return held == INVALID_HANDLE_VALUE ? "error: cannot open" : "ok";
}

std::string release() {
    if (held == INVALID_HANDLE_VALUE) return "error: nothing held";
    CloseHandle(held);
    held = INVALID_HANDLE_VALUE;
    return "ok";
}

}  // namespace

int main() {
    std::string line;
    while (std::getline(std::cin, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line == "quit") break;
        if (line.rfind("hold ", 0) == 0) {
            std::cout << hold(line.substr(5)) << std::endl;
            continue;
        }
        if (line == "release") {
            std::cout << release() << std::endl;
            continue;
        }
        std::cout << handle(line) << std::endl;
    }
    return 0;
}
