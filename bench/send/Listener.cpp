#include "Listener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

namespace krv::bench {

Listener::Listener() {
    mListenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (mListenFd < 0)
        throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0; // any free port
    socklen_t length = sizeof address;
    if (::bind(mListenFd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        ::listen(mListenFd, 4) != 0 ||
        ::getsockname(mListenFd, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
        const std::string reason = std::strerror(errno);
        ::close(mListenFd);
        throw std::runtime_error("listening on 127.0.0.1: " + reason);
    }
    mPort = ntohs(address.sin_port);
    mThread = std::thread([this] { serve(); });
}

Listener::~Listener() {
    {
        const std::lock_guard lock(mMutex);
        mStopping = true;
    }
    // Wakes the blocked accept().
    ::shutdown(mListenFd, SHUT_RDWR);
    mThread.join();
    ::close(mListenFd);
}

void Listener::serve() {
    for (;;) {
        const int connection = ::accept4(mListenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            return; // shut down
        }
        Job job;
        char buffer[4096];
        int requests = 0; // the status requests after the job, answered "ready"
        for (;;) {
            const ssize_t n = ::recv(connection, buffer, sizeof buffer, 0);
            if (n > 0) {
                const Clock::time_point now = Clock::now();
                job.bytes.append(buffer, qsizetype(n));
                const qsizetype size = job.bytes.size();
                if (size >= 3 && job.bytes[size - 3] == '\x10' && job.bytes[size - 2] == '\x04' &&
                    job.bytes[size - 1] >= 1 && job.bytes[size - 1] <= 4) {
                    const char ready = 0x12;
                    (void)!::send(connection, &ready, 1, MSG_NOSIGNAL);
                    ++requests;
                } else {
                    job.lastByte = now;
                }
            } else if (n == 0 || errno != EINTR) {
                break;
            }
        }
        job.bytes.chop(3 * requests);
        // Closing confirms to the sender that everything was read.
        ::close(connection);
        {
            const std::lock_guard lock(mMutex);
            if (mStopping)
                return;
            mJobs.push_back(std::move(job));
        }
        mJobDone.notify_one();
    }
}

std::optional<Listener::Job> Listener::takeJob(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mMutex);
    if (!mJobDone.wait_for(lock, timeout, [this] { return !mJobs.empty(); }))
        return std::nullopt;
    Job job = std::move(mJobs.front());
    mJobs.pop_front();
    return job;
}

} // namespace krv::bench
