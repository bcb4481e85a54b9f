#include "ui/progress_window_win.h"

#include <commctrl.h>

#include <stdexcept>

namespace tessaryn {

namespace {

constexpr wchar_t kClassName[] = L"ProgressWindowClass";
constexpr DWORD kWindowStyle = WS_POPUP | WS_CAPTION;
constexpr DWORD kExtendedStyle = WS_EX_TOPMOST | WS_EX_TOOLWINDOW;
constexpr int kClientWidth = 450;
constexpr int kClientHeight = 140;
constexpr int kMargin = 20;
constexpr int kTextHeight = 30;
constexpr int kBarHeight = 24;
constexpr UINT kMarqueeStepMs = 30;

// Posted by a reporting thread; at most one is on its way at a time.
constexpr UINT kShowReportedMessage = WM_APP + 1;
// While reports keep coming, the window shows the latest one at this pace and no faster: a
// worker may report thousands of times a second, and painting each would only cost time.
constexpr UINT_PTR kPaceTimerId = 1;
constexpr UINT kPaceMs = 30;

// The window procedure reaches its object only through this; one progress window at a time.
ProgressWindow* currentInstance = nullptr;

}  // namespace

ProgressWindow::ProgressWindow(bool marquee, std::wstring title, std::wstring firstStatus,
                               bool rightToLeft)
    : look_(WindowLook::ThemeChanged::Rebuild),
      title_(std::move(title)),
      firstStatus_(std::move(firstStatus)),
      rightToLeft_(rightToLeft),
      marquee_(marquee),
      ownerThread_(GetCurrentThreadId()) {
    reported_.text = firstStatus_;
    currentInstance = this;

    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    controls.dwICC = ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES;
    InitCommonControlsEx(&controls);

    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = windowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.lpszClassName = kClassName;
    look_.registerClass(windowClass);

    // The tool-window caption is lower than a normal one: the extended style must be counted
    // for the client area to come out at its size.
    const WindowFrame frame =
        look_.centredFrame(kClientWidth, kClientHeight, kWindowStyle, kExtendedStyle);
    // The children inherit the mirrored layout: the bar's origin is then its right end.
    const DWORD exStyle = kExtendedStyle | (rightToLeft_ ? WS_EX_LAYOUTRTL : 0);
    window_ = CreateWindowExW(exStyle, kClassName, title_.c_str(), kWindowStyle, frame.x, frame.y,
                              frame.width, frame.height, nullptr, nullptr, instance, nullptr);
    if (!window_) {
        if (currentInstance == this) currentInstance = nullptr;
        throw std::runtime_error("Failed to create progress window");
    }
    {
        std::lock_guard<std::mutex> lock(reportedLock_);
        reported_.target = window_;
    }

    if (look_.dark()) look_.applyCaption(window_);
    font_.reset(look_.createFont(9, FW_NORMAL));
    EnableMenuItem(GetSystemMenu(window_, FALSE), SC_CLOSE, MF_GRAYED);
    createChildren();
}

ProgressWindow::~ProgressWindow() {
    // The window goes before the font and brush it draws with.
    if (window_) DestroyWindow(window_);
    font_.reset();
    if (currentInstance == this) currentInstance = nullptr;
}

void ProgressWindow::setStatusText(const std::wstring& text) {
    std::unique_lock<std::mutex> lock(reportedLock_);
    if (onOwnThread()) {
        // Shown now; a show still on its way must not bring back an older report.
        reported_.text = text;
        reported_.textChanged = false;
        lock.unlock();
        showText(text);
        return;
    }
    if (reported_.text == text) return;
    reported_.text = text;
    reported_.textChanged = true;
    requestShow();
}

void ProgressWindow::setProgress(int percent) {
    std::unique_lock<std::mutex> lock(reportedLock_);
    if (onOwnThread()) {
        reported_.percent = percent;
        reported_.percentChanged = false;
        lock.unlock();
        showPercent(percent);
        return;
    }
    if (reported_.percent == percent) return;
    reported_.percent = percent;
    reported_.percentChanged = true;
    requestShow();
}

void ProgressWindow::advanceProgress(int percent) {
    std::unique_lock<std::mutex> lock(reportedLock_);
    if (percent <= reported_.percent) return;
    reported_.percent = percent;
    if (onOwnThread()) {
        reported_.percentChanged = false;
        lock.unlock();
        showPercent(percent);
        return;
    }
    reported_.percentChanged = true;
    requestShow();
}

void ProgressWindow::requestShow() {
    if (reported_.showPending || !reported_.target) return;
    // Posting only queues the message: the reporting thread goes on at once.
    reported_.showPending = PostMessageW(reported_.target, kShowReportedMessage, 0, 0) != FALSE;
}

bool ProgressWindow::showReported() {
    std::wstring text;
    int percent = 0;
    bool textChanged = false;
    bool percentChanged = false;
    {
        std::lock_guard<std::mutex> lock(reportedLock_);
        textChanged = reported_.textChanged;
        percentChanged = reported_.percentChanged;
        if (!textChanged && !percentChanged) {
            // Quiet: the next report asks anew.
            reported_.showPending = false;
            return false;
        }
        if (textChanged) text = reported_.text;
        percent = reported_.percent;
        reported_.textChanged = reported_.percentChanged = false;
    }
    if (textChanged) showText(text);
    if (percentChanged) showPercent(percent);
    return true;
}

void ProgressWindow::showText(const std::wstring& text) {
    if (!statusText_) return;
    SetWindowTextW(statusText_, text.c_str());
    InvalidateRect(statusText_, nullptr, TRUE);
    UpdateWindow(window_);
}

void ProgressWindow::showPercent(int percent) {
    if (!progressBar_ || marquee_) return;
    SendMessageW(progressBar_, PBM_SETPOS, static_cast<WPARAM>(percent), 0);
    UpdateWindow(window_);
}

void ProgressWindow::createChildren() {
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    RECT client = {};
    GetClientRect(window_, &client);
    const int margin = look_.scale(kMargin);
    const int barHeight = look_.scale(kBarHeight);
    const int textHeight = look_.scale(kTextHeight);
    const int width = client.right - client.left - 2 * margin;

    statusText_ =
        // Two lines of room: a long language's status with the download's figures wraps
        // rather than losing its end.
        CreateWindowExW(0, L"Static", firstStatus_.c_str(), WS_CHILD | WS_VISIBLE,
                        margin, margin, width, textHeight, window_, nullptr, instance, nullptr);
    progressBar_ = CreateWindowExW(0, PROGRESS_CLASSW, nullptr, WS_CHILD | WS_VISIBLE | PBS_SMOOTH,
                                   margin, margin + textHeight + margin / 2, width, barHeight,
                                   window_, nullptr, instance, nullptr);
    if (font_) {
        SendMessageW(statusText_, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), TRUE);
        SendMessageW(progressBar_, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), TRUE);
    }
    SendMessageW(progressBar_, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    if (look_.dark()) {
        SendMessageW(progressBar_, PBM_SETBKCOLOR, 0, kDarkBarBackground);
        SendMessageW(progressBar_, PBM_SETBARCOLOR, 0, kAccent);
    }
    if (marquee_) {
        const LONG_PTR style = GetWindowLongPtrW(progressBar_, GWL_STYLE);
        SetWindowLongPtrW(progressBar_, GWL_STYLE, style | PBS_MARQUEE);
        SendMessageW(progressBar_, PBM_SETMARQUEE, TRUE, kMarqueeStepMs);
    }
    if (look_.dark()) WindowLook::setControlTheme(progressBar_, L"DarkMode_Explorer", nullptr);
}

void ProgressWindow::destroyChildren() {
    if (statusText_) DestroyWindow(statusText_);
    if (progressBar_) DestroyWindow(progressBar_);
    statusText_ = nullptr;
    progressBar_ = nullptr;
}

LRESULT CALLBACK ProgressWindow::windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    ProgressWindow* self = currentInstance;
    if (self && (self->window_ == hwnd || self->window_ == nullptr))
        return self->handleMessage(hwnd, message, wParam, lParam);
    if (message == WM_CLOSE || message == WM_DPICHANGED) return 0;
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

LRESULT ProgressWindow::handleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (look_.follow(hwnd, message, wParam, lParam)) {
        // The children are made anew in the new look or at the new scale, showing what new
        // children show; the next report is shown over it.
        {
            std::lock_guard<std::mutex> lock(reportedLock_);
            reported_.text = firstStatus_;
            reported_.percent = 0;
        }
        destroyChildren();
        createChildren();
        InvalidateRect(hwnd, nullptr, TRUE);
        RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
        if (message == WM_DPICHANGED) return 0;
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
    switch (message) {
        case kShowReportedMessage:
            if (showReported()) SetTimer(hwnd, kPaceTimerId, kPaceMs, nullptr);
            return 0;
        case WM_TIMER:
            if (wParam != kPaceTimerId) break;
            if (!showReported()) KillTimer(hwnd, kPaceTimerId);
            return 0;
        case WM_CTLCOLORSTATIC:
            if (reinterpret_cast<HWND>(lParam) != statusText_ || !statusText_) break;
            return reinterpret_cast<LRESULT>(look_.colourText(reinterpret_cast<HDC>(wParam)));
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORLISTBOX:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORDLG:
        case WM_CTLCOLORSCROLLBAR:
            if (!look_.dark()) break;
            return reinterpret_cast<LRESULT>(look_.colourText(reinterpret_cast<HDC>(wParam)));
        case WM_ERASEBKGND:
            look_.eraseBackground(hwnd, reinterpret_cast<HDC>(wParam));
            return 1;
        case WM_CLOSE:
            closeAsked_ = true;  // noted for a job that can stop; only the program ends the window
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            break;
        case WM_NCDESTROY: {
            // Destroyed early by a caller: later updates and the destructor find nothing to touch.
            window_ = nullptr;
            statusText_ = nullptr;
            progressBar_ = nullptr;
            std::lock_guard<std::mutex> lock(reportedLock_);
            reported_.target = nullptr;
            break;
        }
        default:
            break;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

}  // namespace tessaryn
