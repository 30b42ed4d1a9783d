// krv-bench-responsive: how the window fares while a printer never reads.
//
//   krv-bench-responsive [--seconds N] [--runs N]
//
// 1. A job of 64 MiB to a printer on 127.0.0.1 that accepts and never reads,
//    with a write bound of N seconds (default 20), run the way the window
//    runs its sends (SendJob under JobProgress, progress window shown):
//    the longest gap between two 5-ms timer ticks on the window's thread,
//    less the 5 ms, is the longest event-loop stall. The same is measured
//    first for as long on the idle window, which shows what the machine
//    itself (other processes taking the CPUs) does to the timer.
//      result stall seconds=S ticks=T longest_stall_ms=... p99_gap_ms=...
//             idle_longest_stall_ms=... idle_p99_gap_ms=...
// 2. --runs times (default 20) "Test Print" by the window's own handler to
//    such a printer, cancelled once the progress is up: the time from
//    cancel() to the printer seeing the connection closed (reset), and to
//    the window having the outcome.
//      result cancel runs=N closed_ms_median=... closed_ms_p90=... closed_ms_max=...
//             reported_ms_median=... reported_ms_max=...
// Exits 1 when something does not behave (no job, no close seen).
#include "JobProgress.h"
#include "Stats.h"
#include "TcpPort.h"
#include "frmMain.h"

#include "ConnectionSettings.h"
#include "VelaComm.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using krv::bench::parseCount;

double msSince(Clock::time_point start, Clock::time_point end) {
    return std::chrono::duration<double, std::milli>(end - start).count();
}

// Accepts and never reads; notes when each connection is closed by the
// sender (reset or both ends shut), which a peer sees as POLLHUP/POLLERR.
class DeafPrinter {
public:
    DeafPrinter() {
        mListen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t n = sizeof a;
        if (::bind(mListen, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 ||
            ::listen(mListen, 8) != 0 ||
            ::getsockname(mListen, reinterpret_cast<sockaddr *>(&a), &n) != 0)
            throw std::runtime_error("cannot listen on 127.0.0.1");
        mPort = ntohs(a.sin_port);
        mThread = std::thread([this] { serve(); });
    }
    ~DeafPrinter() {
        mStop = true;
        mThread.join();
        ::close(mListen);
    }
    [[nodiscard]] quint16 port() const { return mPort; }
    [[nodiscard]] int closed() {
        const std::lock_guard lock(mMutex);
        return int(mClosed.size());
    }
    [[nodiscard]] Clock::time_point closedAt(int i) {
        const std::lock_guard lock(mMutex);
        return mClosed[std::size_t(i)];
    }

private:
    void serve() {
        std::vector<int> open;
        while (!mStop) {
            std::vector<pollfd> p{{mListen, POLLIN, 0}};
            for (int fd : open)
                p.push_back({fd, POLLRDHUP, 0});
            if (::poll(p.data(), p.size(), 5) <= 0)
                continue;
            if (p[0].revents & POLLIN)
                open.push_back(::accept4(mListen, nullptr, nullptr, SOCK_CLOEXEC));
            for (std::size_t i = 1; i < p.size(); ++i)
                if (p[i].revents & (POLLHUP | POLLERR)) {
                    const std::lock_guard lock(mMutex);
                    mClosed.push_back(Clock::now());
                    ::close(p[i].fd);
                    std::erase(open, p[i].fd);
                }
        }
        for (int fd : open)
            ::close(fd);
    }

    int mListen = -1;
    quint16 mPort = 0;
    std::thread mThread;
    std::atomic<bool> mStop = false;
    std::mutex mMutex;
    std::vector<Clock::time_point> mClosed;
};

void waitUntil(const std::function<bool()> &done, int ms, const char *what) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > ms)
            throw std::runtime_error(std::string("timed out waiting for ") + what);
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    }
}

// Gaps between the ticks of a precise 5-ms timer on this thread until
// `done` holds.
std::vector<double> tickGaps(QObject *context, const std::function<bool()> &done, int limitMs) {
    std::vector<double> gaps;
    Clock::time_point last = Clock::now();
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, context, [&] {
        const Clock::time_point now = Clock::now();
        gaps.push_back(msSince(last, now));
        last = now;
    });
    tick.start(5);
    last = Clock::now();
    waitUntil(done, limitMs, "the measured time to end");
    return gaps;
}

int stall(krv::app::frmMain &window, DeafPrinter &printer, int seconds) {
    using namespace std::chrono;
    krv::comm::TcpPort::Timeouts bounds;
    bounds.write = duration_cast<milliseconds>(std::chrono::seconds(seconds));
    auto port =
        std::make_unique<krv::comm::TcpPort>(QStringLiteral("127.0.0.1"), printer.port(), bounds);
    auto job =
        std::make_unique<krv::comm::SendJob>(std::move(port), QByteArray(64 * 1024 * 1024, '\x55'));
    krv::app::JobProgress progress(&window, std::move(job), QStringLiteral("64 MiB"),
                                   QStringLiteral("a printer that never reads"));
    bool ended = false;
    QObject::connect(&progress, &krv::app::JobProgress::finished, &window,
                     [&ended](const krv::comm::SendOutcome &) { ended = true; });

    QElapsedTimer idle;
    idle.start();
    const std::vector<double> idleGaps = tickGaps(
        &window, [&idle, seconds] { return idle.elapsed() >= seconds * 1000; }, seconds * 2000);

    const Clock::time_point start = Clock::now();
    progress.start();
    const std::vector<double> gaps = tickGaps(
        &window, [&ended] { return ended; }, (seconds + 30) * 1000);
    const double took = msSince(start, Clock::now()) / 1000.0;
    const krv::bench::Summary s = krv::bench::summarise(gaps);
    const krv::bench::Summary i = krv::bench::summarise(idleGaps);
    std::printf("result stall seconds=%.1f ticks=%zu longest_stall_ms=%.2f p99_gap_ms=%.2f "
                "median_gap_ms=%.2f idle_longest_stall_ms=%.2f idle_p99_gap_ms=%.2f\n",
                took, s.count, s.max - 5.0, krv::bench::quantile(gaps, 0.99), s.median, i.max - 5.0,
                krv::bench::quantile(idleGaps, 0.99));
    return 0;
}

int cancel(krv::app::frmMain &window, DeafPrinter &printer, int runs) {
    krv::comm::ConnectionSettings connection;
    connection.kind = krv::comm::ConnectionSettings::Kind::Tcp;
    connection.host = QStringLiteral("127.0.0.1");
    connection.port = printer.port();
    window.VelaComm1()->setSettings(connection);
    std::vector<double> closed, reported;
    for (int run = 0; run < runs; ++run) {
        const int before = printer.closed();
        window.butTestPrint_Click();
        waitUntil(
            [&window] {
                return window.runningJob() && window.runningJob()->dialog() &&
                       window.runningJob()->dialog()->isVisible();
            },
            5000, "the progress window");
        const Clock::time_point start = Clock::now();
        window.runningJob()->cancel();
        waitUntil([&] { return !window.runningJob(); }, 5000, "the cancelled job to end");
        const Clock::time_point ended = Clock::now();
        waitUntil([&] { return printer.closed() > before; }, 5000, "the printer to see the close");
        closed.push_back(msSince(start, printer.closedAt(before)));
        reported.push_back(msSince(start, ended));
        std::printf("run %d %.2f %.2f\n", run + 1, closed.back(), reported.back());
    }
    const krv::bench::Summary c = krv::bench::summarise(closed);
    const krv::bench::Summary r = krv::bench::summarise(reported);
    std::printf(
        "result cancel runs=%zu closed_ms_median=%.2f closed_ms_p90=%.2f closed_ms_max=%.2f "
        "reported_ms_median=%.2f reported_ms_max=%.2f\n",
        c.count, c.median, krv::bench::quantile(closed, 0.9), c.max, r.median, r.max);
    return 0;
}

} // namespace

int main(int argc, char *argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The window stores its connection on close, never in the operator's own
    // configuration.
    const QTemporaryDir configHome;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(configHome.path()));
    QApplication application(argc, argv);
    int seconds = 20;
    int runs = 20;
    for (int i = 1; i < argc; ++i) {
        const bool value = i + 1 < argc;
        if (std::strcmp(argv[i], "--seconds") == 0 && value && parseCount(argv[i + 1], 1, seconds))
            ++i;
        else if (std::strcmp(argv[i], "--runs") == 0 && value && parseCount(argv[i + 1], 1, runs))
            ++i;
        else {
            std::fprintf(stderr, "usage: krv-bench-responsive [--seconds N] [--runs N]\n");
            return 2;
        }
    }
    try {
        DeafPrinter printer;
        krv::app::frmMain window;
        window.Form_Load();
        window.showCentred();
        QCoreApplication::processEvents();
        stall(window, printer, seconds);
        cancel(window, printer, runs);
        window.close();
    } catch (const std::exception &error) {
        std::fprintf(stderr, "krv-bench-responsive: %s\n", error.what());
        return 1;
    }
    return 0;
}
