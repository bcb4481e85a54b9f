#include "ui/window_look_win.h"

#include <dwmapi.h>
#include <uxtheme.h>

#include <cwchar>

#include "ui/theme_win.h"

namespace tessaryn {

namespace {

constexpr DWORD kImmersiveDarkModeAttribute = 20;

UINT screenDpi() {
    WindowDc screen(nullptr);
    const int dpi = GetDeviceCaps(screen.get(), LOGPIXELSY);
    return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

}  // namespace

WindowLook::WindowLook(ThemeChanged onThemeChanged) : onThemeChanged_(onThemeChanged) {
    // Before the first DPI is read: the windows scale themselves and follow monitor changes.
    SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
    takeTheme(isDarkModeEnabled());
    dpi_ = screenDpi();
}

void WindowLook::takeTheme(bool dark) {
    dark_ = dark;
    if (dark_) {
        ownedBrush_.reset(CreateSolidBrush(kDarkBackground));
        backgroundBrush_ = static_cast<HBRUSH>(ownedBrush_.get());
    } else {
        backgroundBrush_ = GetSysColorBrush(COLOR_WINDOW);
        ownedBrush_.reset();
    }
}

void WindowLook::registerClass(WNDCLASSEXW windowClass) const {
    WNDCLASSEXW existing{};
    existing.cbSize = sizeof existing;
    if (GetClassInfoExW(windowClass.hInstance, windowClass.lpszClassName, &existing)) return;
    // The class keeps the brush of the look it was first registered with for the whole run.
    windowClass.hbrBackground =
        dark_ ? CreateSolidBrush(kDarkBackground) : reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    if (!RegisterClassExW(&windowClass) && dark_) DeleteObject(windowClass.hbrBackground);
}

WindowFrame WindowLook::centredFrame(int clientWidth, int clientHeight, DWORD style,
                                     DWORD exStyle) const {
    RECT frame{0, 0, scale(clientWidth), scale(clientHeight)};
    AdjustWindowRectEx(&frame, style, FALSE, exStyle);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    RECT work{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    return {work.left + (work.right - work.left - width) / 2,
            work.top + (work.bottom - work.top - height) / 2, width, height};
}

HFONT WindowLook::createFont(int points, int weight) const {
    return CreateFontW(-MulDiv(points, static_cast<int>(dpi_), 72), 0, 0, 0, weight, FALSE, FALSE,
                       FALSE, DEFAULT_CHARSET, 0, 0, CLEARTYPE_QUALITY, 0, L"Segoe UI");
}

void WindowLook::applyCaption(HWND window) const {
    const BOOL value = dark_ ? TRUE : FALSE;
    DwmSetWindowAttribute(window, kImmersiveDarkModeAttribute, &value, sizeof value);
}

void WindowLook::setControlTheme(HWND control, const wchar_t* appName, const wchar_t* idList) {
    SetWindowTheme(control, appName, idList);
}

HBRUSH WindowLook::colourText(HDC dc) const {
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, dark_ ? kDarkText : GetSysColor(COLOR_WINDOWTEXT));
    SetBkColor(dc, dark_ ? kDarkBackground : GetSysColor(COLOR_WINDOW));
    return backgroundBrush_;
}

void WindowLook::eraseBackground(HWND window, HDC dc) const {
    RECT client{};
    GetClientRect(window, &client);
    FillRect(dc, &client, backgroundBrush_);
}

bool WindowLook::follow(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_SETTINGCHANGE: {
            const auto* area = reinterpret_cast<const wchar_t*>(lParam);
            if (!area || std::wcscmp(area, L"ImmersiveColorSet") != 0) return false;
            const bool dark = isDarkModeEnabled();
            if (dark == dark_) return false;
            takeTheme(dark);
            applyCaption(window);
            return true;
        }
        case WM_THEMECHANGED:
            if (onThemeChanged_ != ThemeChanged::Rebuild) return false;
            takeTheme(isDarkModeEnabled());
            applyCaption(window);
            return true;
        case WM_DPICHANGED: {
            dpi_ = HIWORD(wParam);
            const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
            SetWindowPos(window, nullptr, suggested->left, suggested->top,
                         suggested->right - suggested->left, suggested->bottom - suggested->top,
                         SWP_NOZORDER | SWP_NOACTIVATE);
            return true;
        }
        default:
            return false;
    }
}

}  // namespace tessaryn
