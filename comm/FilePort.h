#pragma once

#include "PortAbort.h"
#include "PrinterPort.h"

#include <QString>

#include <chrono>

namespace krv::comm {

// Writes the job to a device node (a USB or parallel printer) as it is, or
// to a regular file that afterwards holds exactly that job. A regular file is
// written beside the target and renamed over it only when the whole job is
// in it, so a failed send leaves the previous file untouched rather than a
// truncated half job; a file this user may not write to is not replaced. A
// FIFO, socket or folder is refused.
class FilePort : public PrinterPort {
public:
    explicit FilePort(QString path,
                      std::chrono::milliseconds deviceTimeout = std::chrono::seconds(10));
    ~FilePort() override;

    void OpenPort() override;
    void SendData(const QByteArray &data) override;
    void ClosePort() override;
    // Wakes a write waiting on a device; the send then fails at once.
    void abort() override { mAbort.abort(); }
    // A device the system lets us read too answers over the same descriptor.
    [[nodiscard]] std::unique_ptr<StatusLink> statusLink() override;
    [[nodiscard]] QString noStatusReason() const override;

private:
    void discard();

    QString mPath;
    std::chrono::milliseconds mDeviceTimeout;
    QString mTarget;   // where the job ends up (symbolic links resolved)
    QString mTempPath; // the job being written, for a regular file
    int mFd = -1;
    bool mDevice = false;
    bool mReadable = false; // a device opened for reading as well
    bool mFailed = false;
    WaitAbort mAbort;
};

} // namespace krv::comm
