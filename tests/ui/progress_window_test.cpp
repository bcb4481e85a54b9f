// The progress window under a real display: looks, layout, DPI and theme changes, closing, and
// updates from another thread. Screenshots of both looks go to $TESSARYN_ARTIFACTS when set.
#include <gtest/gtest.h>
#include <windows.h>

#include <commctrl.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "system/handles_win.h"
#include "tests/support/screen_capture_win.h"
#include "ui/progress_window_win.h"
#include "ui/pump_win.h"

namespace tessaryn {
namespace {

using testing::Capture;
using testing::capture;

constexpr wchar_t kPersonalize[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize";

// Sets "AppsUseLightTheme" (or removes it) for the life of the object, then puts back what was.
class ThemeSetting {
  public:
    explicit ThemeSetting(std::optional<DWORD> useLight) {
        RegCreateKeyExW(HKEY_CURRENT_USER, kPersonalize, 0, nullptr, 0, KEY_READ | KEY_WRITE,
                        nullptr, key_.put(), nullptr);
        DWORD value = 0, size = sizeof(value);
        if (RegQueryValueExW(key_.get(), L"AppsUseLightTheme", nullptr, nullptr,
                             reinterpret_cast<BYTE*>(&value), &size) == ERROR_SUCCESS)
            saved_ = value;
        set(useLight);
    }
    ~ThemeSetting() { set(saved_); }
    void set(std::optional<DWORD> useLight) {
        if (useLight) {
            RegSetValueExW(key_.get(), L"AppsUseLightTheme", 0, REG_DWORD,
                           reinterpret_cast<const BYTE*>(&*useLight), sizeof(DWORD));
        } else {
            RegDeleteValueW(key_.get(), L"AppsUseLightTheme");
        }
    }

  private:
    UniqueRegKey key_;
    std::optional<DWORD> saved_;
};

void show(ProgressWindow& window) {
    ShowWindow(window.handle(), SW_SHOW);
    UpdateWindow(window.handle());
    pumpFor(std::chrono::milliseconds(300));
}

std::wstring textOf(HWND control) {
    wchar_t text[256] = {};
    GetWindowTextW(control, text, 256);
    return text;
}

// A child's rectangle in its parent's client coordinates.
RECT childRect(HWND child) {
    RECT r = {};
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

UINT screenDpi() {
    WindowDc screen(nullptr);
    return static_cast<UINT>(GetDeviceCaps(screen.get(), LOGPIXELSY));
}

// A file of $TESSARYN_ARTIFACTS for a screenshot; empty (none is written) without it.
std::string artifact(const std::string& name) {
    const char* folder = std::getenv("TESSARYN_ARTIFACTS");
    if (!folder || name.empty()) return "";
    CreateDirectoryA(folder, nullptr);
    return std::string(folder) + "\\" + name;
}

TEST(ProgressWindow, LooksFollowTheAppThemeSetting) {
    struct Case {
        std::optional<DWORD> useLight;
        bool dark;
        const char* shot;
    };
    const Case cases[] = {{1, false, "progress-window-light.bmp"},
                          {0, true, "progress-window-dark.bmp"},
                          {std::nullopt, true, ""},
                          {2, false, ""}};
    for (const Case& c : cases) {
        ThemeSetting theme(c.useLight);
        ProgressWindow window(false, L"Setup", L"Initializing...", false);
        EXPECT_EQ(window.isDark(), c.dark);
        window.setStatusText(L"Downloading setup files... 45% - 512 KB/s");
        window.setProgress(45);
        show(window);
        const Capture shot = capture(window.handle(), artifact(c.shot));
        const COLORREF expected = c.dark ? RGB(46, 46, 46) : GetSysColor(COLOR_WINDOW);
        EXPECT_EQ(shot.atClient(window.handle(), 5, 5), expected) << c.shot;
        EXPECT_EQ(shot.atClient(window.handle(), 440, 130), expected) << c.shot;
        if (c.dark) {
            EXPECT_EQ(SendMessageW(window.progressBarHandle(), PBM_GETBARCOLOR, 0, 0),
                      static_cast<LRESULT>(0x000078D4));
            EXPECT_EQ(SendMessageW(window.progressBarHandle(), PBM_GETBKCOLOR, 0, 0),
                      static_cast<LRESULT>(RGB(56, 56, 56)));
        }
    }
}

// The children's places are checked, scaled, in DpiChangeMovesAndLaysOutAgain.
TEST(ProgressWindow, SizeScaledCentredAndStyled) {
    ThemeSetting theme(1);
    ProgressWindow window(false, L"Setup", L"Initializing...", false);
    const UINT dpi = screenDpi();
    RECT client = {};
    GetClientRect(window.handle(), &client);
    EXPECT_EQ(client.right, MulDiv(450, dpi, 96));
    EXPECT_EQ(client.bottom, MulDiv(140, dpi, 96));
    EXPECT_EQ(textOf(window.statusHandle()), L"Initializing...");

    RECT frame = {}, work = {};
    GetWindowRect(window.handle(), &frame);
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    EXPECT_EQ(frame.left, work.left + (work.right - work.left - (frame.right - frame.left)) / 2);
    EXPECT_EQ(frame.top, work.top + (work.bottom - work.top - (frame.bottom - frame.top)) / 2);

    const LONG_PTR exStyle = GetWindowLongPtrW(window.handle(), GWL_EXSTYLE);
    EXPECT_TRUE(exStyle & WS_EX_TOPMOST);
    EXPECT_TRUE(exStyle & WS_EX_TOOLWINDOW);
    const LONG_PTR style = GetWindowLongPtrW(window.handle(), GWL_STYLE);
    EXPECT_TRUE(style & WS_CAPTION);
    EXPECT_FALSE(style & (WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME));
    EXPECT_FALSE(IsWindowVisible(window.handle()));  // the caller shows it
}

TEST(ProgressWindow, UserCannotCloseIt) {
    ProgressWindow window(true, L"Setup", L"Initializing...", false);
    show(window);
    SendMessageW(window.handle(), WM_CLOSE, 0, 0);
    PostMessageW(window.handle(), WM_CLOSE, 0, 0);
    SendMessageW(window.handle(), WM_SYSCOMMAND, SC_CLOSE, 0);
    pumpFor(std::chrono::milliseconds(100));
    EXPECT_TRUE(IsWindow(window.handle()));
    // Without WS_SYSMENU some systems give no system menu at all; where there is one, its
    // close command must be greyed.
    const HMENU systemMenu = GetSystemMenu(window.handle(), FALSE);
    if (systemMenu) {
        const UINT state = GetMenuState(systemMenu, SC_CLOSE, MF_BYCOMMAND);
        if (state != static_cast<UINT>(-1)) {
            EXPECT_TRUE(state & MF_GRAYED);
        }
    }
}

// A percentage bar takes positions from 0 to 100; a marquee ignores them.
TEST(ProgressWindow, BarTakesPositionsUnlessItIsAMarquee) {
    for (const bool marquee : {false, true}) {
        ProgressWindow window(marquee, L"Setup", L"Initializing...", false);
        const HWND bar = window.progressBarHandle();
        EXPECT_EQ((GetWindowLongPtrW(bar, GWL_STYLE) & PBS_MARQUEE) != 0, marquee);
        EXPECT_EQ(SendMessageW(bar, PBM_GETRANGE, TRUE, 0), 0);  // the low end
        EXPECT_EQ(SendMessageW(bar, PBM_GETRANGE, FALSE, 0), 100);
        for (const int percent : {37, 100}) {
            window.setProgress(percent);
            EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), marquee ? 0 : percent) << marquee;
        }
    }
}

// Workers report without ever waiting for the window's thread, which here does not pump at all
// until they have ended; then it shows the latest report, and the bar never goes back.
TEST(ProgressWindow, WorkerReportsNeverWaitForTheOwner) {
    ProgressWindow window(false, L"Setup", L"Initializing...", false);
    show(window);
    std::atomic<int> ended{0};
    std::thread worker([&] {
        for (int i = 1; i <= 60; ++i) {
            window.setStatusText(L"Installing files... " + std::to_wstring(i));
            window.advanceProgress(i);
        }
        ++ended;
    });
    std::thread late([&] {
        while (ended == 0) Sleep(1);
        for (int i = 0; i < 1000; ++i) window.advanceProgress(30);  // an older fraction
        ++ended;
    });
    const DWORD start = GetTickCount();
    while (ended < 2 && GetTickCount() - start < 20000) Sleep(10);
    const bool endedWithoutPump = ended == 2;
    pumpFor(std::chrono::milliseconds(200));  // lets a blocked worker go before joining it
    worker.join();
    late.join();
    EXPECT_TRUE(endedWithoutPump);
    for (int i = 0; i < 100 && textOf(window.statusHandle()) != L"Installing files... 60"; ++i)
        pumpFor(std::chrono::milliseconds(20));
    EXPECT_EQ(textOf(window.statusHandle()), L"Installing files... 60");
    EXPECT_EQ(SendMessageW(window.progressBarHandle(), PBM_GETPOS, 0, 0), 60);
}

TEST(ProgressWindow, WindowsComeOneAfterAnother) {
    {
        ProgressWindow first(true, L"Setup", L"Initializing...", false);
        show(first);
        // Ended early by its caller, as the install sequence does with its preparation window.
        ASSERT_TRUE(DestroyWindow(first.handle()));
        EXPECT_EQ(first.handle(), nullptr);
        first.setStatusText(L"nobody sees this");
        first.setProgress(10);
    }
    {
        // Its class registration fails: no harm.
        ProgressWindow second(false, L"Setup", L"Initializing...", false);
        ASSERT_TRUE(IsWindow(second.handle()));
        show(second);
        second.setStatusText(L"Installing the application...");
        EXPECT_EQ(textOf(second.statusHandle()), L"Installing the application...");
    }
    ProgressWindow third(false, L"Setup", L"Initializing...", false);
    EXPECT_TRUE(IsWindow(third.handle()));
    // Each destroyed window asked its thread's loop to end; a later pump passes over that.
    MSG quit;
    EXPECT_TRUE(PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE));
    pumpMessages();
    show(third);
    third.setStatusText(L"Initializing product...");
    EXPECT_EQ(textOf(third.statusHandle()), L"Initializing product...");
}

TEST(ProgressWindow, DpiChangeMovesAndLaysOutAgain) {
    ThemeSetting theme(1);
    ProgressWindow window(false, L"Setup", L"Initializing...", false);
    show(window);
    window.setStatusText(L"Installing files...");
    window.setProgress(70);
    const HFONT fontBefore =
        reinterpret_cast<HFONT>(SendMessageW(window.statusHandle(), WM_GETFONT, 0, 0));

    RECT suggested = {100, 80, 100 + 700, 80 + 260};
    EXPECT_EQ(SendMessageW(window.handle(), WM_DPICHANGED, MAKEWPARAM(144, 144),
                           reinterpret_cast<LPARAM>(&suggested)),
              0);
    RECT frame = {};
    GetWindowRect(window.handle(), &frame);
    EXPECT_EQ(frame.left, 100);
    EXPECT_EQ(frame.top, 80);
    EXPECT_EQ(frame.right - frame.left, 700);
    EXPECT_EQ(frame.bottom - frame.top, 260);

    RECT client = {};
    GetClientRect(window.handle(), &client);
    const RECT status = childRect(window.statusHandle());
    EXPECT_EQ(status.left, 30);
    EXPECT_EQ(status.right - status.left, client.right - 60);
    EXPECT_EQ(status.bottom - status.top, 45);
    const RECT bar = childRect(window.progressBarHandle());
    EXPECT_EQ(bar.top, 30 + 45 + 15);
    EXPECT_EQ(bar.bottom - bar.top, 36);
    EXPECT_EQ(textOf(window.statusHandle()), L"Initializing...");
    EXPECT_EQ(SendMessageW(window.progressBarHandle(), PBM_GETPOS, 0, 0), 0);
    EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageW(window.statusHandle(), WM_GETFONT, 0, 0)),
              fontBefore);
}

// The screen shows a repaint some time after the window made it: pump and look again for a while
// before taking the pixel as it is.
COLORREF settledPixel(HWND window, int x, int y, COLORREF expected) {
    COLORREF seen = capture(window).atClient(window, x, y);
    for (int i = 0; i < 60 && seen != expected; ++i) {
        pumpFor(std::chrono::milliseconds(50));
        seen = capture(window).atClient(window, x, y);
    }
    return seen;
}

TEST(ProgressWindow, ThemeChangesAreFollowed) {
    ThemeSetting theme(1);
    ProgressWindow window(false, L"Setup", L"Initializing...", false);
    show(window);
    window.setStatusText(L"Installing files...");
    const auto settingChange = [&](const wchar_t* area) {
        SendMessageW(window.handle(), WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>(area));
        pumpFor(std::chrono::milliseconds(100));
    };

    settingChange(L"Environment");
    settingChange(nullptr);
    settingChange(L"ImmersiveColorSet");  // nothing really changed
    settingChange(L"immersivecolorset");
    EXPECT_FALSE(window.isDark());
    EXPECT_EQ(textOf(window.statusHandle()), L"Installing files...");

    theme.set(0);
    settingChange(L"ImmersiveColorSet");
    EXPECT_TRUE(window.isDark());
    EXPECT_EQ(textOf(window.statusHandle()), L"Initializing...");  // children made anew
    EXPECT_EQ(settledPixel(window.handle(), 5, 5, RGB(46, 46, 46)), RGB(46, 46, 46));

    theme.set(1);
    window.setStatusText(L"Installing files...");
    SendMessageW(window.handle(), WM_THEMECHANGED, 0, 0);
    pumpFor(std::chrono::milliseconds(100));
    EXPECT_FALSE(window.isDark());
    EXPECT_EQ(textOf(window.statusHandle()), L"Initializing...");
    EXPECT_EQ(settledPixel(window.handle(), 5, 5, GetSysColor(COLOR_WINDOW)),
              GetSysColor(COLOR_WINDOW));
}

}  // namespace
}  // namespace tessaryn
