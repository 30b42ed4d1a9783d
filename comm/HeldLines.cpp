#include "HeldLines.h"

#include "PortAbort.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <fcntl.h>
#include <mutex>
#include <thread>
#include <unistd.h>
#include <vector>

namespace krv::comm::held_lines {

namespace {

std::mutex gMutex;
std::condition_variable gReleased;
std::vector<WaitAbort *> gHeld;
bool gStopping = false;

int gWake[2] = {-1, -1};
std::atomic<int> gSignal = 0;
std::atomic<int> gStopFd = -1;

// Only what is safe in a handler: the first signal wakes the watcher, a
// second one ends the program at once.
void onSignal(int number) {
    const int saved = errno;
    int none = 0;
    if (!gSignal.compare_exchange_strong(none, number)) {
        ::signal(number, SIG_DFL);
        ::raise(number);
    }
    const char byte = 1;
    (void)!::write(gWake[1], &byte, 1);
    errno = saved;
}

void watch() {
    char byte = 0;
    while (::read(gWake[0], &byte, 1) < 0 && errno == EINTR) {
    }
    {
        std::unique_lock lock(gMutex);
        gStopping = true;
        for (WaitAbort *abort : gHeld)
            abort->abort();
        // A port blocked somewhere no abort reaches must not keep the
        // program from ending.
        gReleased.wait_for(lock, std::chrono::seconds(3), [] { return gHeld.empty(); });
    }
    const int number = gSignal.load();
    if (const int fd = gStopFd.load(); fd >= 0) {
        const char byte = char(number);
        while (::write(fd, &byte, 1) < 0 && errno == EINTR) {
        }
        return;
    }
    ::signal(number, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, number);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    ::kill(::getpid(), number);
}

} // namespace

bool enter(WaitAbort *abort) {
    const std::lock_guard lock(gMutex);
    if (gStopping)
        return false;
    gHeld.push_back(abort);
    return true;
}

void leave(WaitAbort *abort) {
    const std::lock_guard lock(gMutex);
    const auto found = std::find(gHeld.begin(), gHeld.end(), abort);
    if (found == gHeld.end())
        return;
    gHeld.erase(found);
    if (gHeld.empty())
        gReleased.notify_all();
}

void stopThrough(int fd) {
    gStopFd.store(fd);
}

bool stopOnSignals() {
    if (::pipe2(gWake, O_CLOEXEC) != 0)
        return false;
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    if (::sigaction(SIGINT, &action, nullptr) != 0 || ::sigaction(SIGTERM, &action, nullptr) != 0)
        return false;
    std::thread(watch).detach();
    return true;
}

} // namespace krv::comm::held_lines
