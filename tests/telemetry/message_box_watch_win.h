#pragma once
// Watches for a message box of this process with a given title, reads it and clicks its OK
// button, so that tests can check real boxes without anyone at the screen.
#include <windows.h>

#include <atomic>
#include <string>
#include <thread>

namespace tessaryn::testing {

struct SeenBox {
    bool found = false;
    std::wstring text;
    HICON icon = nullptr;
};

class MessageBoxWatch {
  public:
    // Looks for up to `seconds` from now.
    MessageBoxWatch(std::wstring title, double seconds)
        : title_(std::move(title)), thread_([this, seconds] { watch(seconds); }) {}
    MessageBoxWatch(const MessageBoxWatch&) = delete;
    MessageBoxWatch& operator=(const MessageBoxWatch&) = delete;
    ~MessageBoxWatch() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    // Waits for the watch to end (a box found and closed, or the time up).
    SeenBox result() {
        if (thread_.joinable()) thread_.join();
        return seen_;
    }

  private:
    struct Search {
        const std::wstring* title;
        HWND box = nullptr;
    };

    static BOOL CALLBACK findBox(HWND window, LPARAM param) {
        auto* search = reinterpret_cast<Search*>(param);
        DWORD process = 0;
        ::GetWindowThreadProcessId(window, &process);
        if (process != ::GetCurrentProcessId() || !::IsWindowVisible(window)) return TRUE;
        wchar_t className[64] = {};
        ::GetClassNameW(window, className, 64);
        wchar_t title[256] = {};
        ::GetWindowTextW(window, title, 256);
        if (std::wstring(className) == L"#32770" && *search->title == title) {
            search->box = window;
            return FALSE;
        }
        return TRUE;
    }

    static BOOL CALLBACK readChild(HWND child, LPARAM param) {
        auto* seen = reinterpret_cast<SeenBox*>(param);
        wchar_t className[64] = {};
        ::GetClassNameW(child, className, 64);
        if (_wcsicmp(className, L"Static") != 0) return TRUE;
        LONG style = ::GetWindowLongW(child, GWL_STYLE);
        if ((style & SS_TYPEMASK) == SS_ICON) {
            seen->icon = reinterpret_cast<HICON>(::SendMessageW(child, STM_GETICON, 0, 0));
        } else {
            wchar_t text[1024] = {};
            ::GetWindowTextW(child, text, 1024);
            if (text[0]) seen->text = text;
        }
        return TRUE;
    }

    void watch(double seconds) {
        DWORD deadline = ::GetTickCount() + static_cast<DWORD>(seconds * 1000);
        while (!stop_ && static_cast<LONG>(deadline - ::GetTickCount()) > 0) {
            Search search{&title_};
            ::EnumWindows(findBox, reinterpret_cast<LPARAM>(&search));
            if (search.box) {
                ::Sleep(200);  // let the box finish drawing its controls
                seen_.found = true;
                ::EnumChildWindows(search.box, readChild, reinterpret_cast<LPARAM>(&seen_));
                ::PostMessageW(search.box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                               reinterpret_cast<LPARAM>(::GetDlgItem(search.box, IDOK)));
                return;
            }
            ::Sleep(50);
        }
    }

    std::wstring title_;
    SeenBox seen_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace tessaryn::testing
