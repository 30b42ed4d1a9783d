// A peer that takes TCP connections on 127.0.0.1 and never reads from or
// writes to them: a printer that stopped taking data, or a print scheduler
// that hangs. Prints "listening on 127.0.0.1:PORT" and holds every
// connection until it is stopped (SIGTERM) or its time runs out. When the
// other side closes a connection completely (a reset, or both directions
// shut), it prints "closed at SECONDS.MICROSECONDS" (the real-time clock,
// as bash's EPOCHREALTIME), so a test can time a close without polling.
//   silent_peer [PORT] [SECONDS]      (defaults: 0 = a free port, 300 s)
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

int main(int argc, char *argv[]) {
    const int port = argc > 1 ? std::atoi(argv[1]) : 0;
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 300;
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int yes = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        ::listen(listener, 16) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
        std::perror("silent_peer");
        return 2;
    }
    std::printf("listening on 127.0.0.1:%d\n", ntohs(address.sin_port));
    std::fflush(stdout);
    // Accepted and held, so the connection stays open on our side too.
    std::vector<int> held;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < end) {
        std::vector<pollfd> p{{listener, POLLIN, 0}};
        for (const int fd : held)
            p.push_back({fd, 0, 0}); // only hang-ups and errors, never data
        if (::poll(p.data(), p.size(), 100) <= 0)
            continue;
        for (std::size_t i = 1; i < p.size(); ++i) {
            if (!(p[i].revents & (POLLHUP | POLLERR)))
                continue;
            timespec now{};
            ::clock_gettime(CLOCK_REALTIME, &now);
            std::printf("closed at %lld.%06ld\n", static_cast<long long>(now.tv_sec),
                        now.tv_nsec / 1000);
            std::fflush(stdout);
            ::close(p[i].fd);
            held.erase(std::find(held.begin(), held.end(), p[i].fd));
        }
        if (p[0].revents & POLLIN) {
            const int connection = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (connection >= 0)
                held.push_back(connection);
        }
    }
    return 0;
}
