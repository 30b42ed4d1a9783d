#include "QueueLookup.h"

#include "SpoolerPort.h"

#include <cups/cups.h>

#include <mutex>
#include <thread>

namespace krv::comm {

// What the lookup thread shares with its owner: the owner clears itself
// under the lock when it goes, so a late result is never posted to it.
struct QueueLookup::Mailbox {
    std::mutex mutex;
    QueueLookup *owner = nullptr;
};

QueueListing listSpoolerQueues(std::chrono::milliseconds bound) {
    const double seconds = double(bound.count()) / 1000.0;
    QueueListing listing;
    http_t *http = nullptr;
    try {
        http = connectToSpooler(seconds);
    } catch (const RuntimeError &error) {
        listing.error = error.number();
        listing.description = error.description();
        return listing;
    }
    try {
        requireSpoolerAnswer(http, seconds);
    } catch (const RuntimeError &error) {
        httpClose(http);
        listing.error = error.number();
        listing.description = error.description();
        return listing;
    }
    if (cups_dest_t *dest = cupsGetNamedDest(http, nullptr, nullptr)) {
        listing.defaultQueue = QString::fromUtf8(dest->name);
        cupsFreeDests(1, dest);
    }
    listing.queues = queueNames(http);
    if (listing.queues.isEmpty() && spoolerSilent(http)) {
        const RuntimeError error = spoolerNoAnswer(seconds);
        listing.error = error.number();
        listing.description = error.description();
    }
    httpClose(http);
    return listing;
}

QueueLookup::QueueLookup(QObject *parent, std::chrono::milliseconds bound)
    : QObject(parent), mBound(bound) {
    mDeadline.setSingleShot(true);
    connect(&mDeadline, &QTimer::timeout, this, [this] {
        const RuntimeError error = spoolerNoAnswer(double(mBound.count()) / 1000.0);
        deliver(mRun, QueueListing{{}, {}, error.number(), error.description()});
    });
}

QueueLookup::~QueueLookup() {
    if (mMailbox) {
        const std::lock_guard lock(mMailbox->mutex);
        mMailbox->owner = nullptr;
    }
}

void QueueLookup::start() {
    if (mPending)
        return;
    mPending = true;
    const quint64 run = ++mRun;
    if (!mMailbox) {
        mMailbox = std::make_shared<Mailbox>();
        mMailbox->owner = this;
    }
    std::thread([mailbox = mMailbox, run, bound = mBound] {
        const QueueListing listing = listSpoolerQueues(bound);
        const std::lock_guard lock(mailbox->mutex);
        if (QueueLookup *owner = mailbox->owner)
            QMetaObject::invokeMethod(
                owner, [owner, run, listing] { owner->deliver(run, listing); },
                Qt::QueuedConnection);
    }).detach();
    mDeadline.start(mBound);
}

void QueueLookup::deliver(quint64 run, const QueueListing &listing) {
    if (!mPending || run != mRun)
        return; // already answered by the deadline, or an earlier run
    mPending = false;
    mDeadline.stop();
    emit finished(listing);
}

} // namespace krv::comm
