#include "Targets.h"

#include "CliErrors.h"
#include "Digits.h"
#include "Lines.h"
#include "OwnFiles.h"
#include "Quote.h"
#include "RuntimeError.h"
#include "SerialTarget.h"

#include <QRegularExpression>

#include <optional>

namespace krv::cli {

using namespace krv::profile;

namespace {

using Kind = comm::ConnectionSettings::Kind;

quint16 portNumber(const QString &text, const QString &whole) {
    const std::optional<qint64> port = digitsValue(text, 65535);
    if (!port || *port < 1)
        throw RuntimeError(
            errors::BadArgument,
            QStringLiteral("%1: the port must be a number from 1 to 65535.").arg(quoted(whole)));
    return quint16(*port);
}

} // namespace

comm::ConnectionSettings parseTcpTarget(const QString &text) {
    comm::ConnectionSettings target;
    target.kind = Kind::Tcp;
    const QString hostPort = text.trimmed();
    if (hostPort.startsWith(QLatin1Char('['))) {
        const qsizetype close = hostPort.indexOf(QLatin1Char(']'));
        if (close < 0)
            throw RuntimeError(
                errors::BadArgument,
                QStringLiteral("%1: missing \"]\" after the address.").arg(quoted(text)));
        target.host = hostPort.mid(1, close - 1);
        const QString rest = hostPort.mid(close + 1);
        if (rest.startsWith(QLatin1Char(':')))
            target.port = portNumber(rest.mid(1), text);
        else if (!rest.isEmpty())
            throw RuntimeError(errors::BadArgument,
                               QStringLiteral("%1 is not HOST[:PORT].").arg(quoted(text)));
    } else if (hostPort.count(QLatin1Char(':')) == 1) {
        const qsizetype colon = hostPort.indexOf(QLatin1Char(':'));
        target.host = hostPort.left(colon);
        target.port = portNumber(hostPort.mid(colon + 1), text);
    } else {
        target.host = hostPort;
    }
    if (target.host.isEmpty())
        throw RuntimeError(
            errors::BadArgument,
            QStringLiteral("%1: the host name or address is missing.").arg(quoted(text)));
    return target;
}

std::vector<comm::ConnectionSettings> parseTargets(const QString &text, const QString &fileName) {
    std::vector<comm::ConnectionSettings> targets;
    const QStringList lines = splitLines(text);
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString line = lines[i].trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const QString where = QStringLiteral("%1:%2").arg(fileName).arg(i + 1);
        refuseNul(line, where + QStringLiteral(": the line"), errors::TargetsSyntax);
        const qsizetype blank = line.indexOf(QRegularExpression(QStringLiteral("\\s")));
        const QString kind = blank < 0 ? line : line.left(blank);
        const QString value = blank < 0 ? QString() : line.mid(blank + 1).trimmed();
        if (value.isEmpty())
            throw RuntimeError(errors::TargetsSyntax,
                               QStringLiteral("%1: %2 needs a value, e.g. \"tcp 10.0.0.5\".")
                                   .arg(where, quoted(line)));
        comm::ConnectionSettings target;
        if (kind.compare(QLatin1String("tcp"), Qt::CaseInsensitive) == 0) {
            try {
                target = parseTcpTarget(value);
            } catch (const RuntimeError &e) {
                throw RuntimeError(errors::TargetsSyntax,
                                   where + QStringLiteral(": ") + e.description());
            }
        } else if (kind.compare(QLatin1String("queue"), Qt::CaseInsensitive) == 0) {
            target.kind = Kind::Spooler;
            target.queue = value;
        } else if (kind.compare(QLatin1String("file"), Qt::CaseInsensitive) == 0) {
            target.kind = Kind::File;
            target.path = value;
        } else if (kind.compare(QLatin1String("serial"), Qt::CaseInsensitive) == 0) {
            try {
                target = parseSerialTarget(value);
            } catch (const RuntimeError &e) {
                throw RuntimeError(errors::TargetsSyntax,
                                   where + QStringLiteral(": ") + e.description());
            }
        } else {
            throw RuntimeError(errors::TargetsSyntax,
                               QStringLiteral("%1: %2 is not a kind of connection; use tcp, "
                                              "queue, file or serial.")
                                   .arg(where, quoted(kind)));
        }
        targets.push_back(target);
    }
    return targets;
}

std::vector<comm::ConnectionSettings> readTargetsFile(const QString &path) {
    return parseTargets(profile::readUtf8Lines(path, comm::MaxTargetsBytes,
                                               {errors::TargetsSyntax, "connection", false}),
                        path);
}

QString describeTarget(const comm::ConnectionSettings &target) {
    switch (target.kind) {
    case Kind::Tcp:
        return target.host.contains(QLatin1Char(':'))
                   ? QStringLiteral("tcp [%1]:%2").arg(target.host).arg(target.port)
                   : QStringLiteral("tcp %1:%2").arg(target.host).arg(target.port);
    case Kind::File:
        return QStringLiteral("file %1").arg(target.path);
    case Kind::Serial:
        return QStringLiteral("serial %1:%2,%3,%4")
            .arg(target.serial.device)
            .arg(target.serial.speed)
            .arg(comm::frameText(target.serial), comm::flowName(target.serial.flow));
    case Kind::Spooler:
        break;
    }
    return target.queue.isEmpty() ? QStringLiteral("queue (default)")
                                  : QStringLiteral("queue %1").arg(target.queue);
}

} // namespace krv::cli
