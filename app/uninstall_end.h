#pragma once
// How an uninstall ends once it has tried to remove the product's shortcuts and its record.
#include <string>
#include <vector>

#include "app/run_outcome.h"
#include "app/ui_text.h"

namespace tessaryn {

// `recordError` is the system's reason when the uninstall record could not be deleted (empty
// when it is gone): the product then stays, with its uninstaller, so that a second try can
// finish. A shortcut that could not be removed does not stop the uninstall, as the record goes
// with the product and a later run would find nothing to remove; it is named to the user.
RunEnd uninstallEnd(const std::string& recordError, const std::vector<std::string>& shortcutsLeft,
                    const UiTexts& texts = UiTexts());

}  // namespace tessaryn
