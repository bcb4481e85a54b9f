// The license agreement window, driven through its controls' messages on the test's own thread.
#include <windows.h>

#include <commctrl.h>
#include <richedit.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/screen_capture_win.h"
#include "ui/eula_window_win.h"
#include "ui/pump_win.h"

namespace tessaryn {
namespace {

constexpr wchar_t kPersonalizeKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize";

// AppsUseLightTheme = value, or no value at all for a negative argument.
void setAppsUseLightTheme(int value) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kPersonalizeKey, 0, nullptr, 0, KEY_SET_VALUE,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    if (value < 0) {
        RegDeleteValueW(key, L"AppsUseLightTheme");
    } else {
        DWORD data = static_cast<DWORD>(value);
        RegSetValueExW(key, L"AppsUseLightTheme", 0, REG_DWORD, reinterpret_cast<BYTE*>(&data),
                       sizeof data);
    }
    RegCloseKey(key);
}

void pump(int milliseconds = 50) {
    pumpFor(std::chrono::milliseconds(milliseconds));
}

std::wstring textOf(HWND control) {
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
    text.resize(
        static_cast<size_t>(GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
    return text;
}

std::wstring classOf(HWND control) {
    wchar_t name[64] = {};
    GetClassNameW(control, name, 64);
    return name;
}

// A child's rectangle in its parent's client coordinates.
RECT placeOf(HWND child) {
    RECT rect{};
    GetWindowRect(child, &rect);
    MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

COLORREF pixelOf(HWND control, int x, int y) {
    HDC dc = GetDC(control);
    COLORREF colour = GetPixel(dc, x, y);
    ReleaseDC(control, dc);
    return colour;
}

// The English words, as the setup passes them.
const EulaTexts kEnglish{L"License Agreement",
                         L"You must accept the terms of this agreement before continuing with the "
                         L"installation.",
                         L"I accept the agreement",
                         L"I do not accept the agreement",
                         L"Next",
                         L"Cancel",
                         L"Install for me only (no administrator needed)",
                         false};

class EulaWindowTest : public ::testing::Test {
  protected:
    void SetUp() override { setAppsUseLightTheme(1); }
    void TearDown() override {
        eula_.reset();
        pump(10);  // passes over the WM_QUIT that the destroyed window posted
    }

    void open(std::string text = "License terms.\nSecond line.") {
        eula_ = std::make_unique<EulaWindow>(
            std::move(text), L"Tessaryn 2.4 Setup - License Agreement", kEnglish,
            [this] { ++accepted_; },
            [this] { ++cancelled_; });
        ShowWindow(window(), SW_SHOW);
        UpdateWindow(window());
        pump();
    }

    HWND window() const { return eula_->handle(); }
    // The colour of the license text as the box holds it (all of it selected).
    COLORREF licenseTextColour() const {
        HWND view = control(kEulaLicenseViewId);
        SendMessageW(view, EM_SETSEL, 0, -1);
        CHARFORMAT2W format{};
        format.cbSize = sizeof format;
        format.dwMask = CFM_COLOR;
        SendMessageW(view, EM_GETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));
        return (format.dwEffects & CFE_AUTOCOLOR) ? GetSysColor(COLOR_WINDOWTEXT)
                                                  : format.crTextColor;
    }
    HWND control(int id) const { return GetDlgItem(window(), id); }
    bool checked(int id) const {
        return SendMessageW(control(id), BM_GETCHECK, 0, 0) == BST_CHECKED;
    }
    void click(int id) {
        SendMessageW(control(id), BM_CLICK, 0, 0);
        pump(20);
    }

    std::unique_ptr<EulaWindow> eula_;
    int accepted_ = 0;
    int cancelled_ = 0;
};

TEST_F(EulaWindowTest, NextFollowsTheChoiceAndRunsOnAccept) {
    open();
    EXPECT_TRUE(checked(kEulaDeclineRadioId));
    EXPECT_FALSE(checked(kEulaAcceptRadioId));
    EXPECT_FALSE(IsWindowEnabled(control(kEulaNextButtonId)));
    // Disabled: neither a click message nor a forged notification accepts the license.
    click(kEulaNextButtonId);
    SendMessageW(window(), WM_COMMAND, MAKEWPARAM(kEulaNextButtonId, BN_CLICKED),
                 reinterpret_cast<LPARAM>(control(kEulaNextButtonId)));
    EXPECT_EQ(accepted_, 0);

    click(kEulaAcceptRadioId);
    EXPECT_TRUE(checked(kEulaAcceptRadioId));
    EXPECT_FALSE(checked(kEulaDeclineRadioId));
    EXPECT_TRUE(IsWindowEnabled(control(kEulaNextButtonId)));
    EXPECT_EQ(GetFocus(), control(kEulaNextButtonId));

    click(kEulaDeclineRadioId);
    EXPECT_FALSE(IsWindowEnabled(control(kEulaNextButtonId)));

    click(kEulaAcceptRadioId);
    click(kEulaNextButtonId);
    EXPECT_EQ(accepted_, 1);
    EXPECT_EQ(cancelled_, 0);
}

TEST_F(EulaWindowTest, CancelAndEveryCloseRequestRunOnCancelAndTheWindowStays) {
    open();
    click(kEulaCancelButtonId);
    EXPECT_EQ(cancelled_, 1);
    SendMessageW(window(), WM_CLOSE, 0, 0);
    EXPECT_EQ(cancelled_, 2);
    SendMessageW(window(), WM_SYSCOMMAND, SC_CLOSE, 0);  // the close box and Alt+F4
    pump(20);
    EXPECT_EQ(cancelled_, 3);
    EXPECT_TRUE(IsWindow(window()));
    EXPECT_TRUE(IsWindowVisible(window()));
    EXPECT_EQ(accepted_, 0);
}

TEST_F(EulaWindowTest, DestroyedFromItsOwnCallbackOrByTheCaller) {
    // As the install road does it: "Next" destroys the window from inside the click.
    std::unique_ptr<EulaWindow> eula;
    bool accepted = false;
    eula = std::make_unique<EulaWindow>(
        "Terms", L"Setup", kEnglish,
        [&] {
            accepted = true;
            eula->destroy();
        },
        [] {});
    HWND handle = eula->handle();
    ShowWindow(handle, SW_SHOW);
    SendMessageW(GetDlgItem(handle, kEulaAcceptRadioId), BM_CLICK, 0, 0);
    SendMessageW(GetDlgItem(handle, kEulaNextButtonId), BM_CLICK, 0, 0);
    EXPECT_TRUE(accepted);
    EXPECT_FALSE(IsWindow(handle));
    EXPECT_EQ(eula->handle(), nullptr);
    MSG quit;
    EXPECT_TRUE(
        PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));  // ends GetMessage loops
    eula.reset();

    open();
    handle = window();
    DestroyWindow(handle);
    EXPECT_EQ(eula_->handle(), nullptr);
    eula_->destroy();  // nothing left to destroy
    eula_.reset();
}

TEST(NormalizeLineFeeds, EveryBareLineFeedGetsACarriageReturn) {
    EXPECT_EQ(normalizeLineFeeds(""), "");
    EXPECT_EQ(normalizeLineFeeds("a\nb"), "a\r\nb");
    EXPECT_EQ(normalizeLineFeeds("a\r\nb"), "a\r\nb");
    EXPECT_EQ(normalizeLineFeeds("\nfirst"), "\r\nfirst");
    EXPECT_EQ(normalizeLineFeeds("a\n\nb\r\n\r\nc\n"), "a\r\n\r\nb\r\n\r\nc\r\n");
    EXPECT_EQ(normalizeLineFeeds("a\rb\n"), "a\rb\r\n");  // a lone CR stays as it is
}

// The shapes of line ends are the table above; the window shows a mixed text, UTF-8 included,
// each line once.
TEST_F(EulaWindowTest, LicenseTextShowsEachLineOnce) {
    open("Gr\xC3\xBC\xC3\x9F"
         "e\r\ntwo\nthree\r\n\n\xE2\x80\x93 ok");
    HWND view = control(kEulaLicenseViewId);
    EXPECT_EQ(textOf(view), L"Gr\u00fc\u00dfe\r\ntwo\r\nthree\r\n\r\n\u2013 ok");
    EXPECT_EQ(SendMessageW(view, EM_GETLINECOUNT, 0, 0), 5);
}

TEST_F(EulaWindowTest, LongAndEmptyLicenseTexts) {
    std::string longText;
    for (int i = 0; i < 4000; ++i) longText += "Clause " + std::to_string(i) + " of the terms.\n";
    open(longText);
    EXPECT_EQ(static_cast<size_t>(GetWindowTextLengthW(control(kEulaLicenseViewId))),
              longText.size() + 4000);  // every line feed became CR LF, nothing was cut
    eula_.reset();

    open("");
    EXPECT_EQ(GetWindowTextLengthW(control(kEulaLicenseViewId)), 0);
    click(kEulaAcceptRadioId);
    click(kEulaNextButtonId);
    EXPECT_EQ(accepted_, 1);
}

TEST_F(EulaWindowTest, LayoutAt96DpiFitsAndIsCentred) {
    open();
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    if (dpi != 96) GTEST_SKIP() << "display runs at " << dpi << " DPI";

    RECT client{};
    GetClientRect(window(), &client);
    EXPECT_EQ(client.right, 550);
    EXPECT_EQ(client.bottom, 450);
    // Every child inside the client area, none over another (the scaled places are checked in
    // DpiChangeMovesLaysOutAgainAndResetsTheChoice).
    std::vector<RECT> places;
    for (HWND child = GetWindow(window(), GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        places.push_back(placeOf(child));
    ASSERT_EQ(places.size(), 8u);  // icon, heading, instruction, license, two radios, two buttons
    for (size_t i = 0; i < places.size(); ++i) {
        RECT inside{};
        EXPECT_TRUE(IntersectRect(&inside, &places[i], &client) && EqualRect(&inside, &places[i]))
            << i;
        for (size_t j = i + 1; j < places.size(); ++j)
            EXPECT_FALSE(IntersectRect(&inside, &places[i], &places[j])) << i << " " << j;
    }

    // Centred in the work area.
    RECT frame{}, work{};
    GetWindowRect(window(), &frame);
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    EXPECT_NEAR((frame.left + frame.right) / 2, (work.left + work.right) / 2, 1);
    EXPECT_NEAR((frame.top + frame.bottom) / 2, (work.top + work.bottom) / 2, 1);
}

TEST_F(EulaWindowTest, RichEditWithLinkDetectionWhenAvailable) {
    open();
    HMODULE richEdit = LoadLibraryW(L"Msftedit.dll");
    ASSERT_NE(richEdit, nullptr) << "this system has no Msftedit.dll";
    FreeLibrary(richEdit);
    EXPECT_TRUE(eula_->richEditLoaded());
    HWND view = control(kEulaLicenseViewId);
    EXPECT_EQ(_wcsicmp(classOf(view).c_str(), L"RICHEDIT50W"), 0) << classOf(view).c_str();
    EXPECT_TRUE(SendMessageW(view, EM_GETEVENTMASK, 0, 0) & ENM_LINK);
    EXPECT_TRUE(SendMessageW(view, EM_GETAUTOURLDETECT, 0, 0));
    EXPECT_TRUE(GetWindowLongW(view, GWL_STYLE) & ES_READONLY);
}

// Run by its own CTest entry with Msftedit.dll switched off in Wine; skipped where it loads.
TEST_F(EulaWindowTest, PlainEditShowsTheTextWhenRichEditIsMissing) {
    HMODULE richEdit = LoadLibraryW(L"Msftedit.dll");
    if (richEdit) {
        FreeLibrary(richEdit);
        GTEST_SKIP() << "Msftedit.dll is present";
    }
    open("First line\nSecond line\r\nThird line\n");
    EXPECT_FALSE(eula_->richEditLoaded());
    HWND view = control(kEulaLicenseViewId);
    EXPECT_EQ(classOf(view), L"Edit");
    EXPECT_TRUE(GetWindowLongW(view, GWL_STYLE) & ES_READONLY);
    EXPECT_EQ(textOf(view), L"First line\r\nSecond line\r\nThird line\r\n");
    EXPECT_EQ(SendMessageW(view, EM_GETLINECOUNT, 0, 0), 4);
    click(kEulaAcceptRadioId);
    click(kEulaNextButtonId);
    EXPECT_EQ(accepted_, 1);
}

TEST_F(EulaWindowTest, OnlyClickedWebAddressesAreOpened) {
    const std::string text =
        "See https://tessaryn.example/terms or file:///C:/windows/system32/calc.exe or "
        "HTTP://WWW.TESSARYN.EXAMPLE or \\\\server\\share\\run.exe";
    open(text);
    std::vector<std::wstring> opened;
    eula_->setLinkOpener([&](const std::wstring& address) { opened.push_back(address); });

    auto notify = [&](const char* part, UINT mouse) {
        const LONG start = static_cast<LONG>(text.find(part));
        ENLINK link{};
        link.nmhdr.hwndFrom = control(kEulaLicenseViewId);
        link.nmhdr.idFrom = kEulaLicenseViewId;
        link.nmhdr.code = EN_LINK;
        link.msg = mouse;
        link.chrg.cpMin = start;
        link.chrg.cpMax = start + static_cast<LONG>(std::string(part).size());
        return SendMessageW(window(), WM_NOTIFY, kEulaLicenseViewId,
                            reinterpret_cast<LPARAM>(&link));
    };
    EXPECT_EQ(notify("https://tessaryn.example/terms", WM_LBUTTONUP), 0);
    notify("https://tessaryn.example/terms", WM_MOUSEMOVE);
    notify("https://tessaryn.example/terms", WM_LBUTTONDOWN);
    notify("file:///C:/windows/system32/calc.exe", WM_LBUTTONUP);
    notify("\\\\server\\share\\run.exe", WM_LBUTTONUP);
    notify("HTTP://WWW.TESSARYN.EXAMPLE", WM_LBUTTONUP);
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_EQ(opened[0], L"https://tessaryn.example/terms");
    EXPECT_EQ(opened[1], L"HTTP://WWW.TESSARYN.EXAMPLE");
}

TEST_F(EulaWindowTest, LookFollowsAppsUseLightTheme) {
    setAppsUseLightTheme(1);
    open();
    EXPECT_FALSE(eula_->darkMode());
    EXPECT_EQ(pixelOf(window(), 3, 3), GetSysColor(COLOR_WINDOW));
    // Disabled Next and Cancel in the light look.
    EXPECT_EQ(pixelOf(control(kEulaNextButtonId), 10, 15), RGB(225, 225, 225));
    eula_.reset();

    for (int value : {0, -1}) {  // 0 and a missing value both give the dark look
        setAppsUseLightTheme(value);
        open();
        EXPECT_TRUE(eula_->darkMode()) << value;
        EXPECT_EQ(pixelOf(window(), 3, 3), RGB(46, 46, 46)) << value;
        EXPECT_EQ(pixelOf(control(kEulaCancelButtonId), 10, 15), RGB(61, 61, 61)) << value;
        // The license's own words, not only the box, in the look's colour: dark on dark is unread.
        EXPECT_EQ(licenseTextColour(), RGB(255, 255, 255)) << value;
        eula_.reset();
    }
}

TEST_F(EulaWindowTest, PushButtonsShowHoverAndPressed) {
    open();
    click(kEulaAcceptRadioId);
    HWND next = control(kEulaNextButtonId);
    auto colour = [&] {
        UpdateWindow(next);
        return pixelOf(next, 10, 15);
    };
    EXPECT_EQ(colour(), RGB(212, 120, 0));
    SendMessageW(next, WM_MOUSEMOVE, 0, MAKELPARAM(10, 10));
    EXPECT_EQ(colour(), RGB(224, 138, 28));
    SendMessageW(next, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(10, 10));
    EXPECT_EQ(colour(), RGB(190, 110, 16));                     // pressed wins over hover
    SendMessageW(next, WM_LBUTTONUP, 0, MAKELPARAM(-50, -50));  // released outside: no click
    SendMessageW(next, WM_MOUSELEAVE, 0, 0);
    EXPECT_EQ(colour(), RGB(212, 120, 0));
    EXPECT_EQ(accepted_, 0);

    HWND cancel = control(kEulaCancelButtonId);
    SendMessageW(cancel, WM_MOUSEMOVE, 0, MAKELPARAM(10, 10));
    UpdateWindow(cancel);
    EXPECT_EQ(pixelOf(cancel, 10, 15), RGB(208, 208, 208));
}

TEST_F(EulaWindowTest, ThemeChangeRebuildsAndResetsTheChoice) {
    setAppsUseLightTheme(1);
    open("Terms\nMore terms");
    click(kEulaAcceptRadioId);
    const wchar_t* immersive = L"ImmersiveColorSet";

    // No real change, another setting, or no text: the choice stays.
    SendMessageW(window(), WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>(immersive));
    SendMessageW(window(), WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>(L"intl"));
    SendMessageW(window(), WM_SETTINGCHANGE, SPI_SETWORKAREA, 0);
    EXPECT_TRUE(checked(kEulaAcceptRadioId));
    EXPECT_TRUE(IsWindowEnabled(control(kEulaNextButtonId)));

    setAppsUseLightTheme(0);
    SendMessageW(window(), WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>(L"immersivecolorset"));
    EXPECT_FALSE(eula_->darkMode());  // the name is compared with case
    SendMessageW(window(), WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>(immersive));
    pump(20);
    EXPECT_TRUE(eula_->darkMode());
    EXPECT_TRUE(checked(kEulaDeclineRadioId));
    EXPECT_FALSE(checked(kEulaAcceptRadioId));
    EXPECT_FALSE(IsWindowEnabled(control(kEulaNextButtonId)));
    EXPECT_EQ(textOf(control(kEulaLicenseViewId)), L"Terms\r\nMore terms");
    EXPECT_EQ(pixelOf(window(), 3, 3), RGB(46, 46, 46));

    // The rebuilt window still works.
    click(kEulaAcceptRadioId);
    click(kEulaNextButtonId);
    EXPECT_EQ(accepted_, 1);
}

TEST_F(EulaWindowTest, DpiChangeMovesLaysOutAgainAndResetsTheChoice) {
    open();
    click(kEulaAcceptRadioId);
    const UINT dpi = 144;
    RECT suggested{100, 80, 0, 0};
    RECT frame{0, 0, MulDiv(550, dpi, 96), MulDiv(450, dpi, 96)};
    AdjustWindowRectEx(&frame, WS_CAPTION | WS_SYSMENU, FALSE, WS_EX_DLGMODALFRAME);
    suggested.right = suggested.left + frame.right - frame.left;
    suggested.bottom = suggested.top + frame.bottom - frame.top;
    EXPECT_EQ(SendMessageW(window(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi),
                           reinterpret_cast<LPARAM>(&suggested)),
              0);
    pump(20);

    RECT placed{};
    GetWindowRect(window(), &placed);
    EXPECT_EQ(placed.left, 100);
    EXPECT_EQ(placed.top, 80);
    RECT client{};
    GetClientRect(window(), &client);
    RECT cancel = placeOf(control(kEulaCancelButtonId));
    EXPECT_EQ(cancel.right - cancel.left, 150);
    EXPECT_EQ(cancel.bottom - cancel.top, 45);
    EXPECT_EQ(cancel.right, client.right - MulDiv(15, dpi, 96));
    EXPECT_EQ(cancel.bottom, client.bottom - MulDiv(15, dpi, 96));
    EXPECT_TRUE(checked(kEulaDeclineRadioId));
    EXPECT_FALSE(IsWindowEnabled(control(kEulaNextButtonId)));

    // The text follows the new scale: 9 points at 144 DPI.
    HFONT font =
        reinterpret_cast<HFONT>(SendMessageW(control(kEulaAcceptRadioId), WM_GETFONT, 0, 0));
    LOGFONTW logFont{};
    ASSERT_TRUE(GetObjectW(font, sizeof logFont, &logFont));
    EXPECT_EQ(logFont.lfHeight, -MulDiv(9, dpi, 72));
}

TEST_F(EulaWindowTest, FocusCuesStayVisibleWithoutEndlessForwarding) {
    open();
    // A request to hide focus rectangles is turned round into showing them; the window and the
    // radios answer each other once and stop.
    SendMessageW(window(), WM_UPDATEUISTATE, MAKEWPARAM(UIS_SET, UISF_HIDEFOCUS), 0);
    SendMessageW(control(kEulaAcceptRadioId), WM_UPDATEUISTATE, MAKEWPARAM(UIS_SET, UISF_HIDEFOCUS),
                 0);
    EXPECT_FALSE(SendMessageW(window(), WM_QUERYUISTATE, 0, 0) & UISF_HIDEFOCUS);
    EXPECT_FALSE(SendMessageW(control(kEulaAcceptRadioId), WM_QUERYUISTATE, 0, 0) & UISF_HIDEFOCUS);
}

TEST_F(EulaWindowTest, ApplicationIconIsShown) {
    open();
    HICON shown =
        reinterpret_cast<HICON>(SendMessageW(control(kEulaIconViewId), STM_GETICON, 0, 0));
    EXPECT_NE(shown, nullptr);
    EXPECT_NE(reinterpret_cast<HICON>(SendMessageW(window(), WM_GETICON, ICON_BIG, 0)), nullptr);
}

// Pictures of both looks for a person to look at: written when TESSARYN_SCREENSHOT_DIR is set.
TEST_F(EulaWindowTest, Screenshots) {
    const char* dir = std::getenv("TESSARYN_SCREENSHOT_DIR");
    if (!dir) GTEST_SKIP() << "TESSARYN_SCREENSHOT_DIR not set";
    const std::string text =
        "TESSARYN END USER LICENSE AGREEMENT\n\nPlease read these terms carefully. "
        "More at https://tessaryn.example/terms.\n\n1. Grant of licence. You may install and "
        "use the software on any number of computers that you own.\n2. Restrictions. You may "
        "not rent or lease the software.\n";
    for (int light : {1, 0}) {
        setAppsUseLightTheme(light);
        open(text);
        click(kEulaAcceptRadioId);
        SendMessageW(control(kEulaCancelButtonId), WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
        SetForegroundWindow(window());
        RedrawWindow(window(), nullptr, nullptr,
                     RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
        pump(300);
        (void)testing::capture(window(),
                               std::string(dir) + (light ? "/eula-light.bmp" : "/eula-dark.bmp"));
        eula_.reset();
        pump(10);
    }
}

}  // namespace
}  // namespace tessaryn
