// Every language in the real windows: each control's text measured against its rectangle at
// 100, 150 and 200 % in the font the control really uses, the layout mirrored for right-to-left
// languages only, and no text outside the table (the pseudo-language marks each of its own).
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <string>
#include <vector>

#include "app/status_texts.h"
#include "app/ui_text.h"
#include "system/unicode_win.h"
#include "ui/eula_window_win.h"
#include "ui/progress_window_win.h"
#include "ui/pump_win.h"

namespace tessaryn {

extern const char* const kPseudoTexts[kTextCount];

namespace {

constexpr const char* kPseudoTag = "qps-ploc";

UiTexts textsOf(const std::string& tag) {
    if (tag != kPseudoTag) return languageTexts(tag).value_or(UiTexts());
    std::string joined;
    for (const char* text : kPseudoTexts) joined += std::string(text) + '\0';
    return UiTexts(tag, joined);
}

std::wstring wide(const UiTexts& texts, Text id) {
    return toWide(texts(id));
}

std::wstring textOf(HWND control) {
    wchar_t text[512] = {};
    GetWindowTextW(control, text, 512);
    return text;
}

std::vector<HWND> childrenOf(HWND window) {
    std::vector<HWND> children;
    EnumChildWindows(
        window,
        [](HWND child, LPARAM list) {
            reinterpret_cast<std::vector<HWND>*>(list)->push_back(child);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&children));
    return children;
}

int screenDpi() {
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return dpi;
}

// How a control lays out its text: on one line, or wrapped within its width.
enum class Flow { OneLine, Wrapped };

struct Room {
    int width;   // the text's part of the control (a radio's circle, a button's edge excluded)
    int height;
    Flow flow;
};

Room roomOf(HWND control) {
    RECT rect{};
    GetClientRect(control, &rect);
    wchar_t name[32] = {};
    GetClassNameW(control, name, 32);
    const LONG_PTR style = GetWindowLongPtrW(control, GWL_STYLE);
    const int base = screenDpi();
    if (lstrcmpiW(name, L"Button") == 0) {
        const LONG_PTR type = style & BS_TYPEMASK;
        const bool marked = type == BS_AUTORADIOBUTTON || type == BS_AUTOCHECKBOX;
        return {rect.right - MulDiv(marked ? 20 : 8, base, 96), rect.bottom,
                (style & BS_MULTILINE) ? Flow::Wrapped : Flow::OneLine};
    }
    return {rect.right, rect.bottom, (style & SS_CENTERIMAGE) ? Flow::OneLine : Flow::Wrapped};
}

// Whether `text` fits the control's room when window and font are scaled from the screen's DPI
// to `dpi`; `needed` says how much it took.
bool fits(HWND control, const std::wstring& text, int dpi, std::string& needed) {
    const int base = screenDpi();
    const Room room = roomOf(control);
    LOGFONTW font{};
    auto shown = reinterpret_cast<HGDIOBJ>(SendMessageW(control, WM_GETFONT, 0, 0));
    GetObjectW(shown ? shown : GetStockObject(DEFAULT_GUI_FONT), sizeof font, &font);
    font.lfHeight = MulDiv(font.lfHeight, dpi, base);
    HFONT scaled = CreateFontIndirectW(&font);
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, scaled);
    RECT box{0, 0, MulDiv(room.width, dpi, base), 0};
    DrawTextW(dc, text.c_str(), -1, &box,
              DT_CALCRECT | (room.flow == Flow::OneLine ? DT_SINGLELINE : DT_WORDBREAK));
    SelectObject(dc, old);
    DeleteDC(dc);
    DeleteObject(scaled);
    needed = std::to_string(box.right) + "x" + std::to_string(box.bottom) + " of " +
             std::to_string(MulDiv(room.width, dpi, base)) + "x" +
             std::to_string(MulDiv(room.height, dpi, base));
    return box.right <= MulDiv(room.width, dpi, base) &&
           box.bottom <= MulDiv(room.height, dpi, base);
}

std::vector<std::string> everyLanguage() {
    std::vector<std::string> tags(kLanguageTags, kLanguageTags + kLanguageCount);
    tags.push_back(kPseudoTag);
    return tags;
}

void expectMirroredAsTheLanguage(HWND window, bool rightToLeft, const std::string& tag) {
    const auto mirrored = [](HWND w) {
        return (GetWindowLongPtrW(w, GWL_EXSTYLE) & WS_EX_LAYOUTRTL) != 0;
    };
    EXPECT_EQ(mirrored(window), rightToLeft) << tag;
    for (HWND child : childrenOf(window)) EXPECT_EQ(mirrored(child), rightToLeft) << tag;
}

TEST(WindowTexts, LicenseWindowFitsAndIsMirroredInEveryLanguage) {
    for (const std::string& tag : everyLanguage()) {
        const UiTexts texts = textsOf(tag);
        EulaWindow window("Terms.", wide(texts, Text::eula_title),
                          EulaTexts{wide(texts, Text::eula_heading),
                                    wide(texts, Text::eula_instruction),
                                    wide(texts, Text::eula_accept), wide(texts, Text::eula_decline),
                                    wide(texts, Text::eula_next), wide(texts, Text::eula_cancel),
                                    wide(texts, Text::eula_for_me_only), texts.rightToLeft()},
                          [] {}, [] {});
        window.offerForMeOnly();  // measured too: the longest text beside the buttons
        expectMirroredAsTheLanguage(window.handle(), texts.rightToLeft(), tag);
        for (HWND control : childrenOf(window.handle())) {
            if (GetDlgCtrlID(control) == kEulaLicenseViewId) continue;  // scrolls
            const std::wstring text = textOf(control);
            if (text.empty()) continue;
            if (tag == kPseudoTag) {
                EXPECT_EQ(text[0], L'[') << toUtf8(text) << " is not a table text";
            }
            for (int dpi : {96, 144, 192}) {
                std::string needed;
                EXPECT_TRUE(fits(control, text, dpi, needed))
                    << tag << " at " << dpi << " dpi: \"" << toUtf8(text) << "\" needs " << needed;
            }
        }
        window.destroy();
        pumpFor(std::chrono::milliseconds(5));
    }
}

// Every line the status shows, with the download's figures in the language's own words: the
// widest figures the setup writes there, each cause of a wait and of a failure.
std::vector<std::string> progressLines(const UiTexts& texts) {
    const auto step = [&texts](Text id) { return texts(id) + " "; };
    const auto rate = [&texts, &step](Text id, int32_t percent) {
        return downloadStatusLine(texts, step(id), 1536000, 8192000, percent);
    };
    const std::string files = fileCountText(texts, 1200, 3066);
    std::vector<std::string> lines = {
        texts(Text::progress_initializing),
        rate(Text::progress_initializing_setup, 42),
        texts(Text::progress_preparing),
        rate(Text::progress_downloading, 42),
        rate(Text::progress_downloading, -1),
        rate(Text::progress_downloading_installing, 42) + ", " + files,
        texts(Text::progress_verifying),
        step(Text::progress_installing_files) + files,
        texts(Text::progress_installing_application),
        texts(Text::progress_removing_previous),
        texts(Text::progress_initializing_product),
        texts(Text::progress_complete),
        updateStatusLine(texts, 1200, 3066, 123456789, 1866),
        updateStatusLine(texts, 12, 3066, 52428, 3054),
    };
    for (DownloadFailure cause : {DownloadFailure::HttpStatus, DownloadFailure::NameNotFound,
                                  DownloadFailure::NoConnection, DownloadFailure::Cut})
        lines.push_back(retryStatusLine(texts, cause, 503, 60000, 4, 5));
    for (DownloadFailure cause :
         {DownloadFailure::NoConnection, DownloadFailure::NameNotFound,
          DownloadFailure::Certificate, DownloadFailure::HttpStatus, DownloadFailure::ProxySignIn,
          DownloadFailure::Cut, DownloadFailure::Disk, DownloadFailure::TimedOut,
          DownloadFailure::Cancelled, DownloadFailure::WrongFile})
        lines.push_back(texts.fill(Text::progress_download_failed,
                                   downloadFailureMessage(texts, cause, 503, "127.0.0.1", 5)));
    return lines;
}

// The status line shows each progress text, the download's figures after those that get them.
TEST(WindowTexts, ProgressTextsFitAndTheBarFillsFromTheLanguagesStart) {
    for (const std::string& tag : everyLanguage()) {
        const UiTexts texts = textsOf(tag);
        ProgressWindow window(false, wide(texts, Text::progress_title),
                              wide(texts, Text::progress_initializing), texts.rightToLeft());
        expectMirroredAsTheLanguage(window.handle(), texts.rightToLeft(), tag);
        if (tag == kPseudoTag) {
            EXPECT_EQ(textOf(window.statusHandle())[0], L'[');
        }
        for (const std::string& line : progressLines(texts)) {
            const std::wstring text = toWide(line);
            for (int dpi : {96, 144, 192}) {
                std::string needed;
                EXPECT_TRUE(fits(window.statusHandle(), text, dpi, needed))
                    << tag << " at " << dpi << " dpi: \"" << toUtf8(text) << "\" needs " << needed;
            }
        }
        if (tag == "ar" || tag == "en") {
            // A third of the bar filled: its start is the left end in English, the right in Arabic.
            ShowWindow(window.handle(), SW_SHOWNOACTIVATE);
            window.setProgress(33);
            pumpFor(std::chrono::milliseconds(200));
            // Read on the screen, where nothing is mirrored.
            RECT bar{};
            GetWindowRect(window.progressBarHandle(), &bar);
            const int middle = (bar.top + bar.bottom) / 2, width = bar.right - bar.left;
            HDC screen = GetDC(nullptr);
            const COLORREF atLeft = GetPixel(screen, bar.left + width / 8, middle);
            const COLORREF atRight = GetPixel(screen, bar.right - width / 8, middle);
            ReleaseDC(nullptr, screen);
            EXPECT_NE(atLeft, atRight) << tag;
            const COLORREF filledSide = tag == "ar" ? atRight : atLeft;
            const COLORREF emptySide = tag == "ar" ? atLeft : atRight;
            // The filled part is the darker, more saturated one in either look.
            EXPECT_LT(GetRValue(filledSide) + GetGValue(filledSide),
                      GetRValue(emptySide) + GetGValue(emptySide))
                << tag;
        }
    }
}

}  // namespace
}  // namespace tessaryn
