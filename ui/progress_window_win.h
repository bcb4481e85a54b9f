#pragma once
// The small "Setup" window with one status line and one progress bar. It follows the app theme
// (light or dark), scales with the monitor's DPI, cannot be closed by the user, and may be
// updated from worker threads while the thread that made it pumps messages.
#include <windows.h>

#include <atomic>
#include <string>

#include "system/handles_win.h"

namespace tessaryn {

class ProgressWindow {
  public:
    // Builds the window hidden, status "Initializing...", bar at 0 (or running as a marquee).
    // Throws std::runtime_error("Failed to create progress window") when the window cannot be made.
    ProgressWindow(bool marquee, std::wstring title);
    ~ProgressWindow();
    ProgressWindow(const ProgressWindow&) = delete;
    ProgressWindow& operator=(const ProgressWindow&) = delete;

    void setStatusText(const std::wstring& text);
    // 0 to 100; ignored by a marquee bar.
    void setProgress(int percent);

    // For ShowWindow, UpdateWindow, IsWindow and an early DestroyWindow. Null once destroyed.
    HWND handle() const noexcept { return window; }
    HWND statusHandle() const noexcept { return statusText; }
    HWND progressBarHandle() const noexcept { return progressBar; }
    bool isDark() const noexcept { return darkMode; }
    // The user asked to close the window (which stays until its owner ends it); from any thread.
    bool closeRequested() const noexcept { return closeAsked; }

  private:
    static LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT handleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    void createChildren();
    void destroyChildren();
    void useBackgroundOfCurrentLook();
    void refreshTheme();

    HWND window = nullptr;
    HWND progressBar = nullptr;
    HWND statusText = nullptr;
    UniqueGdiObject font;
    HBRUSH backgroundBrush = nullptr;
    UniqueGdiObject ownedBrush;  // the dark brush; the light one belongs to the system
    std::wstring title;
    bool marquee;
    UINT dpi = 96;
    bool darkMode = false;
    std::atomic<bool> closeAsked{false};
};

}  // namespace tessaryn
