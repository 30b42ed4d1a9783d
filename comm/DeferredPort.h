#pragma once

#include "PrinterPort.h"

#include <functional>
#include <memory>
#include <mutex>

namespace krv::comm {

// A port made only when it is first used, on the thread that uses it: a
// connection library loaded for it then loads on the send job's thread, not
// on the thread that chose the connection. Every call passes through.
class DeferredPort : public PrinterPort {
public:
    using Maker = std::function<std::unique_ptr<PrinterPort>()>;
    explicit DeferredPort(Maker make);
    ~DeferredPort() override;

    void OpenPort() override;
    void SendData(const QByteArray &data) override;
    void ClosePort() override;
    void abort() override;
    [[nodiscard]] std::unique_ptr<StatusLink> statusLink() override;
    [[nodiscard]] QString noStatusReason() const override;

private:
    PrinterPort &port();

    Maker mMake;
    std::mutex mMutex; // abort() comes from another thread
    std::unique_ptr<PrinterPort> mPort;
    bool mAborted = false;
};

} // namespace krv::comm
