#include <windows.h>

#include "system/wait_lock.h"

namespace tessaryn {

// Both start as one null pointer (SRWLOCK_INIT, CONDITION_VARIABLE_INIT) and are never moved.
static_assert(sizeof(SRWLOCK) == sizeof(void*) && sizeof(CONDITION_VARIABLE) == sizeof(void*));

namespace {

PSRWLOCK srw(void** state) {
    return reinterpret_cast<PSRWLOCK>(state);
}

PCONDITION_VARIABLE condition(void** state) {
    return reinterpret_cast<PCONDITION_VARIABLE>(state);
}

}  // namespace

WaitLock::WaitLock() = default;
WaitLock::~WaitLock() = default;

void WaitLock::lock() noexcept {
    AcquireSRWLockExclusive(srw(&state_));
}

void WaitLock::unlock() noexcept {
    ReleaseSRWLockExclusive(srw(&state_));
}

WaitCondition::WaitCondition() = default;
WaitCondition::~WaitCondition() = default;

bool WaitCondition::waitFor(std::unique_lock<WaitLock>& lock,
                            std::chrono::milliseconds limit) noexcept {
    // INFINITE is one more than the longest finite wait.
    const auto count = limit.count() < 0 ? 0 : limit.count();
    const DWORD ms = count >= INFINITE ? INFINITE - 1 : static_cast<DWORD>(count);
    return SleepConditionVariableSRW(condition(&state_), srw(&lock.mutex()->state_), ms, 0) != 0;
}

void WaitCondition::wait(std::unique_lock<WaitLock>& lock) noexcept {
    (void)SleepConditionVariableSRW(condition(&state_), srw(&lock.mutex()->state_), INFINITE, 0);
}

void WaitCondition::notifyOne() noexcept {
    WakeConditionVariable(condition(&state_));
}

void WaitCondition::notifyAll() noexcept {
    WakeAllConditionVariable(condition(&state_));
}

}  // namespace tessaryn
