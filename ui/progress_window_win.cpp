#include "ui/progress_window_win.h"

#include <commctrl.h>
#include <dwmapi.h>
#include <uxtheme.h>

#include <cwchar>
#include <stdexcept>

#include "ui/theme_win.h"

namespace tessaryn {

namespace {

constexpr wchar_t kClassName[] = L"ProgressWindowClass";
constexpr COLORREF kDarkBackground = RGB(46, 46, 46);
constexpr COLORREF kDarkText = RGB(255, 255, 255);
constexpr COLORREF kDarkBarBackground = RGB(56, 56, 56);
constexpr COLORREF kDarkBarFill = 0x000078D4;
constexpr DWORD kImmersiveDarkModeAttribute = 20;
constexpr DWORD kWindowStyle = WS_POPUP | WS_CAPTION;
constexpr DWORD kExtendedStyle = WS_EX_TOPMOST | WS_EX_TOOLWINDOW;
constexpr int kClientWidth = 450;
constexpr int kClientHeight = 140;
constexpr int kMargin = 20;
constexpr int kTextHeight = 30;
constexpr int kBarHeight = 24;
constexpr UINT kMarqueeStepMs = 30;

// The window procedure reaches its object only through this; one progress window at a time.
ProgressWindow* currentInstance = nullptr;

void useDarkCaption(HWND window) {
    const BOOL on = TRUE;
    DwmSetWindowAttribute(window, kImmersiveDarkModeAttribute, &on, sizeof(on));
}

}  // namespace

ProgressWindow::ProgressWindow(bool marquee, std::wstring title)
    : title(std::move(title)), marquee(marquee) {
    currentInstance = this;

    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
    controls.dwICC = ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES;
    InitCommonControlsEx(&controls);

    darkMode = isDarkModeEnabled();
    {
        WindowDc screen(nullptr);
        dpi = static_cast<UINT>(GetDeviceCaps(screen.get(), LOGPIXELSY));
    }
    if (dpi == 0) dpi = 96;

    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = windowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground =
        darkMode ? CreateSolidBrush(kDarkBackground) : reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = kClassName;
    // Fails in a later window of the same run; the first registration stays in force.
    if (!RegisterClassExW(&windowClass) && darkMode) DeleteObject(windowClass.hbrBackground);

    // The tool-window caption is lower than a normal one: the extended style must be counted
    // for the client area to come out at its size.
    RECT frame = {0, 0, MulDiv(kClientWidth, dpi, 96), MulDiv(kClientHeight, dpi, 96)};
    AdjustWindowRectEx(&frame, kWindowStyle, FALSE, kExtendedStyle);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    RECT work = {};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    const int x = work.left + (work.right - work.left - width) / 2;
    const int y = work.top + (work.bottom - work.top - height) / 2;

    window =
        CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, kClassName, this->title.c_str(),
                        kWindowStyle, x, y, width, height, nullptr, nullptr, instance, nullptr);
    if (!window) {
        if (currentInstance == this) currentInstance = nullptr;
        throw std::runtime_error("Failed to create progress window");
    }

    useBackgroundOfCurrentLook();
    if (darkMode) useDarkCaption(window);
    font.reset(CreateFontW(-MulDiv(9, dpi, 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                           DEFAULT_CHARSET, 0, 0, CLEARTYPE_QUALITY, 0, L"Segoe UI"));
    EnableMenuItem(GetSystemMenu(window, FALSE), SC_CLOSE, MF_GRAYED);
    createChildren();
}

ProgressWindow::~ProgressWindow() {
    // The window goes before the font and brush it draws with.
    if (window) DestroyWindow(window);
    font.reset();
    ownedBrush.reset();
    if (currentInstance == this) currentInstance = nullptr;
}

void ProgressWindow::setStatusText(const std::wstring& text) {
    if (!statusText) return;
    SetWindowTextW(statusText, text.c_str());
    InvalidateRect(statusText, nullptr, TRUE);
    UpdateWindow(window);
}

void ProgressWindow::setProgress(int percent) {
    if (!progressBar || marquee) return;
    SendMessageW(progressBar, PBM_SETPOS, static_cast<WPARAM>(percent), 0);
    UpdateWindow(window);
}

void ProgressWindow::useBackgroundOfCurrentLook() {
    if (darkMode) {
        ownedBrush.reset(CreateSolidBrush(kDarkBackground));
        backgroundBrush = static_cast<HBRUSH>(ownedBrush.get());
    } else {
        backgroundBrush = GetSysColorBrush(COLOR_WINDOW);
        ownedBrush.reset();
    }
}

void ProgressWindow::createChildren() {
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    RECT client = {};
    GetClientRect(window, &client);
    const int margin = MulDiv(kMargin, dpi, 96);
    const int barHeight = MulDiv(kBarHeight, dpi, 96);
    const int textHeight = MulDiv(kTextHeight, dpi, 96);
    const int width = client.right - client.left - 2 * margin;

    statusText =
        CreateWindowExW(0, L"Static", L"Initializing...", WS_CHILD | WS_VISIBLE | SS_CENTERIMAGE,
                        margin, margin, width, textHeight, window, nullptr, instance, nullptr);
    progressBar = CreateWindowExW(0, PROGRESS_CLASSW, nullptr, WS_CHILD | WS_VISIBLE | PBS_SMOOTH,
                                  margin, margin + textHeight + margin / 2, width, barHeight,
                                  window, nullptr, instance, nullptr);
    if (font) {
        SendMessageW(statusText, WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), TRUE);
        SendMessageW(progressBar, WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), TRUE);
    }
    SendMessageW(progressBar, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    if (darkMode) {
        SendMessageW(progressBar, PBM_SETBKCOLOR, 0, kDarkBarBackground);
        SendMessageW(progressBar, PBM_SETBARCOLOR, 0, kDarkBarFill);
    }
    if (marquee) {
        const LONG_PTR style = GetWindowLongPtrW(progressBar, GWL_STYLE);
        SetWindowLongPtrW(progressBar, GWL_STYLE, style | PBS_MARQUEE);
        SendMessageW(progressBar, PBM_SETMARQUEE, TRUE, kMarqueeStepMs);
    }
    if (darkMode) SetWindowTheme(progressBar, L"DarkMode_Explorer", nullptr);
}

void ProgressWindow::destroyChildren() {
    if (statusText) DestroyWindow(statusText);
    if (progressBar) DestroyWindow(progressBar);
    statusText = nullptr;
    progressBar = nullptr;
}

void ProgressWindow::refreshTheme() {
    if (darkMode) {
        useDarkCaption(window);
        if (progressBar) SetWindowTheme(progressBar, L"DarkMode_Explorer", nullptr);
    }
    destroyChildren();
    createChildren();
    InvalidateRect(window, nullptr, TRUE);
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

LRESULT CALLBACK ProgressWindow::windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    ProgressWindow* self = currentInstance;
    if (self && (self->window == hwnd || self->window == nullptr))
        return self->handleMessage(hwnd, message, wParam, lParam);
    if (message == WM_CLOSE || message == WM_DPICHANGED) return 0;
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

LRESULT ProgressWindow::handleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CTLCOLORSTATIC: {
            if (reinterpret_cast<HWND>(lParam) != statusText || !statusText) break;
            const HDC dc = reinterpret_cast<HDC>(wParam);
            SetBkMode(dc, TRANSPARENT);
            SetTextColor(dc, darkMode ? kDarkText : GetSysColor(COLOR_WINDOWTEXT));
            SetBkColor(dc, darkMode ? kDarkBackground : GetSysColor(COLOR_WINDOW));
            return reinterpret_cast<LRESULT>(backgroundBrush);
        }
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORLISTBOX:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORDLG:
        case WM_CTLCOLORSCROLLBAR: {
            if (!darkMode) break;
            const HDC dc = reinterpret_cast<HDC>(wParam);
            SetTextColor(dc, kDarkText);
            SetBkColor(dc, kDarkBackground);
            return reinterpret_cast<LRESULT>(backgroundBrush);
        }
        case WM_ERASEBKGND: {
            RECT client = {};
            GetClientRect(hwnd, &client);
            FillRect(reinterpret_cast<HDC>(wParam), &client, backgroundBrush);
            return 1;
        }
        case WM_CLOSE:
            closeAsked = true;  // noted for a job that can stop; only the program ends the window
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            break;
        case WM_NCDESTROY:
            // Destroyed early by a caller: later updates and the destructor find nothing to touch.
            window = nullptr;
            statusText = nullptr;
            progressBar = nullptr;
            break;
        case WM_DPICHANGED: {
            dpi = HIWORD(wParam);
            const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
            SetWindowPos(hwnd, nullptr, suggested->left, suggested->top,
                         suggested->right - suggested->left, suggested->bottom - suggested->top,
                         SWP_NOZORDER | SWP_NOACTIVATE);
            destroyChildren();
            createChildren();
            InvalidateRect(hwnd, nullptr, TRUE);
            return 0;
        }
        case WM_SETTINGCHANGE: {
            const auto* area = reinterpret_cast<const wchar_t*>(lParam);
            if (area && std::wcscmp(area, L"ImmersiveColorSet") == 0) {
                const bool dark = isDarkModeEnabled();
                if (dark != darkMode) {
                    darkMode = dark;
                    useBackgroundOfCurrentLook();
                    refreshTheme();
                }
            }
            break;
        }
        case WM_THEMECHANGED:
            darkMode = isDarkModeEnabled();
            useBackgroundOfCurrentLook();
            refreshTheme();
            break;
        default:
            break;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

}  // namespace tessaryn
