#pragma once

#include <chrono>

namespace tessaryn {

// Dispatches every message waiting in the calling thread's queue, then returns.
void pumpMessages();

// Keeps the thread's windows answering for a while: drains the queue every 10 ms.
void pumpFor(std::chrono::steady_clock::duration span);

}  // namespace tessaryn
