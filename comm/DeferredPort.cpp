#include "DeferredPort.h"

#include <QByteArray>

#include <utility>

namespace krv::comm {

DeferredPort::DeferredPort(Maker make) : mMake(std::move(make)) {}

DeferredPort::~DeferredPort() = default;

PrinterPort &DeferredPort::port() {
    if (!mPort) {
        std::unique_ptr<PrinterPort> made = mMake();
        const std::lock_guard lock(mMutex);
        mPort = std::move(made);
        if (mAborted)
            mPort->abort();
    }
    return *mPort;
}

void DeferredPort::OpenPort() {
    port().OpenPort();
}

void DeferredPort::SendData(const QByteArray &data) {
    port().SendData(data);
}

// A port never made was never opened: nothing to close.
void DeferredPort::ClosePort() {
    if (mPort)
        mPort->ClosePort();
}

void DeferredPort::abort() {
    const std::lock_guard lock(mMutex);
    mAborted = true;
    if (mPort)
        mPort->abort();
}

std::unique_ptr<StatusLink> DeferredPort::statusLink() {
    return port().statusLink();
}

QString DeferredPort::noStatusReason() const {
    return mPort ? mPort->noStatusReason() : PrinterPort::noStatusReason();
}

} // namespace krv::comm
