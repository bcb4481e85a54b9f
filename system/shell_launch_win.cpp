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

#include <optional>
#include <thread>
#include <utility>

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

// The shell's ShellExecute: S_OK when it started the file, S_FALSE when it could not (a name it
// cannot find, say), an error when the call did not reach it.
HRESULT shellExecute(IShellDispatch2& shell, const std::wstring& file,
                     const std::wstring& directory) {
    TextVariant arguments(L"");
    TextVariant folder(directory);
    TextVariant operation(L"open");
    VARIANT show;
    VariantInit(&show);
    show.vt = VT_I4;
    show.lVal = SW_SHOWNORMAL;
    TextVariant name(file);
    if (!name.valid() || !arguments.valid() || !folder.valid() || !operation.valid())
        return E_OUTOFMEMORY;
    return shell.ShellExecute(name.text(), arguments.get(), folder.get(), operation.get(), show);
}

void logNotStarted(const std::wstring& file) {
    // Never from this process: it is elevated, and a program of the user can end the shell to
    // steer starts here.
    logLine("Not started (the desktop shell could not be reached): " + toUtf8(file));
}

}  // namespace

bool launchThroughDesktopShell(const std::wstring& file, const std::wstring& directory) {
    ComInit com;
    if (FAILED(com.result()) && com.result() != RPC_E_CHANGED_MODE) return false;
    try {
        ComPtr<IShellDispatch2> shell;
        return desktopShellDispatch(shell) && shellExecute(*shell.get(), file, directory) == S_OK;
    } catch (...) {
        return false;
    }
}

LaunchRoad launchAsUser(const std::wstring& file, const std::wstring& directory) {
    if (launchThroughDesktopShell(file, directory)) return LaunchRoad::DesktopShell;
    logNotStarted(file);
    return LaunchRoad::Failed;
}

PreparedLaunch::PreparedLaunch() {
    try {
        thread_ = std::thread([this] { run(); });
    } catch (...) {
        // No thread: launch() takes the whole way then.
    }
}

PreparedLaunch::~PreparedLaunch() {
    {
        std::lock_guard<WaitLock> lock(mutex_);
        quitting_ = true;
    }
    changed_.notifyAll();
    if (thread_.joinable()) thread_.join();
}

void PreparedLaunch::run() {
    // Its own apartment, which needs no message loop while the thread waits.
    const ComInit com(COINIT_MULTITHREADED);
    {
        ComPtr<IShellDispatch2> shell;
        try {
            if (SUCCEEDED(com.result())) (void)desktopShellDispatch(shell);
        } catch (...) {
        }
        std::unique_lock<WaitLock> lock(mutex_);
        changed_.wait(lock, [this] { return request_.has_value() || quitting_; });
        if (request_ && !quitting_) {
            const auto [file, directory] = *request_;
            lock.unlock();
            HRESULT result = shell ? shellExecute(*shell.get(), file, directory) : E_FAIL;
            // A shell that ended since it was reached (a new one may run): the whole way again.
            bool started = result == S_OK;
            if (FAILED(result)) started = launchThroughDesktopShell(file, directory);
            lock.lock();
            started_ = started;
            answered_ = true;
            changed_.notifyAll();
        }
    }
}

LaunchRoad PreparedLaunch::launch(const std::wstring& file, const std::wstring& directory) {
    std::unique_lock<WaitLock> lock(mutex_);
    if (!thread_.joinable() || request_) {
        lock.unlock();
        return launchAsUser(file, directory);
    }
    request_.emplace(file, directory);
    changed_.notifyAll();
    changed_.wait(lock, [this] { return answered_; });
    if (started_) return LaunchRoad::DesktopShell;
    logNotStarted(file);
    return LaunchRoad::Failed;
}

}  // namespace tessaryn
