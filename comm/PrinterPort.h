#pragma once

class QByteArray;

namespace krv::comm {

// What sending a job needs of a connection. Each call throws
// krv::RuntimeError when it fails.
class PrinterPort {
public:
    virtual ~PrinterPort() = default;
    virtual void OpenPort() = 0;
    // Printer data: every byte 0..255 goes out unchanged, in one call.
    virtual void SendData(const QByteArray &data) = 0;
    virtual void ClosePort() = 0;
};

} // namespace krv::comm
