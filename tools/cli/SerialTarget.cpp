#include "SerialTarget.h"

#include "CliErrors.h"
#include "Digits.h"
#include "Quote.h"
#include "RuntimeError.h"

#include <QStringList>

#include <limits>

namespace krv::cli {

using namespace krv::profile;

namespace {

[[noreturn]] void bad(const QString &text, const QString &why) {
    throw RuntimeError(errors::BadArgument,
                       QStringLiteral("%1: %2 (the form is DEVICE[:SPEED[,FRAME[,FLOW]]], e.g. "
                                      "/dev/ttyUSB0:38400,8N1,rtscts).")
                           .arg(quoted(text), why));
}

qint32 speedValue(const QString &text, const QString &whole) {
    const std::optional<qint64> speed = digitsValue(text, std::numeric_limits<qint32>::max());
    if (!speed || *speed < 1)
        bad(whole,
            QStringLiteral("the speed %1 is not a number of baud such as 9600").arg(quoted(text)));
    return qint32(*speed);
}

} // namespace

comm::ConnectionSettings parseSerialTarget(const QString &text) {
    comm::ConnectionSettings target;
    target.kind = comm::ConnectionSettings::Kind::Serial;
    QString device = text.trimmed();
    const qsizetype colon = device.lastIndexOf(QLatin1Char(':'));
    const QString tail = colon < 0 ? QString() : device.mid(colon + 1);
    if (colon >= 0 && !tail.contains(QLatin1Char('/')) && !tail.contains(QLatin1Char('.'))) {
        device.truncate(colon);
        const QStringList parts = tail.split(QLatin1Char(','));
        if (parts.size() > 3)
            bad(text, QStringLiteral("%1 has more than SPEED,FRAME,FLOW").arg(quoted(tail)));
        target.serial.speed = speedValue(parts[0], text);
        if (parts.size() > 1 && !comm::parseFrame(parts[1], target.serial))
            bad(text, QStringLiteral("the frame %1 is not data bits 7 or 8, parity N, E or O "
                                     "and stop bits 1 or 2, such as 8N1")
                          .arg(quoted(parts[1])));
        if (parts.size() > 2) {
            const auto flow = comm::parseFlow(parts[2]);
            if (!flow)
                bad(text, QStringLiteral("the flow control %1 is not none, rtscts or xonxoff")
                              .arg(quoted(parts[2])));
            target.serial.flow = *flow;
        }
    }
    if (device.isEmpty())
        bad(text, QStringLiteral("the device is missing"));
    target.serial.device = device;
    return target;
}

} // namespace krv::cli
