#pragma once
// The run's texts as the Windows calls take them.
#include <string>

#include "app/ui_text.h"
#include "system/unicode_win.h"

namespace tessaryn {

inline std::wstring wideText(Text id) {
    return toWide(uiTexts()(id));
}

inline std::wstring wideText(Text id, const std::string& detail) {
    return toWide(uiTexts().fill(id, detail));
}

}  // namespace tessaryn
