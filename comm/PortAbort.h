#pragma once

#include <sys/socket.h>

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

} // namespace krv::comm
