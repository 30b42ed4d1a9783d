#include "Fleet.h"

#include "CliErrors.h"
#include "CommErrors.h"
#include "RuntimeError.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QHostAddress>

#include <netdb.h>
#include <sys/socket.h>

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <functional>
#include <limits>
#include <map>
#include <mutex>
#include <new>
#include <optional>
#include <queue>
#include <system_error>
#include <thread>

namespace krv::cli {

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t None = std::numeric_limits<std::size_t>::max();

// The address a numeric host stands for, as the system reads it when it
// connects (127.1, 0x7f.0.0.1, 2130706433 and ::ffff:127.0.0.1 are all
// 127.0.0.1); never a name look-up. A host name stays as it is written.
QString hostIdentity(const QString &host) {
    const QString trimmed = host.trimmed();
    if (trimmed.contains(QChar(0)))
        return trimmed.toLower();
    addrinfo hints{};
    hints.ai_flags = AI_NUMERICHOST;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    if (::getaddrinfo(trimmed.toLatin1().constData(), nullptr, &hints, &found) != 0 || !found)
        return trimmed.toLower();
    QHostAddress address(found->ai_addr);
    ::freeaddrinfo(found);
    bool mapped = false;
    const quint32 v4 = address.toIPv4Address(&mapped);
    if (mapped)
        address = QHostAddress(v4);
    return address.toString();
}

Attempt tryOnce(const std::function<Attempt(const comm::ConnectionSettings &)> &perTarget,
                const comm::ConnectionSettings &target) {
    Attempt attempt;
    try {
        return perTarget(target);
    } catch (const RuntimeError &e) {
        attempt.errorNumber = e.number();
        attempt.description = e.description();
    } catch (const std::bad_alloc &) {
        attempt.errorNumber = errors::JobFailedUnexpectedly;
        attempt.description = QStringLiteral("Out of memory while serving this printer.");
    } catch (const std::exception &e) {
        attempt.errorNumber = errors::JobFailedUnexpectedly;
        attempt.description = QStringLiteral("Internal error while serving this printer: %1.")
                                  .arg(QString::fromLocal8Bit(e.what()));
    }
    // Nothing says whether bytes went out, so it is never tried again.
    attempt.bytes = -1;
    return attempt;
}

// Everything the workers and the caller share, under one mutex.
class Fleet {
public:
    Fleet(const std::vector<comm::ConnectionSettings> &targets, const FleetOptions &options,
          const std::function<Attempt(const comm::ConnectionSettings &)> &perTarget,
          const std::function<void(const FleetResult &, std::chrono::milliseconds)> &onRetry)
        : mTargets(targets), mOptions(options), mPerTarget(perTarget), mOnRetry(onRetry),
          mNextOfSamePrinter(targets.size(), None),
          // Results finished ahead of the one being printed wait here; the
          // bound keeps a slow first printer from making us hold them all.
          mWindow(std::max<std::size_t>(256, 4 * std::size_t(std::max(1, options.jobs)))) {
        // Each printer's targets form a chain in list order; only the head of
        // a chain may start, and its end lets the next one of the chain start.
        QHash<QString, std::size_t> later;
        for (std::size_t i = targets.size(); i-- > 0;) {
            const QString identity = printerIdentity(targets[i]);
            const auto found = later.constFind(identity);
            if (found != later.constEnd())
                mNextOfSamePrinter[i] = *found;
            later.insert(identity, i);
        }
        for (const std::size_t head : std::as_const(later))
            mReady.push(head);
    }

    void work() {
        std::unique_lock lock(mMutex);
        for (;;) {
            mChanged.wait(lock, [this] {
                return mStop || mStarted == mTargets.size() ||
                       (!mReady.empty() && mReady.top() < mCursor + mWindow);
            });
            if (mStop || mStarted == mTargets.size())
                return;
            const std::size_t index = mReady.top();
            mReady.pop();
            ++mStarted;
            mWasStarted[index] = true;
            lock.unlock();
            FleetResult result = serve(index);
            lock.lock();
            if (mNextOfSamePrinter[index] != None)
                mReady.push(mNextOfSamePrinter[index]);
            // Out of descriptors, every further printer would fail the same
            // way for a reason that is not theirs: none is started.
            if (result.last.errorNumber == comm::errors::LocalLimit && !mLocalLimit) {
                mLocalLimit = result.last;
                mStop = true;
            }
            mFinished.emplace(index, std::move(result));
            mChanged.notify_all();
        }
    }

    // The caller's side: the results in list order.
    // The caller's side: the results in list order. When this computer ran
    // out of descriptors, the printers that met that limit or were never
    // started are not reported one by one; the limit is, once, at the end,
    // after every printer that was served.
    void deliver(const std::function<void(const FleetResult &)> &onResult, FleetSummary &summary) {
        std::size_t unserved = 0;
        for (std::size_t i = 0; i < mTargets.size(); ++i) {
            std::unique_lock lock(mMutex);
            mChanged.wait(lock, [this, i] {
                return mFinished.count(i) > 0 || (mLocalLimit && !mWasStarted[i]);
            });
            auto node = mFinished.extract(i);
            mCursor = i + 1;
            mChanged.notify_all();
            lock.unlock();
            if (node.empty() || node.mapped().last.errorNumber == comm::errors::LocalLimit) {
                ++unserved;
                continue;
            }
            ++(node.mapped().last.ok ? summary.ok : summary.failed);
            onResult(node.mapped());
        }
        if (unserved > 0)
            throw RuntimeError(comm::errors::LocalLimit,
                               QStringLiteral("%1 %2 of %3 printers were not served. Serve fewer "
                                              "at once (--jobs) or raise the limit of open files "
                                              "(\"ulimit -n\").")
                                   .arg(mLocalLimit->description)
                                   .arg(unserved)
                                   .arg(mTargets.size()));
    }

    void stop() {
        const std::lock_guard lock(mMutex);
        mStop = true;
        mChanged.notify_all();
    }

private:
    FleetResult serve(std::size_t index) {
        FleetResult result;
        result.index = index;
        result.target = &mTargets[index];
        const Clock::time_point start = Clock::now();
        std::chrono::milliseconds wait = mOptions.retryWait;
        for (;;) {
            ++result.tries;
            result.last = tryOnce(mPerTarget, *result.target);
            result.milliseconds =
                std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
            if (result.last.ok || result.tries > mOptions.retry || !mayRetry(result.last))
                break;
            if (mOnRetry)
                mOnRetry(result, wait);
            std::unique_lock lock(mMutex);
            if (mChanged.wait_for(lock, wait, [this] { return mStop; }))
                break;
            wait = std::min(wait * 2, MaxRetryWait);
        }
        result.milliseconds =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
        return result;
    }

    const std::vector<comm::ConnectionSettings> &mTargets;
    const FleetOptions &mOptions;
    const std::function<Attempt(const comm::ConnectionSettings &)> &mPerTarget;
    const std::function<void(const FleetResult &, std::chrono::milliseconds)> &mOnRetry;
    std::vector<std::size_t> mNextOfSamePrinter;
    const std::size_t mWindow;

    std::mutex mMutex;
    std::condition_variable mChanged;
    std::priority_queue<std::size_t, std::vector<std::size_t>, std::greater<>> mReady;
    std::map<std::size_t, FleetResult> mFinished;
    std::size_t mStarted = 0;
    std::vector<bool> mWasStarted = std::vector<bool>(mTargets.size());
    std::optional<Attempt> mLocalLimit; // the first try that met it
    std::size_t mCursor = 0;            // the next result to deliver
    bool mStop = false;
};

} // namespace

bool mayRetry(const Attempt &attempt) {
    return !attempt.ok && attempt.bytes == 0 &&
           (attempt.errorNumber == comm::errors::TcpConnectionRefused ||
            attempt.errorNumber == comm::errors::TcpConnectTimeout ||
            attempt.errorNumber == comm::errors::SerialBusy);
}

QString printerIdentity(const comm::ConnectionSettings &target) {
    using Kind = comm::ConnectionSettings::Kind;
    if (target.kind == Kind::Tcp)
        return QStringLiteral("tcp %1 %2").arg(hostIdentity(target.host)).arg(target.port);
    if (target.kind == Kind::Spooler)
        return QStringLiteral("queue %1").arg(target.queue.toLower());
    // Files and devices, by whatever name or link they are reached.
    // A stored connection keeps the other kinds' fields, so the kind decides.
    const QFileInfo info(target.kind == Kind::Serial ? target.serial.device : target.path);
    const QString canonical = info.canonicalFilePath();
    return QStringLiteral("device ") +
           (canonical.isEmpty() ? QDir::cleanPath(info.absoluteFilePath()) : canonical);
}

FleetSummary
runFleet(const std::vector<comm::ConnectionSettings> &targets, const FleetOptions &options,
         const std::function<Attempt(const comm::ConnectionSettings &)> &perTarget,
         const std::function<void(const FleetResult &)> &onResult,
         const std::function<void(const FleetResult &, std::chrono::milliseconds)> &onRetry) {
    FleetSummary summary;
    if (targets.empty())
        return summary;
    Fleet fleet(targets, options, perTarget, onRetry);
    std::vector<std::jthread> workers;
    const std::size_t count = std::min(targets.size(), std::size_t(std::max(1, options.jobs)));
    workers.reserve(count);
    try {
        for (std::size_t i = 0; i < count; ++i)
            workers.emplace_back([&fleet] { fleet.work(); });
    } catch (const std::system_error &) {
        // Fewer threads than asked for still serve every printer.
        if (workers.empty())
            throw RuntimeError(errors::NoWorkerThreads,
                               QStringLiteral("The system would not start a thread to serve "
                                              "the printers."));
    }
    try {
        fleet.deliver(onResult, summary);
    } catch (...) {
        fleet.stop();
        throw; // the workers are joined on the way out
    }
    return summary;
}

} // namespace krv::cli
