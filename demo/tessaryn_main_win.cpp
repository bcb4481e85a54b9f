// The demonstration product: one window naming the product and the version installed beside it,
// a short text and a Close button. The version is read at run time from "version.txt" so that one
// build serves every version the demo publishes.
#include <windows.h>

#include <string>

#include "demo/product_text.h"
#include "system/handles_win.h"
#include "system/unicode_win.h"

namespace {

constexpr wchar_t kClassName[] = L"TessarynDemoWindow";
constexpr int kWidth = 520;
constexpr int kHeight = 280;
constexpr int kMargin = 16;
constexpr int kButtonWidth = 96;
constexpr int kButtonHeight = 28;
constexpr int kTextId = 100;

std::wstring moduleDirectory() {
    wchar_t path[MAX_PATH] = {};
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring full(path, length);
    std::size_t slash = full.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : full.substr(0, slash);
}

// Small text files only: anything larger is not one of ours.
std::string readSmallFile(const std::wstring& path) {
    tessaryn::UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return {};
    char buffer[4096];
    DWORD read = 0;
    if (!ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr)) return {};
    return std::string(buffer, read);
}

struct WindowFonts {
    tessaryn::UniqueGdiObject body;
    tessaryn::UniqueGdiObject heading;
};

WindowFonts makeFonts() {
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = sizeof metrics;
    WindowFonts fonts;
    if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) return fonts;
    fonts.body.reset(CreateFontIndirectW(&metrics.lfMessageFont));
    LOGFONTW heading = metrics.lfMessageFont;
    heading.lfHeight = heading.lfHeight * 8 / 5;
    heading.lfWeight = FW_BOLD;
    fonts.heading.reset(CreateFontIndirectW(&heading));
    return fonts;
}

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
    switch (message) {
        case WM_COMMAND:
            if (LOWORD(wParam) == IDCANCEL) DestroyWindow(window);
            return 0;
        case WM_CTLCOLORSTATIC:
            SetBkMode(reinterpret_cast<HDC>(wParam), TRANSPARENT);
            return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

void setFont(HWND control, const tessaryn::UniqueGdiObject& font) {
    if (font) SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), TRUE);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
    const std::wstring directory = moduleDirectory();
    const std::string version =
        tessaryn::versionFromFile(readSmallFile(directory + L"\\version.txt"));
    const std::wstring title = tessaryn::toWide(tessaryn::productTitle(version));
    const std::wstring body = tessaryn::toWide(tessaryn::productMessage(
        version, tessaryn::toUtf8(directory), readSmallFile(directory + L"\\first-run.txt")));

    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = windowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = GetSysColorBrush(COLOR_WINDOW);
    windowClass.lpszClassName = kClassName;
    if (!RegisterClassExW(&windowClass)) return 1;

    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    RECT frame = {0, 0, kWidth, kHeight};
    AdjustWindowRectEx(&frame, style, FALSE, 0);
    HWND window = CreateWindowExW(0, kClassName, title.c_str(), style, CW_USEDEFAULT, CW_USEDEFAULT,
                                  frame.right - frame.left, frame.bottom - frame.top, nullptr,
                                  nullptr, instance, nullptr);
    if (!window) return 1;

    WindowFonts fonts = makeFonts();
    HWND heading =
        CreateWindowExW(0, L"STATIC", title.c_str(), WS_CHILD | WS_VISIBLE, kMargin, kMargin,
                        kWidth - 2 * kMargin, 36, window, nullptr, instance, nullptr);
    HWND text =
        CreateWindowExW(0, L"STATIC", body.c_str(), WS_CHILD | WS_VISIBLE, kMargin, kMargin + 48,
                        kWidth - 2 * kMargin, kHeight - 3 * kMargin - 48 - kButtonHeight, window,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(kTextId)), instance, nullptr);
    HWND close = CreateWindowExW(
        0, L"BUTTON", L"Close", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON,
        kWidth - kMargin - kButtonWidth, kHeight - kMargin - kButtonHeight, kButtonWidth,
        kButtonHeight, window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDCANCEL)), instance,
        nullptr);
    setFont(heading, fonts.heading);
    setFont(text, fonts.body);
    setFont(close, fonts.body);

    ShowWindow(window, showCommand);
    UpdateWindow(window);
    SetFocus(close);

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        // Gives the window the keyboard of a dialog: Enter and Escape press Close.
        if (IsDialogMessageW(window, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}
