#include <condition_variable>

#include "system/wait_lock.h"

namespace tessaryn {

namespace {

std::mutex& mutexOf(void* state) {
    return *static_cast<std::mutex*>(state);
}

std::condition_variable_any& conditionOf(void* state) {
    return *static_cast<std::condition_variable_any*>(state);
}

}  // namespace

WaitLock::WaitLock() : state_(new std::mutex) {}
WaitLock::~WaitLock() {
    delete &mutexOf(state_);
}

void WaitLock::lock() noexcept {
    mutexOf(state_).lock();
}

void WaitLock::unlock() noexcept {
    mutexOf(state_).unlock();
}

WaitCondition::WaitCondition() : state_(new std::condition_variable_any) {}
WaitCondition::~WaitCondition() {
    delete &conditionOf(state_);
}

bool WaitCondition::waitFor(std::unique_lock<WaitLock>& lock,
                            std::chrono::milliseconds limit) noexcept {
    return conditionOf(state_).wait_for(lock, limit) == std::cv_status::no_timeout;
}

void WaitCondition::wait(std::unique_lock<WaitLock>& lock) noexcept {
    conditionOf(state_).wait(lock);
}

void WaitCondition::notifyOne() noexcept {
    conditionOf(state_).notify_one();
}

void WaitCondition::notifyAll() noexcept {
    conditionOf(state_).notify_all();
}

}  // namespace tessaryn
