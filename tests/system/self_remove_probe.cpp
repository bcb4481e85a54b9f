// Stands in for the installed uninstaller: removes itself and the folder given as its argument.
#include <windows.h>

#include <shellapi.h>

#include "system/removal_win.h"
#include "system/unicode_win.h"

int main() {
    int count = 0;
    wchar_t** arguments = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (!arguments || count != 2) return 2;
    std::string folder = tessaryn::toUtf8(arguments[1]);
    ::LocalFree(arguments);
    tessaryn::selfRemove(folder);
}
