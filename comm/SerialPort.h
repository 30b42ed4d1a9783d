#pragma once

#include "PortAbort.h"
#include "PrinterPort.h"
#include "SerialSettings.h"

#include <QByteArray>
#include <QDeadlineTimer>

#include <chrono>
#include <memory>

class QSerialPort;

namespace krv::comm {

// A printer on a serial line: an RS-232 port, a USB serial adapter or a
// Bluetooth link (/dev/rfcomm0). The device is held exclusively while open,
// with the speed, frame and flow control the printer was set to; a job that
// flow control holds back fails after a bound instead of stalling for good.
// Like the other ports it is used by one thread at a time, which need not
// run an event loop.
class SerialPort : public PrinterPort {
public:
    struct Timeouts {
        // How long the line may take no data at all, while sending and while
        // the close waits for the output to leave. A bound on progress, not
        // on the whole job: a long job at 1200 baud takes minutes.
        std::chrono::milliseconds write{10000};
    };

    explicit SerialPort(SerialSettings settings);
    SerialPort(SerialSettings settings, Timeouts timeouts);
    ~SerialPort() override;

    void OpenPort() override;
    void SendData(const QByteArray &data) override;
    // Waits for the output to leave the computer, then closes.
    void ClosePort() override;
    // Wakes a write or a wait for the output; the call then fails at once.
    void abort() override { mAbort.abort(); }
    // The printer answers over the same line, through the port's own reads
    // and writes, which keep its lock and line set-up.
    [[nodiscard]] std::unique_ptr<StatusLink> statusLink() override;

    // What the printer has sent: waits up to `wait` for a first byte, then
    // takes every byte that has arrived. Empty when nothing came; throws
    // (SerialReadFailed) when the line hangs up.
    [[nodiscard]] QByteArray readAvailable(std::chrono::milliseconds wait);
    // Writes `data` before `deadline`, whatever flow control does: false when
    // the deadline or an abort came first. What was left is dropped at the
    // close. Throws when the write fails.
    [[nodiscard]] bool writeWithin(const QByteArray &data, const QDeadlineTimer &deadline);

private:
    void closeDevice(bool discardOutput);
    void drainOutput();
    // Bytes of `data` not written when the write ended: done, aborted, or
    // `deadline` passed (moved on by each byte taken when `extend` is set).
    qsizetype writeUntil(const QByteArray &data, QDeadlineTimer deadline,
                         std::chrono::milliseconds extend);
    [[nodiscard]] qsizetype queuedOutput() const;

    SerialSettings mSettings;
    Timeouts mTimeouts;
    std::unique_ptr<QSerialPort> mPort;
    int mFd = -1;
    bool mFailed = false;
    bool mHeld = false; // listed among the lines a signal lets go first
    WaitAbort mAbort;
};

} // namespace krv::comm
