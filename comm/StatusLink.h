#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QDeadlineTimer>

namespace krv::comm {

// What asking for the status needs of an open connection. Both calls throw
// krv::RuntimeError when the connection fails.
class StatusLink {
public:
    virtual ~StatusLink() = default;
    // Writes every byte before the deadline; false when the deadline passed
    // first (a printer that takes nothing is not a broken connection).
    [[nodiscard]] virtual bool write(QByteArrayView bytes, const QDeadlineTimer &deadline) = 0;
    // What has arrived, waiting until the deadline for at least one byte:
    // empty when it passed. `ended` is set when nothing more will come from
    // a device that cannot be read; a connection the printer closes throws.
    virtual QByteArray read(const QDeadlineTimer &deadline, bool *ended) = 0;
};

} // namespace krv::comm
