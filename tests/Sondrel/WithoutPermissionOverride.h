#pragma once

#include <filesystem>
#include <functional>
#include <thread>

#include <dirent.h>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace sondrel::test {

// Runs `body` on a thread of its own that has lost the capabilities letting root ignore file
// permissions, so that a folder with mode 000 is unreadable even when the tests run as root.
// Capabilities are per thread on Linux; the calling thread keeps its own. Returns whether
// `locked` really was unreadable on that thread; a test that relies on it skips otherwise.
inline bool runWithoutPermissionOverride(
    const std::filesystem::path& locked, const std::function<void()>& body)
{
    bool isLocked = false;
    std::thread worker([&] {
        __user_cap_header_struct header { _LINUX_CAPABILITY_VERSION_3, 0 };
        __user_cap_data_struct data[2] {};
        if (::syscall(SYS_capget, &header, data) == 0) {
            for (const unsigned capability :
                { unsigned { CAP_DAC_OVERRIDE }, unsigned { CAP_DAC_READ_SEARCH } })
                data[capability / 32].effective &= ~(1u << (capability % 32));
            ::syscall(SYS_capset, &header, data);
        }
        DIR* listing = ::opendir(locked.c_str());
        isLocked = listing == nullptr;
        if (listing)
            ::closedir(listing);
        body();
    });
    worker.join();
    return isLocked;
}

} // namespace sondrel::test
