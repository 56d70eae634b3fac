// Test helper: makes file permissions bind the calling thread even when it runs as root, by
// lowering the thread's capabilities that override them (CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH)
// for the helper's lifetime. They stay permitted, so they are raised again at the end.
#pragma once

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace testing_support {

class PermissionsBind {
public:
    PermissionsBind() {
        if (!Get(saved_)) return;
        __user_cap_data_struct lowered[2] = {saved_[0], saved_[1]};
        lowered[0].effective &= ~(CapBit(CAP_DAC_OVERRIDE) | CapBit(CAP_DAC_READ_SEARCH));
        lowered_ = Set(lowered);
        __user_cap_data_struct now[2];
        binding_ = Get(now) && (now[0].effective & (CapBit(CAP_DAC_OVERRIDE) | CapBit(CAP_DAC_READ_SEARCH))) == 0;
    }
    ~PermissionsBind() {
        if (lowered_) Set(saved_);
    }
    PermissionsBind(const PermissionsBind&) = delete;
    PermissionsBind& operator=(const PermissionsBind&) = delete;

    // False where the thread's capabilities could not be read or lowered.
    bool Binding() const { return binding_; }

private:
    static unsigned CapBit(int capability) { return 1u << capability; }
    // The raw calls change this thread only, unlike the C library's process-wide wrappers.
    static bool Get(__user_cap_data_struct (&data)[2]) {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        return ::syscall(SYS_capget, &header, data) == 0;
    }
    static bool Set(__user_cap_data_struct (&data)[2]) {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        return ::syscall(SYS_capset, &header, data) == 0;
    }

    __user_cap_data_struct saved_[2] = {};
    bool lowered_ = false;
    bool binding_ = false;
};

}  // namespace testing_support
