#include "system/shell_launch_win.h"

#include <windows.h>
// After windows.h, which they build on.
#include <exdisp.h>
#include <oleauto.h>
#include <servprov.h>
#include <shellapi.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shlobj.h>

#include "system/handles_win.h"
#include "system/run_log.h"
#include "system/unicode_win.h"

namespace tessaryn {
namespace {

// A VARIANT holding a string it owns.
class TextVariant {
  public:
    explicit TextVariant(const std::wstring& text) noexcept {
        VariantInit(&value_);
        value_.vt = VT_BSTR;
        value_.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    }
    TextVariant(const TextVariant&) = delete;
    TextVariant& operator=(const TextVariant&) = delete;
    ~TextVariant() { VariantClear(&value_); }
    bool valid() const noexcept { return value_.bstrVal != nullptr; }
    const VARIANT& get() const noexcept { return value_; }
    BSTR text() const noexcept { return value_.bstrVal; }

  private:
    VARIANT value_;
};

// The desktop's shell folder view, reached through its window's browser, hands out the shell's
// own dispatch object; a ShellExecute on it runs inside the shell, with the user's rights.
bool desktopShellDispatch(ComPtr<IShellDispatch2>& shell) {
    ComPtr<IShellWindows> windows;
    if (FAILED(CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER,
                                IID_IShellWindows, windows.putVoid())))
        return false;
    VARIANT location;
    VARIANT root;
    VariantInit(&location);
    VariantInit(&root);
    long desktopWindow = 0;
    ComPtr<IDispatch> desktop;
    if (windows->FindWindowSW(&location, &root, SWC_DESKTOP, &desktopWindow, SWFO_NEEDDISPATCH,
                              desktop.put()) != S_OK ||
        !desktop)
        return false;
    ComPtr<IServiceProvider> provider;
    if (FAILED(desktop->QueryInterface(IID_IServiceProvider, provider.putVoid()))) return false;
    ComPtr<IShellBrowser> browser;
    if (FAILED(provider->QueryService(SID_STopLevelBrowser, IID_IShellBrowser,
                                      browser.putVoid())))
        return false;
    ComPtr<IShellView> view;
    if (FAILED(browser->QueryActiveShellView(view.put())) || !view) return false;
    ComPtr<IDispatch> background;
    if (FAILED(view->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, background.putVoid())))
        return false;
    ComPtr<IShellFolderViewDual> folderView;
    if (FAILED(background->QueryInterface(IID_IShellFolderViewDual, folderView.putVoid())))
        return false;
    ComPtr<IDispatch> application;
    if (FAILED(folderView->get_Application(application.put())) || !application) return false;
    return SUCCEEDED(application->QueryInterface(IID_IShellDispatch2, shell.putVoid())) &&
           shell;
}

}  // namespace

bool launchThroughDesktopShell(const std::wstring& file, const std::wstring& directory) {
    ComInit com;
    if (FAILED(com.result()) && com.result() != RPC_E_CHANGED_MODE) return false;
    try {
        ComPtr<IShellDispatch2> shell;
        if (!desktopShellDispatch(shell)) return false;
        TextVariant arguments(L"");
        TextVariant folder(directory);
        TextVariant operation(L"open");
        VARIANT show;
        VariantInit(&show);
        show.vt = VT_I4;
        show.lVal = SW_SHOWNORMAL;
        TextVariant name(file);
        if (!name.valid() || !arguments.valid() || !folder.valid() || !operation.valid())
            return false;
        // S_FALSE: the shell could not start it (a name it cannot find, say).
        return shell->ShellExecute(name.text(), arguments.get(), folder.get(), operation.get(),
                                   show) == S_OK;
    } catch (...) {
        return false;
    }
}

LaunchRoad launchAsUser(const std::wstring& file, const std::wstring& directory) {
    if (launchThroughDesktopShell(file, directory)) return LaunchRoad::DesktopShell;
    // Never from this process: it is elevated, and a program of the user can end the shell to
    // steer starts here.
    logLine("Not started (the desktop shell could not be reached): " + toUtf8(file));
    return LaunchRoad::Failed;
}

}  // namespace tessaryn
