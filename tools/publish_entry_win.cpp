// Wide entry point, so that file names outside the ANSI code page arrive intact.
#include "system/unicode_win.h"
#include "tools/publish.h"

int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.push_back(tessaryn::toUtf8(argv[i]));
    return tessaryn::runPublish(args);
}
