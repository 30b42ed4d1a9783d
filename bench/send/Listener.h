#pragma once

#include <QByteArray>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>

namespace krv::bench {

// A printer stand-in on 127.0.0.1 that notes when each job's last byte came
// in, and answers the status requests after a job as a ready printer (they
// are not part of the job). It runs on its own thread so that the time is
// taken the moment the bytes arrive, whatever the sender's thread is doing.
class Listener {
public:
    using Clock = std::chrono::steady_clock;
    struct Job {
        QByteArray bytes;
        Clock::time_point lastByte;
    };

    Listener(); // throws std::runtime_error when it cannot listen
    ~Listener();
    Listener(const Listener &) = delete;
    Listener &operator=(const Listener &) = delete;

    [[nodiscard]] std::uint16_t port() const { return mPort; }
    // The next finished job (the sender closed its side), or nothing after `timeout`.
    [[nodiscard]] std::optional<Job> takeJob(std::chrono::milliseconds timeout);

private:
    void serve();

    int mListenFd = -1;
    std::uint16_t mPort = 0;
    std::mutex mMutex;
    std::condition_variable mJobDone;
    std::deque<Job> mJobs;
    bool mStopping = false;
    std::thread mThread;
};

} // namespace krv::bench
