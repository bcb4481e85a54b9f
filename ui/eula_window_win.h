#pragma once
// The license agreement window: the product's license, "I accept" / "I do not accept" and the
// "Next" / "Cancel" buttons, in the light or dark look of the user's app theme.
#include <windows.h>

#include <functional>
#include <string>

#include "system/handles_win.h"
#include "ui/window_look_win.h"

namespace tessaryn {

// Control identifiers, also how tests and accessibility tools find the controls.
enum EulaControlId : int {
    kEulaLicenseViewId = 1001,
    kEulaAcceptRadioId = 1002,
    kEulaDeclineRadioId = 1003,
    kEulaNextButtonId = 1004,
    kEulaCancelButtonId = 1005,
    kEulaIconViewId = 1006,
    kEulaForMeOnlyId = 1007,
};

// Every line feed that is not already preceded by a carriage return becomes CR LF, so that the
// plain edit control shows each line once.
std::string normalizeLineFeeds(const std::string& text);

// The window's words, in the run's language; a right-to-left language mirrors the window.
struct EulaTexts {
    std::wstring heading;
    std::wstring instruction;
    std::wstring accept;
    std::wstring decline;
    std::wstring next;
    std::wstring cancel;
    std::wstring forMeOnly;  // the "install for me only" check box
    bool rightToLeft = false;
};

class EulaWindow {
  public:
    using Callback = std::function<void()>;
    using LinkOpener = std::function<void(const std::wstring& address)>;

    // Builds the window hidden. Throws std::runtime_error when the window cannot be created.
    EulaWindow(std::string licenseText, std::wstring title, EulaTexts texts, Callback onAccept,
               Callback onCancel);
    ~EulaWindow();
    EulaWindow(const EulaWindow&) = delete;
    EulaWindow& operator=(const EulaWindow&) = delete;

    // The top-level window; null once it has been destroyed. The caller shows it and may
    // destroy it.
    HWND handle() const { return window_; }
    // Destroys the window (also from inside onAccept or onCancel); the handle becomes null.
    void destroy();
    bool richEditLoaded() const { return richEditLoaded_; }
    bool darkMode() const { return look_.dark(); }

    // Shows the "Install for me only" check box beside the buttons (before the window is shown).
    void offerForMeOnly();
    // Whether the check box was ticked when the agreement was accepted.
    bool forMeOnly() const { return forMeOnlyChosen_; }

    // Replaces how a clicked web address is opened (the default hands it to the shell).
    void setLinkOpener(LinkOpener opener) { linkOpener_ = std::move(opener); }

  private:
    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam,
                                       LPARAM lParam) noexcept;
    static LRESULT CALLBACK buttonProc(HWND button, UINT message, WPARAM wParam, LPARAM lParam,
                                       UINT_PTR id, DWORD_PTR data) noexcept;
    static LRESULT CALLBACK radioProc(HWND radio, UINT message, WPARAM wParam, LPARAM lParam,
                                      UINT_PTR id, DWORD_PTR data) noexcept;

    LRESULT handleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    // A click on one of the radio buttons or the two push buttons.
    void onButtonClicked(WORD id);
    void createFonts();
    void createChildren();
    void createForMeOnlyBox(int x, int y, int width, int height);
    void createLicenseView(int x, int y, int width, int height);
    void removeSubclasses();
    void rebuild(bool newFonts);
    void onLinkClicked(HWND view, LONG start, LONG end);
    void paintButton(HWND button);
    int scale(int value) const { return look_.scale(value); }

    WindowLook look_;
    HWND window_ = nullptr;
    HWND licenseView_ = nullptr;
    HWND acceptRadio_ = nullptr;
    HWND declineRadio_ = nullptr;
    HWND nextButton_ = nullptr;
    HWND cancelButton_ = nullptr;
    HWND headingText_ = nullptr;
    HWND instructionText_ = nullptr;
    HWND iconView_ = nullptr;
    HWND forMeOnlyBox_ = nullptr;
    bool offerForMeOnly_ = false;
    bool forMeOnlyChosen_ = false;
    UniqueGdiObject normalFont_;
    UniqueGdiObject headingFont_;
    // Icon loaded from the program's resources; the stock icon is shared and never destroyed.
    UniqueIcon ownedIcon_;
    HICON icon_ = nullptr;
    UniqueModule richEditModule_;
    bool richEditLoaded_ = false;
    std::wstring title_;
    EulaTexts texts_;
    std::string licenseText_;
    Callback onAccept_;
    Callback onCancel_;
    LinkOpener linkOpener_;
};

}  // namespace tessaryn
