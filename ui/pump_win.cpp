#include "ui/pump_win.h"

#include <windows.h>

namespace tessaryn {

void pumpMessages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

void pumpFor(std::chrono::steady_clock::duration span) {
    const auto start = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - start < span) {
        pumpMessages();
        Sleep(10);
    }
}

}  // namespace tessaryn
