// Recursive critical section with a scoped lock, as the filters and the job use them.
#pragma once

#include <mutex>

namespace platform {

class CriticalSection {
public:
    void Enter() { mutex_.lock(); }
    void Leave() { mutex_.unlock(); }
    std::recursive_mutex& Native() { return mutex_; }

private:
    std::recursive_mutex mutex_;
};

class AutoLock {
public:
    explicit AutoLock(CriticalSection& section) : section_(section) { section_.Enter(); }
    ~AutoLock() { section_.Leave(); }
    AutoLock(const AutoLock&) = delete;
    AutoLock& operator=(const AutoLock&) = delete;

private:
    CriticalSection& section_;
};

}  // namespace platform
