#pragma once

#include <QString>

#include <optional>

namespace krv::comm {

// How a serial line is set up: the device and its speed, frame and flow
// control. Printers of this class leave the factory at 9600 8N1 with no flow
// control, so those are the defaults.
struct SerialSettings {
    enum class Parity { None, Even, Odd };
    enum class Flow { None, RtsCts, XonXoff };
    QString device; // /dev/ttyS0, /dev/ttyUSB0, /dev/rfcomm0, ...
    qint32 speed = 9600;
    int dataBits = 8; // 7 or 8
    Parity parity = Parity::None;
    int stopBits = 1; // 1 or 2
    Flow flow = Flow::None;
    friend bool operator==(const SerialSettings &, const SerialSettings &) = default;
};

// The frame as technicians write it: data bits, parity letter, stop bits ("8N1").
[[nodiscard]] QString frameText(const SerialSettings &serial);
// Sets dataBits, parity and stopBits from "8N1", "7E2", ... (letters in
// either case); nothing is changed when the text is not such a frame.
[[nodiscard]] bool parseFrame(const QString &text, SerialSettings &serial);

// "none", "rtscts", "xonxoff".
[[nodiscard]] QString flowName(SerialSettings::Flow flow);
[[nodiscard]] std::optional<SerialSettings::Flow> parseFlow(const QString &text);

} // namespace krv::comm
