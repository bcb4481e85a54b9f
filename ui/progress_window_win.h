#pragma once
// The small "Setup" window with one status line and one progress bar. It follows the app theme
// (light or dark), scales with the monitor's DPI and cannot be closed by the user.
//
// Any thread may report into it without ever waiting for the window: on the thread that made
// the window a report is shown at once; from another thread it is stored, and the window's own
// thread shows the latest report when it next handles messages, at most every ~30 ms.
#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>

#include "system/handles_win.h"
#include "ui/window_look_win.h"

namespace tessaryn {

class ProgressWindow {
  public:
    // Builds the window hidden, showing `firstStatus` (also after the look or the scale changed),
    // bar at 0 (or running as a marquee); mirrored for a right-to-left language, the bar then
    // filling from the right. Throws std::runtime_error("Failed to create progress window") when
    // the window cannot be made.
    ProgressWindow(bool marquee, std::wstring title, std::wstring firstStatus, bool rightToLeft);
    ~ProgressWindow();
    ProgressWindow(const ProgressWindow&) = delete;
    ProgressWindow& operator=(const ProgressWindow&) = delete;

    // From any thread; never waits for the window's thread.
    void setStatusText(const std::wstring& text);
    // 0 to 100; ignored by a marquee bar. From any thread; never waits.
    void setProgress(int percent);
    // Moves the bar forward to `percent`, never back: for workers on several threads whose
    // reports may arrive out of order. From any thread; never waits.
    void advanceProgress(int percent);

    // For ShowWindow, UpdateWindow, IsWindow and an early DestroyWindow. Null once destroyed.
    HWND handle() const noexcept { return window_; }
    HWND statusHandle() const noexcept { return statusText_; }
    HWND progressBarHandle() const noexcept { return progressBar_; }
    bool isDark() const noexcept { return look_.dark(); }
    // The user asked to close the window (which stays until its owner ends it); from any thread.
    bool closeRequested() const noexcept { return closeAsked_; }

  private:
    // What was reported last, shared between the reporting threads and the window's thread.
    struct Reported {
        std::wstring text;
        int percent = 0;
        bool textChanged = false;
        bool percentChanged = false;
        bool showPending = false;  // a show message or the pacing timer is on its way
        HWND target = nullptr;     // where a show message goes; null once the window is gone
    };

    static LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT handleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    void createChildren();
    void destroyChildren();
    bool onOwnThread() const noexcept { return GetCurrentThreadId() == ownerThread_; }
    // Called with reportedLock_ held by a reporting thread: asks the window's thread to show.
    void requestShow();
    // On the window's thread: shows what was reported; false when there was nothing new.
    bool showReported();
    void showText(const std::wstring& text);
    void showPercent(int percent);

    WindowLook look_;
    HWND window_ = nullptr;
    HWND progressBar_ = nullptr;
    HWND statusText_ = nullptr;
    UniqueGdiObject font_;
    std::wstring title_;
    std::wstring firstStatus_;
    bool rightToLeft_;
    bool marquee_;
    DWORD ownerThread_;
    std::atomic<bool> closeAsked_{false};

    std::mutex reportedLock_;
    Reported reported_;
};

}  // namespace tessaryn
