#include "ui/eula_window_win.h"

#include <commctrl.h>
#include <richedit.h>

#include <stdexcept>

#include "system/shell_launch_win.h"
#include "system/system_folder_win.h"
#include "system/unicode_win.h"
#include "system/web_address.h"

namespace tessaryn {

namespace {

constexpr wchar_t kClassName[] = L"EulaWindowClass";
constexpr DWORD kWindowStyle = WS_CAPTION | WS_SYSMENU;
constexpr int kApplicationIconId = 101;
// Bit 0 of a push button's GWLP_USERDATA: the mouse is over it; bit 1: it is held down.
constexpr LONG_PTR kHoverBit = 1;
constexpr LONG_PTR kPressedBit = 2;

// The window procedure reaches its object only through this pointer: one license window at a
// time, on the main thread.
EulaWindow* current = nullptr;

// Set while a UI-state change is being forwarded. WM_CHANGEUISTATE answers with
// WM_UPDATEUISTATE, so without it the two messages would call each other without end.
bool forwardingUiState = false;

HICON loadWindowIcon(HINSTANCE module, bool& owned) {
    owned = true;
    for (int id : {1, kApplicationIconId}) {
        if (HANDLE icon = LoadImageW(module, MAKEINTRESOURCEW(id), IMAGE_ICON, 32, 32, 0)) {
            return static_cast<HICON>(icon);
        }
    }
    owned = false;
    return LoadIconW(nullptr, IDI_APPLICATION);
}

struct ButtonColours {
    COLORREF fill;
    COLORREF border;
    COLORREF text;
};

ButtonColours buttonColours(bool accent, bool dark, bool enabled, bool hover, bool pressed) {
    if (accent) {
        // The progress bar's fill; darker when pressed (COLORREF 0x00106EBE).
        COLORREF fill = pressed ? RGB(190, 110, 16) : hover ? RGB(224, 138, 28) : kAccent;
        return {fill, fill, RGB(255, 255, 255)};
    }
    const bool active = hover || pressed;
    if (dark) {
        COLORREF fill = pressed ? RGB(64, 64, 64) : hover ? RGB(74, 74, 74) : RGB(61, 61, 61);
        return {fill, active ? RGB(96, 96, 96) : RGB(85, 85, 85),
                enabled ? RGB(255, 255, 255) : RGB(96, 96, 96)};
    }
    COLORREF fill = pressed ? RGB(192, 192, 192) : hover ? RGB(208, 208, 208) : RGB(225, 225, 225);
    return {fill, active ? RGB(160, 160, 160) : RGB(173, 173, 173),
            enabled ? RGB(0, 0, 0) : RGB(160, 160, 160)};
}

HWND createChild(HWND parent, DWORD exStyle, const wchar_t* className, const wchar_t* text,
                 DWORD style, int x, int y, int width, int height, int id) {
    return CreateWindowExW(exStyle, className, text, style, x, y, width, height, parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                           GetModuleHandleW(nullptr), nullptr);
}

}  // namespace

std::string normalizeLineFeeds(const std::string& text) {
    std::string result;
    result.reserve(text.size() + text.size() / 16);
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) result += '\r';
        result += text[i];
    }
    return result;
}

EulaWindow::EulaWindow(std::string licenseText, std::wstring title, EulaTexts texts,
                       Callback onAccept, Callback onCancel)
    : look_(WindowLook::ThemeChanged::Ignore),
      title_(std::move(title)),
      texts_(std::move(texts)),
      licenseText_(std::move(licenseText)),
      onAccept_(std::move(onAccept)),
      onCancel_(std::move(onCancel)),
      // The browser gets the signed-in user's rights, not the setup's.
      linkOpener_([](const std::wstring& address) { launchAsUser(address); }) {
    current = this;
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_STANDARD_CLASSES;
    InitCommonControlsEx(&controls);

    HINSTANCE module = GetModuleHandleW(nullptr);
    bool ownedIcon = false;
    icon_ = loadWindowIcon(module, ownedIcon);
    if (ownedIcon) ownedIcon_.reset(icon_);

    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = windowProc;
    windowClass.hInstance = module;
    windowClass.hIcon = icon_;
    windowClass.hIconSm = icon_;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.lpszClassName = kClassName;
    look_.registerClass(windowClass);

    // Sized by the plain caption style: the modal frame's border is not counted.
    const WindowFrame frame = look_.centredFrame(550, 450, kWindowStyle, 0);
    // Mirrored as a whole: the children inherit the layout, so the icon, the buttons and the
    // text boxes all change sides.
    const DWORD exStyle = WS_EX_DLGMODALFRAME | (texts_.rightToLeft ? WS_EX_LAYOUTRTL : 0);
    window_ = CreateWindowExW(exStyle, kClassName, title_.c_str(), kWindowStyle,
                              frame.x, frame.y, frame.width, frame.height, nullptr, nullptr,
                              module, nullptr);
    if (!window_) {
        current = nullptr;
        throw std::runtime_error("Failed to create EULA window");
    }
    if (look_.dark()) look_.applyCaption(window_);
    // The window's own icon, also when the class was registered by an earlier instance whose
    // icon has since been destroyed.
    SendMessageW(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
    SendMessageW(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));
    createFonts();
    createChildren();
}

EulaWindow::~EulaWindow() {
    if (window_) DestroyWindow(window_);
    if (current == this) current = nullptr;
}

void EulaWindow::destroy() {
    // WM_DESTROY clears the handles.
    if (window_) DestroyWindow(window_);
}

void EulaWindow::offerForMeOnly() {
    offerForMeOnly_ = true;
    if (window_) rebuild(false);
}

void EulaWindow::createFonts() {
    normalFont_.reset(look_.createFont(9, FW_NORMAL));
    headingFont_.reset(look_.createFont(12, FW_BOLD));
}

void EulaWindow::createChildren() {
    RECT client{};
    GetClientRect(window_, &client);
    const int clientWidth = client.right - client.left;
    const int clientHeight = client.bottom - client.top;
    const int pad = scale(15);
    const int headingHeight = scale(25);
    const int instructionHeight = scale(40);
    const int buttonWidth = scale(100);
    const int buttonHeight = scale(30);
    const int radioHeight = scale(20);
    const int buttonGap = scale(10);
    const int iconSize = scale(32);
    const int textLeft = iconSize + 2 * pad;
    const int textWidth = clientWidth - pad - textLeft;
    const int acceptTop = clientHeight - 2 * (radioHeight + pad) - 20 - buttonHeight;
    const int editTop = pad + headingHeight + instructionHeight + 10;
    const int buttonTop = clientHeight - buttonHeight - pad;

    iconView_ = createChild(window_, 0, L"Static", nullptr,
                            WS_CHILD | WS_VISIBLE | SS_ICON | SS_CENTERIMAGE, pad, pad, iconSize,
                            iconSize, kEulaIconViewId);
    if (icon_) SendMessageW(iconView_, STM_SETICON, reinterpret_cast<WPARAM>(icon_), 0);
    // SS_ICON sizes the control to the icon; the layout's square is what counts.
    SetWindowPos(iconView_, nullptr, pad, pad, iconSize, iconSize, SWP_NOZORDER | SWP_NOACTIVATE);
    headingText_ = createChild(window_, 0, L"Static", texts_.heading.c_str(), WS_CHILD | WS_VISIBLE,
                               textLeft, pad, textWidth, headingHeight, 0);
    instructionText_ = createChild(
        window_, 0, L"Static", texts_.instruction.c_str(), WS_CHILD | WS_VISIBLE, textLeft,
        pad + 5 + headingHeight, textWidth, instructionHeight, 0);

    createLicenseView(textLeft, editTop, textWidth, acceptTop - editTop - 10);

    acceptRadio_ = createChild(window_, 0, L"Button", texts_.accept.c_str(),
                               WS_CHILD | WS_VISIBLE | WS_GROUP | WS_TABSTOP | BS_AUTORADIOBUTTON,
                               textLeft, acceptTop, textWidth, radioHeight, kEulaAcceptRadioId);
    declineRadio_ =
        createChild(window_, 0, L"Button", texts_.decline.c_str(),
                    WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTORADIOBUTTON, textLeft,
                    acceptTop + radioHeight + 5, textWidth, radioHeight, kEulaDeclineRadioId);
    SendMessageW(declineRadio_, BM_SETCHECK, BST_CHECKED, 0);
    for (HWND radio : {acceptRadio_, declineRadio_}) {
        SetWindowSubclass(radio, radioProc, 0, 0);
        if (look_.dark()) {
            // Without visual styles the radios take their colours from WM_CTLCOLORBTN.
            WindowLook::setControlTheme(radio, L"", L"");
            InvalidateRect(radio, nullptr, TRUE);
        }
    }

    cancelButton_ = createChild(
        window_, 0, L"Button", texts_.cancel.c_str(),
        WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_OWNERDRAW,
        clientWidth - buttonWidth - pad, buttonTop, buttonWidth, buttonHeight, kEulaCancelButtonId);
    nextButton_ = createChild(window_, 0, L"Button", texts_.next.c_str(),
                              WS_CHILD | WS_VISIBLE | WS_DISABLED | WS_TABSTOP | BS_OWNERDRAW,
                              clientWidth - 2 * buttonWidth - buttonGap - pad, buttonTop,
                              buttonWidth, buttonHeight, kEulaNextButtonId);
    for (HWND button : {cancelButton_, nextButton_}) SetWindowSubclass(button, buttonProc, 0, 0);
    if (offerForMeOnly_) {
        createForMeOnlyBox(textLeft, buttonTop,
                           clientWidth - 2 * buttonWidth - buttonGap - 2 * pad - textLeft,
                           buttonHeight);
    }

    const WPARAM normal = reinterpret_cast<WPARAM>(normalFont_.get());
    if (normalFont_) {
        for (HWND control : {instructionText_, licenseView_, acceptRadio_, declineRadio_,
                             nextButton_, cancelButton_}) {
            SendMessageW(control, WM_SETFONT, normal, TRUE);
        }
    }
    if (headingFont_) {
        SendMessageW(headingText_, WM_SETFONT, reinterpret_cast<WPARAM>(headingFont_.get()), TRUE);
    }
    InvalidateRect(window_, nullptr, TRUE);
}

// Beside the buttons, wrapped on two lines where a language needs them.
void EulaWindow::createForMeOnlyBox(int x, int y, int width, int height) {
    forMeOnlyBox_ = createChild(window_, 0, L"Button", texts_.forMeOnly.c_str(),
                                WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX |
                                    BS_MULTILINE,
                                x, y, width, height, kEulaForMeOnlyId);
    if (look_.dark()) WindowLook::setControlTheme(forMeOnlyBox_, L"", L"");
    if (normalFont_)
        SendMessageW(forMeOnlyBox_, WM_SETFONT, reinterpret_cast<WPARAM>(normalFont_.get()), TRUE);
}

void EulaWindow::createLicenseView(int x, int y, int width, int height) {
    if (!richEditModule_) richEditModule_.reset(loadSystemLibrary(L"Msftedit.dll"));
    richEditLoaded_ = static_cast<bool>(richEditModule_);
    if (richEditLoaded_) {
        licenseView_ = createChild(window_, WS_EX_CLIENTEDGE, L"RICHEDIT50W", nullptr,
                                   WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_TABSTOP | ES_MULTILINE |
                                       ES_AUTOVSCROLL | ES_READONLY,
                                   x, y, width, height, kEulaLicenseViewId);
        // The text box follows the look like the window around it.
        SendMessageW(licenseView_, EM_SETBKGNDCOLOR, 0,
                     look_.dark() ? kDarkBackground : RGB(255, 255, 255));
        CHARFORMAT2W format{};
        format.cbSize = sizeof format;
        format.dwMask = CFM_COLOR;
        format.crTextColor = look_.dark() ? kDarkText : RGB(0, 0, 0);
        // The default too: the license's text, set below, takes the default format, not this.
        for (WPARAM which : {SCF_DEFAULT, SCF_ALL})
            SendMessageW(licenseView_, EM_SETCHARFORMAT, which, reinterpret_cast<LPARAM>(&format));
        SendMessageW(licenseView_, EM_AUTOURLDETECT, TRUE, 0);
        LRESULT mask = SendMessageW(licenseView_, EM_GETEVENTMASK, 0, 0);
        SendMessageW(licenseView_, EM_SETEVENTMASK, 0, mask | ENM_LINK);
        // Long licenses must not be cut at the control's default limit of 32767 characters.
        SendMessageW(licenseView_, EM_EXLIMITTEXT, 0, 0x7FFFFFFE);
    } else {
        licenseView_ = createChild(window_, WS_EX_CLIENTEDGE, L"Edit", nullptr,
                                   WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_MULTILINE |
                                       ES_AUTOVSCROLL | ES_READONLY | ES_WANTRETURN,
                                   x, y, width, height, kEulaLicenseViewId);
        SendMessageW(licenseView_, EM_SETLIMITTEXT, 0, 0);
    }
    if (!licenseText_.empty()) {
        SetWindowTextW(licenseView_, toWide(normalizeLineFeeds(licenseText_)).c_str());
    }
}

void EulaWindow::removeSubclasses() {
    if (acceptRadio_) RemoveWindowSubclass(acceptRadio_, radioProc, 0);
    if (declineRadio_) RemoveWindowSubclass(declineRadio_, radioProc, 0);
    if (nextButton_) RemoveWindowSubclass(nextButton_, buttonProc, 0);
    if (cancelButton_) RemoveWindowSubclass(cancelButton_, buttonProc, 0);
}

void EulaWindow::rebuild(bool newFonts) {
    removeSubclasses();
    const bool ticked =
        forMeOnlyBox_ && SendMessageW(forMeOnlyBox_, BM_GETCHECK, 0, 0) == BST_CHECKED;
    for (HWND* child : {&licenseView_, &acceptRadio_, &declineRadio_, &nextButton_, &cancelButton_,
                        &headingText_, &instructionText_, &iconView_, &forMeOnlyBox_}) {
        if (*child) DestroyWindow(*child);
        *child = nullptr;
    }
    if (newFonts) createFonts();
    createChildren();
    if (forMeOnlyBox_ && ticked) SendMessageW(forMeOnlyBox_, BM_SETCHECK, BST_CHECKED, 0);
    InvalidateRect(window_, nullptr, TRUE);
    RedrawWindow(window_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void EulaWindow::onLinkClicked(HWND view, LONG start, LONG end) {
    if (end <= start) return;
    std::wstring link(static_cast<size_t>(end - start) + 1, L'\0');
    TEXTRANGEW range{};
    range.chrg.cpMin = start;
    range.chrg.cpMax = end;
    range.lpstrText = link.data();
    LRESULT copied = SendMessageW(view, EM_GETTEXTRANGE, 0, reinterpret_cast<LPARAM>(&range));
    link.resize(static_cast<size_t>(copied));
    // The text comes from the setup information file: only web pages go to the shell, never a
    // program path, a share or any other scheme that the shell would run.
    if (isWebAddress(toUtf8(link)) && linkOpener_) linkOpener_(link);
}

LRESULT CALLBACK EulaWindow::windowProc(HWND window, UINT message, WPARAM wParam,
                                        LPARAM lParam) noexcept {
    if (!current) {
        if (message == WM_CLOSE || message == WM_DPICHANGED) return 0;
        return DefWindowProcW(window, message, wParam, lParam);
    }
    return current->handleMessage(window, message, wParam, lParam);
}

void EulaWindow::onButtonClicked(WORD id) {
    switch (id) {
        case kEulaAcceptRadioId:
            EnableWindow(nextButton_, TRUE);
            SetFocus(nextButton_);
            break;
        case kEulaDeclineRadioId:
            EnableWindow(nextButton_, FALSE);
            break;
        case kEulaNextButtonId:
            // A click message can reach a disabled button (BM_CLICK, automation tools); only
            // the user's acceptance may let setup go on.
            if (onAccept_ && IsWindowEnabled(nextButton_) &&
                SendMessageW(acceptRadio_, BM_GETCHECK, 0, 0) == BST_CHECKED) {
                forMeOnlyChosen_ =
                    forMeOnlyBox_ && SendMessageW(forMeOnlyBox_, BM_GETCHECK, 0, 0) == BST_CHECKED;
                onAccept_();
            }
            break;
        case kEulaCancelButtonId:
            if (onCancel_) onCancel_();
            break;
    }
}

LRESULT EulaWindow::handleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (look_.follow(window, message, wParam, lParam)) {
        // After a DPI change the text is made at the new scale too, so that it still fits the
        // re-laid-out controls.
        rebuild(/*newFonts=*/message == WM_DPICHANGED);
        if (message == WM_DPICHANGED) return 0;
        return DefWindowProcW(window, message, wParam, lParam);
    }
    switch (message) {
        case WM_COMMAND:
            if (HIWORD(wParam) == BN_CLICKED) onButtonClicked(LOWORD(wParam));
            return DefWindowProcW(window, message, wParam, lParam);
        case WM_CLOSE:
            if (onCancel_) onCancel_();
            return 0;
        case WM_DESTROY:
            removeSubclasses();
            // The handles die with the window; the destructor must not destroy them again.
            window_ = licenseView_ = acceptRadio_ = declineRadio_ = nullptr;
            nextButton_ = cancelButton_ = headingText_ = instructionText_ = iconView_ = nullptr;
            forMeOnlyBox_ = nullptr;
            PostQuitMessage(0);
            return DefWindowProcW(window, message, wParam, lParam);
        case WM_ERASEBKGND:
            look_.eraseBackground(window, reinterpret_cast<HDC>(wParam));
            return 1;
        case WM_NOTIFY: {
            const auto* header = reinterpret_cast<const NMHDR*>(lParam);
            if (header && header->idFrom == kEulaLicenseViewId && header->code == EN_LINK) {
                const auto* link = reinterpret_cast<const ENLINK*>(lParam);
                if (link->msg == WM_LBUTTONUP) {
                    onLinkClicked(header->hwndFrom, link->chrg.cpMin, link->chrg.cpMax);
                }
                return 0;
            }
            return DefWindowProcW(window, message, wParam, lParam);
        }
        case WM_UPDATEUISTATE:
            if (forwardingUiState) return DefWindowProcW(window, message, wParam, lParam);
            forwardingUiState = true;
            SendMessageW(window, WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS), 0);
            forwardingUiState = false;
            return 0;
        case WM_CTLCOLORBTN: {
            HDC dc = reinterpret_cast<HDC>(wParam);
            HWND control = reinterpret_cast<HWND>(lParam);
            if (control == acceptRadio_ || control == declineRadio_) {
                look_.colourText(dc);
                return reinterpret_cast<LRESULT>(GetStockObject(NULL_BRUSH));
            }
            if (look_.dark()) {
                SetBkMode(dc, TRANSPARENT);
                return reinterpret_cast<LRESULT>(look_.background());
            }
            return DefWindowProcW(window, message, wParam, lParam);
        }
        case WM_CTLCOLORSTATIC: {
            HWND control = reinterpret_cast<HWND>(lParam);
            // The plain read-only edit asks here too; in the light look it keeps the system's.
            if (control == licenseView_ && !look_.dark())
                return DefWindowProcW(window, message, wParam, lParam);
            return reinterpret_cast<LRESULT>(look_.colourText(reinterpret_cast<HDC>(wParam)));
        }
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

LRESULT CALLBACK EulaWindow::radioProc(HWND radio, UINT message, WPARAM wParam, LPARAM lParam,
                                       UINT_PTR, DWORD_PTR) noexcept {
    if (message == WM_UPDATEUISTATE && !forwardingUiState) {
        forwardingUiState = true;
        SendMessageW(radio, WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS), 0);
        forwardingUiState = false;
        return 0;
    }
    return DefSubclassProc(radio, message, wParam, lParam);
}

LRESULT CALLBACK EulaWindow::buttonProc(HWND button, UINT message, WPARAM wParam, LPARAM lParam,
                                        UINT_PTR, DWORD_PTR) noexcept {
    LONG_PTR state = GetWindowLongPtrW(button, GWLP_USERDATA);
    switch (message) {
        case WM_MOUSEMOVE: {
            TRACKMOUSEEVENT track{};
            track.cbSize = sizeof track;
            track.dwFlags = TME_LEAVE;
            track.hwndTrack = button;
            TrackMouseEvent(&track);
            SetWindowLongPtrW(button, GWLP_USERDATA, state | kHoverBit);
            break;
        }
        case WM_MOUSELEAVE:
            SetWindowLongPtrW(button, GWLP_USERDATA, state & ~kHoverBit);
            break;
        case WM_LBUTTONDOWN:
            SetWindowLongPtrW(button, GWLP_USERDATA, state | kPressedBit);
            break;
        case WM_LBUTTONUP:
            SetWindowLongPtrW(button, GWLP_USERDATA, state & ~kPressedBit);
            break;
        case WM_ENABLE:
        case WM_SETFOCUS:
        case WM_KILLFOCUS:
            break;
        case WM_PAINT:
            if (current) {
                current->paintButton(button);
            } else {
                PAINTSTRUCT paint;
                HDC dc = BeginPaint(button, &paint);
                FillRect(dc, &paint.rcPaint, GetSysColorBrush(COLOR_BTNFACE));
                EndPaint(button, &paint);
            }
            return 0;
        default:
            return DefSubclassProc(button, message, wParam, lParam);
    }
    InvalidateRect(button, nullptr, FALSE);
    return DefSubclassProc(button, message, wParam, lParam);
}

void EulaWindow::paintButton(HWND button) {
    PAINTSTRUCT paint;
    HDC target = BeginPaint(button, &paint);
    RECT client{};
    GetClientRect(button, &client);
    const int width = client.right - client.left;
    const int height = client.bottom - client.top;

    UniqueMemoryDc dc(CreateCompatibleDC(target));
    UniqueGdiObject bitmap(CreateCompatibleBitmap(target, width, height));
    if (dc && bitmap) {
        const SelectedGdiObject selectedBitmap(dc.get(), bitmap.get());
        FillRect(dc.get(), &client, look_.background());

        const LONG_PTR state = GetWindowLongPtrW(button, GWLP_USERDATA);
        const bool enabled = IsWindowEnabled(button);
        const ButtonColours colours =
            buttonColours(button == nextButton_ && enabled, look_.dark(), enabled,
                          (state & kHoverBit) != 0, (state & kPressedBit) != 0);
        UniqueGdiObject pen(CreatePen(PS_SOLID, 1, colours.border));
        UniqueGdiObject fill(CreateSolidBrush(colours.fill));
        const SelectedGdiObject selectedPen(dc.get(), pen.get());
        const SelectedGdiObject selectedBrush(dc.get(), fill.get());
        RoundRect(dc.get(), client.left, client.top, client.right, client.bottom, 4, 4);

        HFONT font = reinterpret_cast<HFONT>(SendMessageW(button, WM_GETFONT, 0, 0));
        const SelectedGdiObject selectedFont(
            dc.get(), font ? static_cast<HGDIOBJ>(font) : GetStockObject(DEFAULT_GUI_FONT));
        SetBkMode(dc.get(), TRANSPARENT);
        SetTextColor(dc.get(), colours.text);
        wchar_t caption[256] = {};
        GetWindowTextW(button, caption, 256);
        RECT textRect = client;
        DrawTextW(dc.get(), caption, -1, &textRect, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
        // Keyboard users need to see which button Enter or Space would press.
        if (GetFocus() == button) {
            RECT focus = client;
            InflateRect(&focus, -3, -3);
            DrawFocusRect(dc.get(), &focus);
        }

        // In a mirrored window the copy would be flipped, and with it the caption's letters.
        if (GetLayout(target) & LAYOUT_RTL)
            SetLayout(target, LAYOUT_RTL | LAYOUT_BITMAPORIENTATIONPRESERVED);
        BitBlt(target, 0, 0, width, height, dc.get(), 0, 0, SRCCOPY);
    }
    EndPaint(button, &paint);
}

}  // namespace tessaryn
