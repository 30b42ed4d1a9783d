#include "Doctor.h"

#include "CommErrors.h"
#include "RuntimeError.h"
#include "SerialPort.h"

namespace krv::cli {

namespace {

const QString ListPorts = QStringLiteral(
    "\"ls /dev/ttyUSB* /dev/ttyACM* /dev/ttyS* /dev/rfcomm*\" lists the serial ports");

Finding openFailure(const RuntimeError &e, const QString &device) {
    namespace ce = comm::errors;
    switch (e.number()) {
    case ce::SerialMissing:
        return {Problem::SerialMissing,
                QStringLiteral("The serial device %1 does not exist.").arg(device),
                QStringLiteral("Plug in the printer or its USB serial adapter and switch it on; "
                               "%1 (a USB adapter's number can change when it is plugged in "
                               "again). For Bluetooth, bind the link first (\"rfcomm\").")
                    .arg(ListPorts)};
    case ce::SerialNotTerminal:
        return {Problem::SerialNotTerminal,
                QStringLiteral("%1 is not a serial port: the system does not know it as a "
                               "terminal.")
                    .arg(device),
                QStringLiteral("Give the serial device itself; %1.").arg(ListPorts)};
    case ce::SerialBusy:
        return {Problem::SerialBusy, e.description(),
                QStringLiteral("\"fuser -v %1\" shows the program that holds it; close it, or "
                               "stop the service (a terminal login on the port, a modem "
                               "manager) that keeps it open.")
                    .arg(device)};
    case ce::SerialNotPermitted:
        return {Problem::NotWritable, e.description(),
                QStringLiteral("Join the group that owns the device, as the description says, "
                               "or ask the administrator for a udev rule.")};
    case ce::SerialSettingRefused:
        return {Problem::SerialRefusesSettings, e.description(),
                QStringLiteral("Choose the speed, frame and flow control the printer is set to "
                               "(its self-test page shows them); 9600 8N1 without flow control "
                               "is the factory setting.")};
    default:
        return {Problem::SerialOpenFailed, e.description(),
                QStringLiteral("Unplug the adapter and plug it in again; \"dmesg\" shows what "
                               "the system says about the port.")};
    }
}

} // namespace

CheckReport checkSerial(const comm::SerialSettings &serial) {
    CheckReport report;
    const QString &device = serial.device;
    if (device.isEmpty()) {
        report.problems.push_back({Problem::IncompleteSettings,
                                   QStringLiteral("No serial device is set to print to."),
                                   QStringLiteral("Give one as --serial DEVICE[:SPEED], e.g. "
                                                  "--serial /dev/ttyUSB0:9600.")});
        return report;
    }
    // Existence and permission as for any device: the same words, the group
    // and how to join it.
    const PathFacts facts = gatherPathFacts(device);
    if (facts.exists && facts.isDevice) {
        report = diagnosePath(device, facts);
        if (!report.ok())
            return report;
    }
    comm::SerialPort port(serial);
    try {
        port.OpenPort();
        port.ClosePort();
    } catch (const RuntimeError &e) {
        report.problems.push_back(openFailure(e, device));
        return report;
    }
    report.passed.append(QStringLiteral("%1 is a serial port (a terminal).").arg(device));
    report.passed.append(QStringLiteral("No other program holds it: it opened for this program "
                                        "alone at %1 baud %2, flow control %3, and was closed "
                                        "again without sending anything.")
                             .arg(serial.speed)
                             .arg(comm::frameText(serial), comm::flowName(serial.flow)));
    return report;
}

} // namespace krv::cli
