#include "system/cleanup_script.h"

namespace tessaryn {

std::string cleanupScriptText(const std::string& programPath, const std::string& installDir) {
    std::string text;
    text += "@echo off\r\n";
    text += ":loop\r\n";
    text += "del \"" + programPath + "\"\r\n";
    // The program may still be running when the script starts: retry until its file is gone.
    text += "if exist \"" + programPath + "\" goto loop\r\n";
    text += "rmdir /s /q \"" + installDir + "\"\r\n";
    text += "del \"%~f0\"\r\n";
    return text;
}

}  // namespace tessaryn
