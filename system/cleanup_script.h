#pragma once
// The batch script with which the uninstaller removes itself and its folder after it has ended.
#include <string>

namespace tessaryn {

// The script's text with CR LF line ends. It takes every path from an environment variable
// (TESSARYN_PROGRAM, TESSARYN_INSTALL_DIR, and TESSARYN_PING for the system's ping.exe), never
// from its own text, and reads them by delayed expansion ("!NAME!"), whose values cmd takes
// literally inside quotes, whatever "%", "^" or "&" they hold and whatever the console code page.
// It deletes the program's file (retrying a bounded number of times, a second apart, while the
// program still ends), then the installation folder; when the file outlasts every try, the folder
// stays. Whoever starts it removes its folder after.
std::string cleanupScriptText();

// How often the script tries to delete the program's file before it gives up. An upgrading setup
// waits longer than that for the old folder to go before it moves it aside, so that a script still
// at work never removes the new installation.
inline constexpr int kCleanupDeleteTries = 20;

}  // namespace tessaryn
