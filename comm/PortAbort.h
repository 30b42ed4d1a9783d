#pragma once

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <mutex>

namespace krv::comm {

// Lets another thread cut a port's blocked wait short. Shutting a socket
// down wakes every poll, send and recv on it at once, which closing it from
// another thread would not. The port arms it with the descriptor it waits on
// and disarms it before closing that descriptor, so a late abort never
// reaches a descriptor the system has since handed out again. Once aborted it
// stays aborted: a port serves one job.
//
// The port's later close then resets the connection: data the printer has
// not taken is dropped instead of lingering in the system for minutes, and
// the printer learns that the job was broken off.
class SocketAbort {
public:
    void arm(int fd) {
        const std::lock_guard lock(mMutex);
        mFd = fd;
        if (mAborted)
            cut();
    }
    void disarm() {
        const std::lock_guard lock(mMutex);
        mFd = -1;
    }
    void abort() {
        const std::lock_guard lock(mMutex);
        mAborted = true;
        cut();
    }
    [[nodiscard]] bool aborted() const {
        const std::lock_guard lock(mMutex);
        return mAborted;
    }

private:
    void cut() {
        if (mFd < 0)
            return;
        const linger reset{1, 0};
        ::setsockopt(mFd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        ::shutdown(mFd, SHUT_RDWR);
    }

    mutable std::mutex mMutex;
    int mFd = -1;
    bool mAborted = false;
};

// The same for a descriptor that cannot be shut down like a socket (a
// device node, a serial line): abort() signals an eventfd that every wait
// polls beside the descriptor. Once aborted it stays aborted.
class WaitAbort {
public:
    WaitAbort() : mWake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
    ~WaitAbort() {
        if (mWake >= 0)
            ::close(mWake);
    }
    WaitAbort(const WaitAbort &) = delete;
    WaitAbort &operator=(const WaitAbort &) = delete;

    void abort() {
        mAborted = true;
        const std::uint64_t one = 1;
        if (mWake >= 0)
            (void)!::write(mWake, &one, sizeof one);
    }
    [[nodiscard]] bool aborted() const { return mAborted; }

    // poll() on `fd` for `events` and on the abort, at most `ms`; a negative
    // fd makes it a plain wait that an abort ends early. `revents` gets what
    // happened on fd.
    int wait(int fd, short events, int ms, short *revents = nullptr) const {
        pollfd pfd[2]{{fd, events, 0}, {mWake, POLLIN, 0}};
        const int ready = ::poll(pfd, mWake >= 0 ? 2 : 1, ms);
        if (revents)
            *revents = pfd[0].revents;
        return ready;
    }

private:
    int mWake;
    std::atomic<bool> mAborted = false;
};

} // namespace krv::comm
