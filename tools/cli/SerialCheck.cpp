#include "Doctor.h"

#include "CommErrors.h"
#include "RuntimeError.h"
#include "SerialPort.h"

namespace krv::cli {

CheckReport checkSerial(const comm::SerialSettings &serial) {
    CheckReport report;
    if (serial.device.isEmpty()) {
        report.problems.push_back({Problem::IncompleteSettings,
                                   QStringLiteral("No serial device is set to print to."),
                                   QStringLiteral("Give one as --serial DEVICE[:SPEED], e.g. "
                                                  "--serial /dev/ttyUSB0:9600.")});
        return report;
    }
    comm::SerialPort port(serial);
    try {
        port.OpenPort();
        port.ClosePort();
    } catch (const RuntimeError &e) {
        report.problems.push_back({Problem::SerialOpenFailed, e.description(), QString()});
        return report;
    }
    report.passed.append(
        QStringLiteral("The serial device %1 opens (closed again without sending anything).")
            .arg(serial.device));
    return report;
}

} // namespace krv::cli
