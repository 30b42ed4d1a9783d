#include "QueueLookup.h"

#include "CommErrors.h"
#include "ConnectionLibraries.h"

#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

namespace krv::comm {

// What the lookup thread shares with its owner: the owner clears itself
// under the lock when it goes, so a late result is never posted to it.
struct QueueLookup::Mailbox {
    std::mutex mutex;
    QueueLookup *owner = nullptr;
    // While the thread loads the spooler's library: a program that ends in
    // the middle of that (its libraries' constructors running in one thread,
    // their destructors in the other) can abort.
    bool loading = false;
    std::condition_variable loaded;
    // How the deadline words a silent scheduler; the spooler's library
    // names it, and is loaded only on the lookup thread.
    std::optional<RuntimeError> noAnswer;
};

namespace {

// Ends the loading phase however it ends.
class LoadingDone {
public:
    explicit LoadingDone(QueueLookup::Mailbox &mailbox) : mMailbox(mailbox) {}
    ~LoadingDone() {
        const std::lock_guard lock(mMailbox.mutex);
        mMailbox.loading = false;
        mMailbox.loaded.notify_all();
    }

private:
    QueueLookup::Mailbox &mMailbox;
};

} // namespace

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
        std::unique_lock lock(mMailbox->mutex);
        mMailbox->owner = nullptr;
        // Loading takes milliseconds; the bound is for a disk that hangs.
        mMailbox->loaded.wait_for(lock, std::chrono::seconds(2),
                                  [this] { return !mMailbox->loading; });
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
    {
        const std::lock_guard lock(mMailbox->mutex);
        mMailbox->loading = true;
    }
    std::thread([mailbox = mMailbox, run, bound = mBound] {
        QueueListing listing;
        try {
            const SpoolerLibrary *spooler = nullptr;
            {
                const LoadingDone done(*mailbox);
                spooler = &spoolerLibrary();
                const RuntimeError noAnswer = spooler->noAnswer(double(bound.count()) / 1000.0);
                const std::lock_guard lock(mailbox->mutex);
                mailbox->noAnswer = noAnswer;
            }
            listing = spooler->listQueues(bound);
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
