#include "QueueLookup.h"

#include "CommErrors.h"
#include "ConnectionLibraries.h"

#include <mutex>
#include <optional>
#include <thread>

namespace krv::comm {

// What the lookup thread shares with its owner: the owner clears itself
// under the lock when it goes, so a late result is never posted to it.
struct QueueLookup::Mailbox {
    std::mutex mutex;
    QueueLookup *owner = nullptr;
    // How the deadline words a silent scheduler; the spooler's library
    // names it, and is loaded only on the lookup thread.
    std::optional<RuntimeError> noAnswer;
};

QueueLookup::QueueLookup(QObject *parent, std::chrono::milliseconds bound)
    : QObject(parent), mBound(bound) {
    mDeadline.setSingleShot(true);
    connect(&mDeadline, &QTimer::timeout, this, [this] {
        std::optional<RuntimeError> error;
        {
            const std::lock_guard lock(mMailbox->mutex);
            error = mMailbox->noAnswer;
        }
        if (!error)
            error = RuntimeError(errors::SpoolerNoAnswer,
                                 QStringLiteral("The print spooler did not answer within %1 s.")
                                     .arg(double(mBound.count()) / 1000.0));
        deliver(mRun, QueueListing{{}, {}, error->number(), error->description()});
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
        QueueListing listing;
        try {
            const SpoolerLibrary &spooler = spoolerLibrary();
            {
                const RuntimeError noAnswer = spooler.noAnswer(double(bound.count()) / 1000.0);
                const std::lock_guard lock(mailbox->mutex);
                mailbox->noAnswer = noAnswer;
            }
            listing = spooler.listQueues(bound);
        } catch (const RuntimeError &error) {
            listing.error = error.number();
            listing.description = error.description();
        }
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
