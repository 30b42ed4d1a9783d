// krv-bench-status: what asking for the printer's status adds to "check" of a
// ready printer on 127.0.0.1, and to a confirmed download. Each run times a
// whole check (connect, status, close), on a connection of its own the
// status query alone (the four requests and answers, which is what the check
// adds), and the longest download once without the question and once with
// it, in turns.
//
//   krv-bench-status [--runs N] [--warmup N] [--port N]
//
// With --port it asks a printer already listening on 127.0.0.1:N (the
// virtual printer, krv520-sim --status ready); without, a stand-in on a
// thread of its own that answers every request with a ready byte.
//
// Prints one line per run ("run N CHECK_US QUERY_US PLAIN_US ASKED_US"), then
//   result status runs=N check_us_median=... query_us_median=... (q1, q3, p90, max)
//          job_plain_us_median=... job_asked_us_median=... asking_adds_us_median=...
// Exits 1 when a check finds a problem or the printer does not report ready.
#include "Stats.h"

#include "Doctor.h"
#include "LongestSelection.h"
#include "RuntimeError.h"
#include "SendToPrinter.h"
#include "StatusQuery.h"
#include "TcpPort.h"

#include <QCoreApplication>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double microseconds(Clock::duration d) {
    return std::chrono::duration<double, std::micro>(d).count();
}

// A ready printer: one connection after another, each DLE EOT n answered
// with 0x12 (only the fixed bits set).
class ReadyPrinter {
public:
    ReadyPrinter() {
        mFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (mFd < 0 || ::bind(mFd, reinterpret_cast<sockaddr *>(&address), length) != 0 ||
            ::listen(mFd, 8) != 0 ||
            ::getsockname(mFd, reinterpret_cast<sockaddr *>(&address), &length) != 0)
            throw std::runtime_error("cannot listen on 127.0.0.1");
        mPort = ntohs(address.sin_port);
        mThread = std::thread([this] { serve(); });
    }
    ~ReadyPrinter() {
        mStop = true;
        mThread.join();
        ::close(mFd);
    }
    [[nodiscard]] quint16 port() const { return mPort; }

private:
    void serve() {
        while (!mStop) {
            pollfd p{mFd, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            const int peer = ::accept4(mFd, nullptr, nullptr, SOCK_CLOEXEC);
            if (peer < 0)
                continue;
            int seen = 0; // bytes of a request so far
            char buffer[256];
            for (ssize_t n; (n = ::read(peer, buffer, sizeof buffer)) > 0;) {
                for (ssize_t i = 0; i < n; ++i) {
                    const char c = buffer[i];
                    if (seen == 2 && c >= 1 && c <= 4) {
                        const char ready = 0x12;
                        (void)!::write(peer, &ready, 1);
                    }
                    seen = c == 0x10 ? 1 : (seen == 1 && c == 0x04) ? 2 : 0;
                }
            }
            ::close(peer);
        }
    }

    int mFd = -1;
    quint16 mPort = 0;
    std::atomic<bool> mStop = false;
    std::thread mThread;
};

int measure(int runs, int warmup, quint16 port) {
    std::vector<double> checks, queries, plainJobs, askedJobs, added;
    const QByteArray batch = krv::settings::makeSettingsBatch(krv::bench::longestSelection());
    for (int i = 0; i < warmup + runs; ++i) {
        const Clock::time_point start = Clock::now();
        const krv::cli::CheckReport report = krv::cli::checkTcp(QStringLiteral("127.0.0.1"), port);
        const Clock::time_point checked = Clock::now();
        if (!report.ok() || !report.passed.join(' ').contains(QLatin1String("ready"))) {
            std::fprintf(stderr, "check did not find a ready printer:\n%s",
                         qPrintable(krv::cli::formatReport(report)));
            return 1;
        }

        // Closed before the download: a printer serves one connection at a time.
        auto connection = std::make_unique<krv::comm::TcpPort>(QStringLiteral("127.0.0.1"), port);
        connection->OpenPort();
        krv::comm::DescriptorLink link(connection->descriptor(), QStringLiteral("the printer"));
        const Clock::time_point asked = Clock::now();
        const krv::comm::PrinterStatus status = krv::comm::queryStatus(link);
        const Clock::time_point answered = Clock::now();
        connection.reset();
        if (!status.ready()) {
            std::fprintf(stderr, "the printer is not ready: %s\n",
                         qPrintable(krv::comm::describeStatus(status)));
            return 1;
        }
        // The same download without and with the question, in turns, so a
        // drift of the machine does not side with either.
        double jobUs[2] = {};
        for (int k = 0; k < 2; ++k) {
            const bool ask = (k + i) % 2 == 1;
            krv::comm::TcpPort printer(QStringLiteral("127.0.0.1"), port);
            const Clock::time_point begun = Clock::now();
            const auto said = krv::comm::talkToPrinter(
                printer, batch, ask ? krv::comm::AskStatus::Yes : krv::comm::AskStatus::No);
            jobUs[ask ? 1 : 0] = microseconds(Clock::now() - begun);
            if (ask && !(said && said->ready())) {
                std::fprintf(stderr, "the printer was not ready after the download: %s\n",
                             said ? qPrintable(krv::comm::describeStatus(*said)) : "not asked");
                return 1;
            }
        }
        if (i < warmup)
            continue;
        checks.push_back(microseconds(checked - start));
        queries.push_back(microseconds(answered - asked));
        plainJobs.push_back(jobUs[0]);
        askedJobs.push_back(jobUs[1]);
        added.push_back(jobUs[1] - jobUs[0]);
        std::printf("run %d %.1f %.1f %.1f %.1f\n", i - warmup + 1, checks.back(), queries.back(),
                    jobUs[0], jobUs[1]);
    }
    const krv::bench::Summary check = krv::bench::summarise(checks);
    const krv::bench::Summary query = krv::bench::summarise(queries);
    std::printf("result status runs=%d check_us_median=%.1f query_us_median=%.1f "
                "query_us_q1=%.1f query_us_q3=%.1f query_us_p90=%.1f query_us_max=%.1f "
                "job_plain_us_median=%.1f job_asked_us_median=%.1f asking_adds_us_median=%.1f\n",
                runs, check.median, query.median, query.q1, query.q3,
                krv::bench::quantile(queries, 0.9), query.max,
                krv::bench::summarise(plainJobs).median, krv::bench::summarise(askedJobs).median,
                krv::bench::summarise(added).median);
    return 0;
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    int runs = 200, warmup = 10, port = 0;
    for (int i = 1; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (hasValue && std::strcmp(argv[i], "--runs") == 0 &&
            krv::bench::parseCount(argv[i + 1], 1, runs)) {
            ++i;
        } else if (hasValue && std::strcmp(argv[i], "--warmup") == 0 &&
                   krv::bench::parseCount(argv[i + 1], 0, warmup)) {
            ++i;
        } else if (hasValue && std::strcmp(argv[i], "--port") == 0 &&
                   krv::bench::parseCount(argv[i + 1], 1, port) && port <= 65535) {
            ++i;
        } else {
            std::fprintf(stderr, "usage: krv-bench-status [--runs N] [--warmup N] [--port N]\n");
            return 2;
        }
    }
    try {
        if (port != 0)
            return measure(runs, warmup, quint16(port));
        const ReadyPrinter printer;
        return measure(runs, warmup, printer.port());
    } catch (const krv::RuntimeError &e) {
        std::fprintf(stderr, "krv-bench-status: error %d: %s\n", e.number(),
                     qPrintable(e.description()));
    } catch (const std::exception &e) {
        std::fprintf(stderr, "krv-bench-status: %s\n", e.what());
    }
    return 1;
}
