#pragma once

#include "ConnectionSettings.h"
#include "PrinterPort.h"
#include "PrinterStatus.h"
#include "SendToPrinter.h"

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QString>

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>

class QThread;

namespace krv::comm {

// Where a send job stands.
enum class SendPhase { Waiting, Opening, Sending, Asking, Closing, Ended };

// How a send job ended.
struct SendOutcome {
    enum class Result { Sent, Failed, Cancelled };
    Result result = Result::Failed;
    int error = 0; // a Failed job's error number and description
    QString description;
    qint64 bytes = 0;      // the job's size
    qint64 handedOver = 0; // bytes handed to the connection; -1: some, how many is unknown
    SendPhase phase = SendPhase::Waiting; // the step it was in when it ended
    QDateTime endedAt;
    // What the printer said of itself after the job, for a job that was
    // sent and asked; nothing otherwise.
    std::optional<PrinterStatus> status;
};

// One conversation with the printer (open, send, ask how it is, close) on
// its own thread, so that nothing waits on the printer in the caller's
// thread. start() once; phaseChanged
// follows the steps; cancel() aborts the port, which ends a blocked step at
// once; finished comes exactly once, on the caller's thread, after the
// connection is closed.
class SendJob : public QObject {
    Q_OBJECT
public:
    SendJob(std::unique_ptr<PrinterPort> port, QByteArray data, QObject *parent = nullptr);
    SendJob(std::unique_ptr<PrinterPort> port, QByteArray data, AskStatus ask,
            QObject *parent = nullptr);
    // Cancels a job still running and waits for its thread.
    ~SendJob() override;

    void start();
    void cancel();
    [[nodiscard]] bool isRunning() const { return mRunning; }
    [[nodiscard]] qint64 size() const { return mData.size(); }

signals:
    void phaseChanged(krv::comm::SendPhase phase);
    void finished(const krv::comm::SendOutcome &outcome);

private:
    void run();
    void enter(SendPhase phase);

    std::mutex mPortMutex; // the worker drops the port while cancel() may use it
    std::unique_ptr<PrinterPort> mPort;
    const QByteArray mData;
    const AskStatus mAsk = AskStatus::Yes;
    std::unique_ptr<QThread> mThread;
    std::atomic<bool> mCancelled = false;
    std::atomic<SendPhase> mPhase = SendPhase::Waiting;
    bool mRunning = false;
};

// The connection as the operator knows it, e.g. "TCP/IP 192.168.1.50 port 9100".
[[nodiscard]] QString destinationText(const ConnectionSettings &connection);

// What happened to the bytes of a job that did not end well, in words.
[[nodiscard]] QString handedOverText(const SendOutcome &outcome);

} // namespace krv::comm
