#pragma once

#include "QueueListing.h"

#include <QObject>
#include <QTimer>

#include <chrono>
#include <memory>

namespace krv::comm {

// Lists the spooler's queues on a thread of its own, bounded in time.
// libcups calls cannot be interrupted, so the thread is never waited for: a
// scheduler that does not answer in time is reported when the bound runs
// out, the thread's late result is dropped, and the program may end while
// the thread is still blocked.
class QueueLookup : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds DefaultBound{5000};

    explicit QueueLookup(QObject *parent = nullptr, std::chrono::milliseconds bound = DefaultBound);
    ~QueueLookup() override;

    // Starts a lookup unless one is pending.
    void start();
    [[nodiscard]] bool pending() const { return mPending; }

signals:
    // Once per start(), on this object's thread.
    void finished(const krv::comm::QueueListing &listing);

public:
    struct Mailbox; // shared with the lookup threads

private:
    void deliver(quint64 run, const QueueListing &listing);

    const std::chrono::milliseconds mBound;
    std::shared_ptr<Mailbox> mMailbox;
    QTimer mDeadline;
    quint64 mRun = 0;
    bool mPending = false;
};

// The listing itself, blocking for up to about twice `bound` (in the
// spooler's library).
[[nodiscard]] QueueListing listSpoolerQueues(std::chrono::milliseconds bound);

} // namespace krv::comm
