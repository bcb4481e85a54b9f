// Stands in for the installed uninstaller: removes itself and the folder given as its argument,
// from a clean-up script in a fresh private work folder.
#include <windows.h>

#include <shellapi.h>

#include "system/handles_win.h"
#include "system/private_folder_win.h"
#include "system/removal_win.h"
#include "system/unicode_win.h"

int main() {
    int count = 0;
    wchar_t** arguments = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    const tessaryn::LocalMemoryOf<wchar_t*> owned(arguments);
    if (!arguments || count != 2) return 2;
    const std::wstring folder = arguments[1];
    using namespace tessaryn;
    selfRemove(folder, createPrivateFolder(windowsTempFolder(), randomFolderName));
}
