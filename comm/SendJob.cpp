#include "SendJob.h"

#include "RuntimeError.h"

#include <QThread>

#include <functional>
#include <new>
#include <utility>

namespace krv::comm {

namespace {

// Passes each call on and says which step is starting, so the job can tell
// where it stands without touching SendToPrinter's order of calls.
class StepReporter : public PrinterPort {
public:
    StepReporter(PrinterPort &port, std::function<void(SendPhase)> enter)
        : mPort(port), mEnter(std::move(enter)) {}
    void OpenPort() override {
        mEnter(SendPhase::Opening);
        mPort.OpenPort();
    }
    void SendData(const QByteArray &data) override {
        mEnter(SendPhase::Sending);
        mPort.SendData(data);
        mSent = true;
    }
    std::unique_ptr<StatusLink> statusLink() override {
        mEnter(SendPhase::Asking);
        return mPort.statusLink();
    }
    QString noStatusReason() const override { return mPort.noStatusReason(); }
    // After a failed step this is only the clean-up, not a step of its own.
    void ClosePort() override {
        if (mSent)
            mEnter(SendPhase::Closing);
        mPort.ClosePort();
    }
    [[nodiscard]] bool sent() const { return mSent; }

private:
    PrinterPort &mPort;
    std::function<void(SendPhase)> mEnter;
    bool mSent = false;
};

} // namespace

SendJob::SendJob(std::unique_ptr<PrinterPort> port, QByteArray data, QObject *parent)
    : SendJob(std::move(port), std::move(data), AskStatus::Yes, parent) {}

SendJob::SendJob(std::unique_ptr<PrinterPort> port, QByteArray data, AskStatus ask, QObject *parent)
    : QObject(parent), mPort(std::move(port)), mData(std::move(data)), mAsk(ask) {}

SendJob::~SendJob() {
    cancel();
    if (mThread)
        mThread->wait();
}

void SendJob::start() {
    if (mThread)
        return;
    mRunning = true;
    // A QThread, not a bare thread: the sockets a port makes there need its
    // event dispatcher.
    mThread.reset(QThread::create([this] { run(); }));
    mThread->start();
}

void SendJob::cancel() {
    mCancelled = true;
    const std::lock_guard lock(mPortMutex);
    if (mPort)
        mPort->abort();
}

void SendJob::enter(SendPhase phase) {
    mPhase = phase;
    QMetaObject::invokeMethod(
        this, [this, phase] { emit phaseChanged(phase); }, Qt::QueuedConnection);
}

// The worker thread.
void SendJob::run() {
    SendOutcome outcome;
    outcome.bytes = mData.size();
    StepReporter steps(*mPort, [this](SendPhase phase) { enter(phase); });
    try {
        if (mCancelled)
            throw RuntimeError(0, QString());
        outcome.status = talkToPrinter(steps, mData, mAsk);
        outcome.result = SendOutcome::Result::Sent;
    } catch (const RuntimeError &error) {
        outcome.error = error.number();
        outcome.description = error.description();
    } catch (const std::bad_alloc &) {
        outcome.error = 7;
        outcome.description = QStringLiteral("Out of memory");
    } catch (const std::exception &error) {
        outcome.error = 51;
        outcome.description =
            QStringLiteral("Internal error: %1").arg(QString::fromLocal8Bit(error.what()));
    }
    outcome.phase = mPhase;
    outcome.handedOver = steps.sent() ? mData.size() : mPhase == SendPhase::Sending ? -1 : 0;
    // An abort can make a step look successful (a shut-down socket reads as
    // the printer's end of data), so a cancelled job is never called sent.
    if (mCancelled) {
        outcome.result = SendOutcome::Result::Cancelled;
        outcome.status.reset();
    }
    {
        // Closed and gone before anyone hears of the outcome.
        const std::lock_guard lock(mPortMutex);
        mPort.reset();
    }
    outcome.endedAt = QDateTime::currentDateTime();
    QMetaObject::invokeMethod(
        this,
        [this, outcome] {
            mRunning = false;
            emit phaseChanged(SendPhase::Ended);
            emit finished(outcome);
        },
        Qt::QueuedConnection);
}

QString destinationText(const ConnectionSettings &connection) {
    switch (connection.kind) {
    case ConnectionSettings::Kind::Tcp:
        return QStringLiteral("TCP/IP %1 port %2").arg(connection.host).arg(connection.port);
    case ConnectionSettings::Kind::File:
        return QStringLiteral("file %1").arg(connection.path);
    case ConnectionSettings::Kind::Serial:
        return QStringLiteral("serial port %1").arg(connection.serial.device);
    case ConnectionSettings::Kind::Spooler:
        break;
    }
    return connection.queue.isEmpty() ? QStringLiteral("the print spooler's default queue")
                                      : QStringLiteral("print queue \"%1\"").arg(connection.queue);
}

QString handedOverText(const SendOutcome &outcome) {
    if (outcome.handedOver < 0)
        return QStringLiteral("part of the %1 bytes had been handed over; the printer may "
                              "have received some of them")
            .arg(outcome.bytes);
    if (outcome.handedOver == 0)
        return QStringLiteral("none of the %1 bytes had been handed over").arg(outcome.bytes);
    if (outcome.phase == SendPhase::Closing)
        return QStringLiteral("all %1 bytes had been handed over, but the printer had not "
                              "confirmed them")
            .arg(outcome.bytes);
    return QStringLiteral("all %1 bytes had been handed over").arg(outcome.bytes);
}

} // namespace krv::comm
