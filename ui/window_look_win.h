#pragma once
// The look both setup windows share: the user's light or dark app theme, the monitor's DPI, the
// background brush of the current look, the dark caption, and a window centred on the work area.
// Each window owns one WindowLook and asks it what to paint with; the look follows theme and DPI
// changes when the window passes them its messages.
#include <windows.h>

#include "system/handles_win.h"

namespace tessaryn {

inline constexpr COLORREF kDarkBackground = RGB(46, 46, 46);
inline constexpr COLORREF kDarkText = RGB(255, 255, 255);
inline constexpr COLORREF kDarkBarBackground = RGB(56, 56, 56);
// The accent of a filled bar and of the default button.
inline constexpr COLORREF kAccent = 0x000078D4;

// Where a window of the given client size goes: centred on the work area of the main monitor.
struct WindowFrame {
    int x, y, width, height;
};

class WindowLook {
  public:
    // How a window reacts to WM_THEMECHANGED: the progress window takes the look again and lays
    // out anew; the license window only follows the app theme setting.
    enum class ThemeChanged { Rebuild, Ignore };

    // Reads the app theme and the screen's DPI (96 when unknown).
    explicit WindowLook(ThemeChanged onThemeChanged);

    bool dark() const noexcept { return dark_; }
    UINT dpi() const noexcept { return dpi_; }
    int scale(int value) const noexcept { return MulDiv(value, static_cast<int>(dpi_), 96); }
    HBRUSH background() const noexcept { return backgroundBrush_; }

    // Registers the window class once per run, its background brush of the current look; later
    // windows of the class paint with their own look's brush.
    void registerClass(WNDCLASSEXW windowClass) const;
    // The frame of a window of this client size (in 96-DPI units), style and extended style.
    WindowFrame centredFrame(int clientWidth, int clientHeight, DWORD style, DWORD exStyle) const;
    // Segoe UI at the given point size, scaled for the DPI.
    HFONT createFont(int points, int weight) const;

    // The caption bar follows the look (only Windows draws it; Wine ignores the attribute).
    void applyCaption(HWND window) const;
    // Gives a control the visual style of another application name or none (both empty).
    static void setControlTheme(HWND control, const wchar_t* appName, const wchar_t* idList);
    // Sets up a control's text colours for the look; returns the brush of its background.
    HBRUSH colourText(HDC dc) const;
    void eraseBackground(HWND window, HDC dc) const;

    // For the window procedure: true when the message changed the look or the DPI, so that the
    // window must make its children anew. A DPI change has already moved and sized the window.
    bool follow(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  private:
    void takeTheme(bool dark);

    ThemeChanged onThemeChanged_;
    bool dark_ = false;
    UINT dpi_ = 96;
    HBRUSH backgroundBrush_ = nullptr;
    UniqueGdiObject ownedBrush_;  // the dark brush; the light one belongs to the system
};

}  // namespace tessaryn
