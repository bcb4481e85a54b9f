#include "ui/pump_win.h"

namespace tessaryn {

namespace {

// Waits for the event (when given) or for a message that arrives after the queue was last
// looked at; true when the event is signalled.
bool waitForEventOrMessage(HANDLE event, DWORD milliseconds) {
    const DWORD count = event ? 1 : 0;
    const DWORD result = MsgWaitForMultipleObjectsEx(count, event ? &event : nullptr, milliseconds,
                                                     QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    return event && result == WAIT_OBJECT_0;
}

}  // namespace

void pumpMessages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

void pumpFor(std::chrono::steady_clock::duration span) {
    using namespace std::chrono;
    const auto end = steady_clock::now() + span;
    for (;;) {
        pumpMessages();
        const auto left = ceil<milliseconds>(end - steady_clock::now()).count();
        if (left <= 0) return;
        waitForEventOrMessage(nullptr, static_cast<DWORD>(left));
    }
}

bool pumpUntilSignalled(HANDLE event, DWORD limitMs) {
    const ULONGLONG start = GetTickCount64();
    for (;;) {
        pumpMessages();
        DWORD wait = INFINITE;
        if (limitMs != INFINITE) {
            const ULONGLONG spent = GetTickCount64() - start;
            if (spent >= limitMs) return false;
            wait = static_cast<DWORD>(limitMs - spent);
        }
        if (waitForEventOrMessage(event, wait)) {
            // Reports that came with the end are still shown.
            pumpMessages();
            return true;
        }
    }
}

}  // namespace tessaryn
