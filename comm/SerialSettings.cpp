#include "SerialSettings.h"

#include <array>
#include <utility>

namespace krv::comm {

namespace {

using Parity = SerialSettings::Parity;
using Flow = SerialSettings::Flow;

constexpr std::array<std::pair<Parity, char>, 3> ParityLetters{{
    {Parity::None, 'N'},
    {Parity::Even, 'E'},
    {Parity::Odd, 'O'},
}};

constexpr std::array<std::pair<Flow, const char *>, 3> FlowNames{{
    {Flow::None, "none"},
    {Flow::RtsCts, "rtscts"},
    {Flow::XonXoff, "xonxoff"},
}};

} // namespace

QString frameText(const SerialSettings &serial) {
    char letter = 'N';
    for (const auto &[parity, l] : ParityLetters)
        if (parity == serial.parity)
            letter = l;
    return QString::number(serial.dataBits) + QLatin1Char(letter) +
           QString::number(serial.stopBits);
}

bool parseFrame(const QString &text, SerialSettings &serial) {
    if (text.size() != 3)
        return false;
    const QChar data = text.at(0);
    const QChar stop = text.at(2);
    if ((data != QLatin1Char('7') && data != QLatin1Char('8')) ||
        (stop != QLatin1Char('1') && stop != QLatin1Char('2')))
        return false;
    const QChar letter = text.at(1).toUpper();
    for (const auto &[parity, l] : ParityLetters) {
        if (letter == QLatin1Char(l)) {
            serial.dataBits = data.digitValue();
            serial.parity = parity;
            serial.stopBits = stop.digitValue();
            return true;
        }
    }
    return false;
}

QString flowName(Flow flow) {
    for (const auto &[f, name] : FlowNames)
        if (f == flow)
            return QString::fromLatin1(name);
    return {};
}

std::optional<Flow> parseFlow(const QString &text) {
    for (const auto &[flow, name] : FlowNames)
        if (text.compare(QLatin1String(name), Qt::CaseInsensitive) == 0)
            return flow;
    return std::nullopt;
}

} // namespace krv::comm
