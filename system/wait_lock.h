#pragma once
// A lock and a condition to wait on, for the threads that unpack files and report on them.
// On Windows they are the system's slim reader/writer lock and condition variable, which wait
// without a round trip to the system's object manager (under Wine: without its server), where
// the threads library's mutex and condition variable go through kernel objects on every wait;
// the unpacking waits and wakes thousands of times.
#include <chrono>
#include <mutex>

namespace tessaryn {

class WaitLock {
  public:
    WaitLock();
    ~WaitLock();
    WaitLock(const WaitLock&) = delete;
    WaitLock& operator=(const WaitLock&) = delete;

    void lock() noexcept;
    void unlock() noexcept;

  private:
    friend class WaitCondition;
    void* state_ = nullptr;  // the system's lock where it is one pointer wide; else ours
};

class WaitCondition {
  public:
    WaitCondition();
    ~WaitCondition();
    WaitCondition(const WaitCondition&) = delete;
    WaitCondition& operator=(const WaitCondition&) = delete;

    // Waits, the lock released meanwhile, until woken (or for no reason: callers check what
    // they wait for), or until `limit` has passed (false then).
    bool waitFor(std::unique_lock<WaitLock>& lock, std::chrono::milliseconds limit) noexcept;
    void wait(std::unique_lock<WaitLock>& lock) noexcept;

    template <typename Ready>
    void wait(std::unique_lock<WaitLock>& lock, Ready ready) {
        while (!ready()) wait(lock);
    }
    // True when `ready` holds, false when the time ran out first.
    template <typename Ready>
    bool waitFor(std::unique_lock<WaitLock>& lock, std::chrono::milliseconds limit, Ready ready) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (!ready()) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now());
            if (left.count() <= 0) return false;
            waitFor(lock, left);
        }
        return true;
    }

    void notifyOne() noexcept;
    void notifyAll() noexcept;

  private:
    void* state_ = nullptr;
};

}  // namespace tessaryn
