#pragma once

namespace tessaryn {

// True when the user's app theme is dark: "AppsUseLightTheme" is 0, missing or unreadable.
bool isDarkModeEnabled();

}  // namespace tessaryn
