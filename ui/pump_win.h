#pragma once

namespace tessaryn {

// Dispatches every message waiting in the calling thread's queue, then returns.
void pumpMessages();

}  // namespace tessaryn
