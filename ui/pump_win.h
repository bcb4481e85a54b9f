#pragma once

#include <windows.h>

#include <chrono>

namespace tessaryn {

// Dispatches every message waiting in the calling thread's queue, then returns.
void pumpMessages();

// Keeps the thread's windows answering for a while: sleeps until a message comes or the time is
// up, and dispatches each message as it comes.
void pumpFor(std::chrono::steady_clock::duration span);

// Dispatches the thread's messages as they come until `event` is signalled (or was already), or,
// when a limit is given, until that time is up; true when the event is signalled.
bool pumpUntilSignalled(HANDLE event, DWORD limitMs = INFINITE);

}  // namespace tessaryn
