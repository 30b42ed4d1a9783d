#pragma once

#include "PrinterStatus.h"

#include <QString>
#include <QStringList>
#include <QTextStream>

#include <chrono>
#include <functional>
#include <vector>

namespace krv::cli {

// An IPv4 or IPv6 address as a number, so that ranges can be counted and
// walked; IPv4 sits in the low 32 bits of `lo`.
struct IpAddress {
    bool v6 = false;
    quint64 hi = 0;
    quint64 lo = 0;
    friend auto operator<=>(const IpAddress &, const IpAddress &) = default;
};

// Consecutive addresses from `first`; `count` is at least 1.
struct AddressRange {
    IpAddress first;
    quint64 count = 1; // saturates at the largest quint64 for huge IPv6 blocks
};

// Ranges larger than this are swept only when asked for with --force.
inline constexpr quint64 LargestUnforcedSweep = 65536;
// Even then, a sweep ends some day: a /64 of IPv6 would not.
inline constexpr quint64 LargestSweep = quint64(1) << 32;

// "192.168.1.7", "192.168.1.0/24", "10.0.0.5-10.0.0.20", "fd00::/120", ...:
// numeric addresses only, never a name to look up. Throws krv::RuntimeError
// (BadRange) naming what is wrong.
[[nodiscard]] AddressRange parseRange(const QString &text);
[[nodiscard]] IpAddress addressAt(const AddressRange &range, quint64 offset);
[[nodiscard]] QString addressText(const IpAddress &address);
// "9100" or "9100,9101": ports from 1 to 65535. Throws BadArgument.
[[nodiscard]] std::vector<quint16> parsePortList(const QString &text);

struct SweepOptions {
    std::vector<quint16> ports{9100};
    std::chrono::milliseconds connectBound{300};
    std::chrono::milliseconds statusBound{1000};
    int jobs = 256; // connections open at once, connecting or being asked
};

// What answered at an open port. Busy: the port accepted the connection and
// closed or reset it before a single byte came back, which is what a printer
// that serves one connection at a time does while another holds it.
enum class PortKind { Printer, Busy, Other };

struct FoundPort {
    IpAddress address;
    quint16 port = 0;
    PortKind kind = PortKind::Other;
    comm::PrinterStatus status; // Printer: what it answered
    QString detail;             // Busy, Other: what happened, in words
};

// Tries every address of every range on every port and asks each open port
// for the printer's status. `progress` gets the tries done and the total.
// The open ports come back in address order, then port order.
[[nodiscard]] std::vector<FoundPort>
sweep(const std::vector<AddressRange> &ranges, const SweepOptions &options,
      const std::function<void(quint64 done, quint64 total)> &progress = {});

// What "discover" was asked for on the command line.
struct DiscoverRequest {
    QStringList ranges;
    std::vector<quint16> ports{9100};
    int timeoutMs = 300;
    int jobs = 256;
    bool all = false;   // list open ports that are not printers too
    bool force = false; // sweep more than LargestUnforcedSweep addresses
    bool json = false;
    bool local = false;
    bool probe = true;
    QString serialSpeed = QStringLiteral("9600");
    QString deviceDir; // empty: the system's folders
    QString targetsOut;
};

// Takes discover's own options; false for an option that is not one.
[[nodiscard]] bool applyDiscoverOption(DiscoverRequest &request, const QString &name,
                                       const QString &value);

[[nodiscard]] int runDiscover(const DiscoverRequest &request, QTextStream &out, QTextStream &err);

} // namespace krv::cli
