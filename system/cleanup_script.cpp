#include "system/cleanup_script.h"

namespace tessaryn {

std::string cleanupScriptText() {
    std::string text;
    text += "@echo off\r\n";
    text += "setlocal EnableExtensions EnableDelayedExpansion\r\n";
    text += "set tries=0\r\n";
    text += ":retry\r\n";
    text += "del /f /q \"!TESSARYN_PROGRAM!\" >nul 2>&1\r\n";
    text += "if not exist \"!TESSARYN_PROGRAM!\" goto removed\r\n";
    text += "set /a tries+=1\r\n";
    // Given up, the folder stays: by then an upgrading setup may have put a new one in its place.
    text += "if !tries! geq " + std::to_string(kCleanupDeleteTries) + " exit /b 1\r\n";
    text += "\"!TESSARYN_PING!\" -n 2 127.0.0.1 >nul\r\n";
    text += "goto retry\r\n";
    text += ":removed\r\n";
    text += "rmdir /s /q \"!TESSARYN_INSTALL_DIR!\"\r\n";
    return text;
}

}  // namespace tessaryn
