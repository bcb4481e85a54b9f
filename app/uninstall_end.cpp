#include "app/uninstall_end.h"

namespace tessaryn {

RunEnd uninstallEnd(const std::string& recordError, const std::vector<std::string>& shortcutsLeft,
                    const UiTexts& texts) {
    if (!recordError.empty()) return {Outcome::UninstallIncomplete, recordError};
    std::string detail;
    if (!shortcutsLeft.empty()) detail = texts(Text::outcome_shortcuts_left);
    for (const std::string& shortcut : shortcutsLeft) detail += "\n" + shortcut;
    return {Outcome::UninstallCompleted, detail};
}

}  // namespace tessaryn
