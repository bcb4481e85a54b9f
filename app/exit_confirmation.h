#pragma once

namespace tessaryn {

// Asks whether to leave setup at the license window; true when the user answers Yes.
bool confirmExitSetup();

}  // namespace tessaryn
