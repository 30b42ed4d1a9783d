#include "Discover.h"

#include "CliErrors.h"
#include "Digits.h"
#include "Doctor.h"
#include "OwnFiles.h"
#include "Quote.h"
#include "RuntimeError.h"
#include "SerialTarget.h"
#include "StatusCommand.h"
#include "StatusQuery.h"
#include "SystemReason.h"
#include "Targets.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSerialPortInfo>
#include <QThreadPool>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>

namespace krv::cli {

using namespace krv::profile;

namespace {

constexpr quint64 Max = ~quint64(0);
// The kernel's USB printer class driver (/dev/usb/lp*).
constexpr unsigned UsbPrinterMajor = 180;

[[noreturn]] void badRange(const QString &text, const QString &why) {
    throw RuntimeError(errors::BadRange,
                       QStringLiteral("%1 is not an address range: %2.").arg(quoted(text), why));
}

// inet_pton takes exactly the numeric forms and never looks a name up.
std::optional<IpAddress> numericAddress(const QString &text) {
    const QByteArray bytes = text.toLatin1();
    if (text.isEmpty() || bytes.size() != text.size())
        return std::nullopt;
    IpAddress address;
    in_addr v4{};
    in6_addr v6{};
    if (::inet_pton(AF_INET, bytes.constData(), &v4) == 1) {
        address.lo = ntohl(v4.s_addr);
        return address;
    }
    if (::inet_pton(AF_INET6, bytes.constData(), &v6) != 1)
        return std::nullopt;
    address.v6 = true;
    for (int i = 0; i < 8; ++i) {
        address.hi = address.hi << 8 | v6.s6_addr[i];
        address.lo = address.lo << 8 | v6.s6_addr[i + 8];
    }
    return address;
}

IpAddress parseAddress(const QString &range, const QString &text) {
    if (const auto address = numericAddress(text))
        return *address;
    static const QRegularExpression dotted(QStringLiteral("^[0-9.]+$"));
    if (dotted.match(text).hasMatch())
        badRange(range, QStringLiteral("%1 is not an IPv4 address of four numbers from 0 to 255")
                            .arg(quoted(text)));
    badRange(range,
             QStringLiteral("%1 is not an IPv4 or IPv6 address (host names are not looked up)")
                 .arg(quoted(text)));
}

// The 128-bit difference last - first, saturated.
quint64 distance(const IpAddress &first, const IpAddress &last) {
    const quint64 borrow = last.lo < first.lo ? 1 : 0;
    if (last.hi - first.hi - borrow != 0)
        return Max;
    return last.lo - first.lo;
}

// Closes the descriptor however the work ends.
struct Socket {
    int fd = -1;
    explicit Socket(int f) : fd(f) {}
    Socket(const Socket &) = delete;
    Socket &operator=(const Socket &) = delete;
    ~Socket() {
        if (fd >= 0)
            ::close(fd);
    }
};

// Counts what came back, so that a peer that closed without a word (busy)
// is told from one that said something else and then closed.
class CountingLink : public comm::StatusLink {
public:
    CountingLink(int fd, const QString &where) : mLink(fd, where) {}
    bool write(QByteArrayView bytes, const QDeadlineTimer &deadline) override {
        return mLink.write(bytes, deadline);
    }
    QByteArray read(const QDeadlineTimer &deadline, bool *ended) override {
        QByteArray bytes = mLink.read(deadline, ended);
        mReceived += bytes.size();
        return bytes;
    }
    [[nodiscard]] qint64 received() const { return mReceived; }

private:
    comm::DescriptorLink mLink;
    qint64 mReceived = 0;
};

QString busyDetail() {
    return QStringLiteral("accepted the connection and closed it without answering, as a "
                          "printer does while another connection holds it");
}

FoundPort classify(int fd, const IpAddress &address, quint16 port,
                   std::chrono::milliseconds bound) {
    FoundPort found{address, port, PortKind::Other, {}, {}};
    CountingLink link(fd, QStringLiteral("%1 port %2").arg(addressText(address)).arg(port));
    try {
        found.status = comm::queryStatus(link, bound);
        if (found.status.answered())
            found.kind = PortKind::Printer;
        else
            found.detail =
                QStringLiteral("open, but no printer status answer: %1").arg(found.status.detail);
    } catch (const RuntimeError &e) {
        if (link.received() == 0) {
            found.kind = PortKind::Busy;
            found.detail = busyDetail();
        } else {
            found.detail = QStringLiteral("open, but answered something else and then: %1")
                               .arg(e.description());
        }
    }
    return found;
}

// A connection on its way up: its descriptor, where to and until when.
struct Pending {
    int fd;
    IpAddress address;
    quint16 port;
    std::chrono::steady_clock::time_point deadline;
};

// Walks the ranges, then the ports, one try at a time.
class Tries {
public:
    Tries(const std::vector<AddressRange> &ranges, const std::vector<quint16> &ports)
        : mRanges(ranges), mPorts(ports) {}
    bool next(IpAddress *address, quint16 *port) {
        if (mRange >= mRanges.size() || mPorts.empty())
            return false;
        *address = addressAt(mRanges[mRange], mOffset);
        *port = mPorts[mPort];
        if (++mPort == mPorts.size()) {
            mPort = 0;
            if (++mOffset == mRanges[mRange].count) {
                mOffset = 0;
                ++mRange;
            }
        }
        return true;
    }

private:
    const std::vector<AddressRange> &mRanges;
    const std::vector<quint16> &mPorts;
    std::size_t mRange = 0;
    quint64 mOffset = 0;
    std::size_t mPort = 0;
};

// A connect that has begun (true) or ended at once; `fd` is then set or -1.
// Throws when the system refuses a socket for a reason no wait will cure.
bool beginConnect(const IpAddress &address, quint16 port, int *fd, bool *immediate) {
    *fd = -1;
    *immediate = false;
    sockaddr_storage storage{};
    socklen_t length = 0;
    if (address.v6) {
        auto *in6 = reinterpret_cast<sockaddr_in6 *>(&storage);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(port);
        for (int i = 0; i < 8; ++i) {
            in6->sin6_addr.s6_addr[i] = std::uint8_t(address.hi >> (56 - 8 * i));
            in6->sin6_addr.s6_addr[i + 8] = std::uint8_t(address.lo >> (56 - 8 * i));
        }
        length = sizeof(sockaddr_in6);
    } else {
        auto *in4 = reinterpret_cast<sockaddr_in *>(&storage);
        in4->sin_family = AF_INET;
        in4->sin_port = htons(port);
        in4->sin_addr.s_addr = htonl(std::uint32_t(address.lo));
        length = sizeof(sockaddr_in);
    }
    const int s = ::socket(storage.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (s < 0) {
        if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
            return false; // try again once a connection has ended
        throw RuntimeError(
            errors::SweepFailed,
            QStringLiteral("Could not open a network socket: %1.").arg(comm::systemReason(errno)));
    }
    if (::connect(s, reinterpret_cast<sockaddr *>(&storage), length) == 0) {
        *fd = s;
        *immediate = true;
        return true;
    }
    if (errno == EINPROGRESS) {
        *fd = s;
        return true;
    }
    // Refused, unreachable, an address the system will not connect to:
    // nothing there.
    ::close(s);
    *immediate = true;
    return true;
}

// Room for --jobs connections besides what the program holds already.
void raiseDescriptorLimit(int jobs) {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return;
    const rlim_t wanted = rlim_t(jobs) + 64;
    if (limit.rlim_cur >= wanted)
        return;
    limit.rlim_cur = std::min(wanted, limit.rlim_max);
    ::setrlimit(RLIMIT_NOFILE, &limit);
}

} // namespace

AddressRange parseRange(const QString &text) {
    AddressRange range;
    if (const qsizetype slash = text.indexOf(QLatin1Char('/')); slash >= 0) {
        range.first = parseAddress(text, text.left(slash));
        const int bits = range.first.v6 ? 128 : 32;
        const std::optional<qint64> prefix = digitsValue(text.mid(slash + 1), bits);
        if (!prefix)
            badRange(text, QStringLiteral("the prefix length after \"/\" must be a number from "
                                          "0 to %1")
                               .arg(bits));
        // The block the address lies in, whatever its host bits hold.
        const int hostBits = bits - int(*prefix);
        if (!range.first.v6) {
            range.first.lo &= ~((quint64(1) << hostBits) - 1);
            range.count = quint64(1) << hostBits;
        } else if (hostBits >= 64) {
            range.first.hi &= hostBits == 128 ? 0 : ~((quint64(1) << (hostBits - 64)) - 1);
            range.first.lo = 0;
            range.count = Max;
        } else {
            range.first.lo &= ~((quint64(1) << hostBits) - 1);
            range.count = quint64(1) << hostBits;
        }
        return range;
    }
    if (const qsizetype dash = text.indexOf(QLatin1Char('-')); dash >= 0) {
        range.first = parseAddress(text, text.left(dash));
        const IpAddress last = parseAddress(text, text.mid(dash + 1));
        if (last.v6 != range.first.v6)
            badRange(text, QStringLiteral("its first and last addresses must both be IPv4 or "
                                          "both IPv6"));
        if (last < range.first)
            badRange(text, QStringLiteral("its last address comes before its first"));
        const quint64 span = distance(range.first, last);
        range.count = span == Max ? Max : span + 1;
        return range;
    }
    range.first = parseAddress(text, text);
    return range;
}

IpAddress addressAt(const AddressRange &range, quint64 offset) {
    IpAddress address = range.first;
    address.lo += offset;
    if (address.lo < range.first.lo)
        ++address.hi;
    return address;
}

QString addressText(const IpAddress &address) {
    char text[INET6_ADDRSTRLEN] = {};
    if (!address.v6) {
        in_addr v4{htonl(std::uint32_t(address.lo))};
        ::inet_ntop(AF_INET, &v4, text, sizeof text);
    } else {
        in6_addr v6{};
        for (int i = 0; i < 8; ++i) {
            v6.s6_addr[i] = std::uint8_t(address.hi >> (56 - 8 * i));
            v6.s6_addr[i + 8] = std::uint8_t(address.lo >> (56 - 8 * i));
        }
        ::inet_ntop(AF_INET6, &v6, text, sizeof text);
    }
    return QString::fromLatin1(text);
}

std::vector<quint16> parsePortList(const QString &text) {
    std::vector<quint16> ports;
    for (const QString &part : text.split(QLatin1Char(','))) {
        const std::optional<qint64> port = digitsValue(part, 65535);
        if (!port || *port < 1)
            throw RuntimeError(errors::BadArgument,
                               QStringLiteral("--port needs port numbers from 1 to 65535 "
                                              "separated by commas, not %1.")
                                   .arg(quoted(text)));
        if (std::find(ports.begin(), ports.end(), quint16(*port)) == ports.end())
            ports.push_back(quint16(*port));
    }
    return ports;
}

std::vector<FoundPort> sweep(const std::vector<AddressRange> &ranges, const SweepOptions &options,
                             const std::function<void(quint64, quint64)> &progress) {
    using Clock = std::chrono::steady_clock;
    quint64 total = 0;
    for (const AddressRange &range : ranges)
        total += std::min(range.count, LargestSweep) * options.ports.size();
    const int jobs = std::max(1, options.jobs);
    raiseDescriptorLimit(jobs);

    // Workers say they are done through this pipe, so one poll waits for
    // connections and answers alike.
    int wake[2];
    if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0)
        throw RuntimeError(
            errors::SweepFailed,
            QStringLiteral("Could not make a pipe: %1.").arg(comm::systemReason(errno)));
    const Socket wakeRead(wake[0]);
    const Socket wakeWrite(wake[1]);

    std::vector<FoundPort> found;
    std::mutex foundLock;
    QThreadPool askers;
    askers.setMaxThreadCount(jobs);
    int asking = 0;
    std::vector<Pending> pending;
    quint64 done = 0;
    Tries tries(ranges, options.ports);
    bool more = true;
    // A try put off because the process was out of descriptors.
    bool held = false;
    IpAddress heldAddress;
    quint16 heldPort = 0;
    auto ask = [&](int fd, const IpAddress &address, quint16 port) {
        ++asking;
        askers.start([&, fd, address, port] {
            const Socket socket(fd);
            FoundPort result = classify(fd, address, port, options.statusBound);
            {
                const std::lock_guard lock(foundLock);
                found.push_back(std::move(result));
            }
            const char byte = 1;
            [[maybe_unused]] const auto n = ::write(wakeWrite.fd, &byte, 1);
        });
    };

    try {
        while (more || held || !pending.empty() || asking > 0) {
            while ((more || held) && int(pending.size()) + asking < jobs) {
                IpAddress address;
                quint16 port = 0;
                if (held) {
                    address = heldAddress;
                    port = heldPort;
                    held = false;
                } else if (!(more = tries.next(&address, &port))) {
                    break;
                }
                int fd = -1;
                bool immediate = false;
                if (!beginConnect(address, port, &fd, &immediate)) {
                    if (pending.empty() && asking == 0)
                        throw RuntimeError(errors::SweepFailed,
                                           QStringLiteral("Could not open a network socket: %1.")
                                               .arg(comm::systemReason(errno)));
                    // Out of descriptors: this one waits until a connection ends.
                    held = true;
                    heldAddress = address;
                    heldPort = port;
                    break;
                }
                if (immediate && fd < 0)
                    ++done;
                else if (immediate)
                    ask(fd, address, port);
                else
                    pending.push_back({fd, address, port, Clock::now() + options.connectBound});
            }
            // Every try so far ended at once: nothing to wait for.
            if (pending.empty() && asking == 0) {
                if (progress)
                    progress(done, total);
                continue;
            }
            std::vector<pollfd> polled{{wakeRead.fd, POLLIN, 0}};
            auto first = Clock::time_point::max();
            for (const Pending &p : pending) {
                polled.push_back({p.fd, POLLOUT, 0});
                first = std::min(first, p.deadline);
            }
            int waitMs = 100;
            if (!pending.empty())
                waitMs = int(std::clamp<qint64>(
                    std::chrono::ceil<std::chrono::milliseconds>(first - Clock::now()).count(), 0,
                    100));
            if (::poll(polled.data(), nfds_t(polled.size()), waitMs) < 0 && errno != EINTR)
                throw RuntimeError(errors::SweepFailed, QStringLiteral("Could not wait for the "
                                                                       "connections: %1.")
                                                            .arg(comm::systemReason(errno)));
            if (polled[0].revents != 0) {
                char bytes[256];
                for (ssize_t n; (n = ::read(wakeRead.fd, bytes, sizeof bytes)) > 0;) {
                    asking -= int(n);
                    done += quint64(n);
                }
            }
            const auto now = Clock::now();
            std::vector<Pending> still;
            for (std::size_t i = 0; i < pending.size(); ++i) {
                const Pending &p = pending[i];
                if (polled[i + 1].revents == 0) {
                    if (now < p.deadline) {
                        still.push_back(p);
                        continue;
                    }
                    ::close(p.fd);
                    ++done;
                    continue;
                }
                int error = 0;
                socklen_t size = sizeof error;
                if (::getsockopt(p.fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0)
                    error = errno;
                if (error == 0) {
                    ask(p.fd, p.address, p.port);
                    continue;
                }
                ::close(p.fd);
                // Reset right after the handshake: accepted, then let go.
                if (error == ECONNRESET) {
                    const std::lock_guard lock(foundLock);
                    found.push_back({p.address, p.port, PortKind::Busy, {}, busyDetail()});
                }
                ++done;
            }
            pending = std::move(still);
            if (progress)
                progress(done, total);
        }
    } catch (...) {
        for (const Pending &p : pending)
            ::close(p.fd);
        askers.waitForDone();
        throw;
    }
    askers.waitForDone();

    std::sort(found.begin(), found.end(), [](const FoundPort &a, const FoundPort &b) {
        return std::tie(a.address, a.port) < std::tie(b.address, b.port);
    });
    // Overlapping ranges try an address twice; it is listed once.
    found.erase(std::unique(found.begin(), found.end(),
                            [](const FoundPort &a, const FoundPort &b) {
                                return a.address == b.address && a.port == b.port;
                            }),
                found.end());
    return found;
}

namespace {

QString kindWord(PortKind kind) {
    switch (kind) {
    case PortKind::Printer:
        return QStringLiteral("printer");
    case PortKind::Busy:
        return QStringLiteral("busy");
    case PortKind::Other:
        break;
    }
    return QStringLiteral("other");
}

QString targetOf(const FoundPort &found) {
    const QString address = addressText(found.address);
    return QStringLiteral("tcp %1:%2")
        .arg(found.address.v6 ? QStringLiteral("[%1]").arg(address) : address)
        .arg(found.port);
}

// The word a found port's line starts with: the printer's own status word,
// or what the port is.
QString foundWord(const FoundPort &found) {
    return found.kind == PortKind::Printer ? statusWord(found.status) : kindWord(found.kind);
}

QString foundDetail(const FoundPort &found) {
    return found.kind == PortKind::Printer ? comm::describeStatus(found.status) : found.detail;
}

// One device that may have a printer on it, with what is known of it.
struct LocalDevice {
    QString path; // as listed: a link in a folder of links, or the device
    QString identity;
    QString access; // why this user may not open it, the doctor's words
    comm::ConnectionSettings target;
    bool probed = false;
    StatusResult answer;
};

QString usbIdentity(const QSerialPortInfo &info) {
    QStringList parts;
    if (info.hasVendorIdentifier() && info.hasProductIdentifier())
        parts.append(QStringLiteral("USB %1:%2")
                         .arg(info.vendorIdentifier(), 4, 16, QLatin1Char('0'))
                         .arg(info.productIdentifier(), 4, 16, QLatin1Char('0')));
    for (const QString &text : {info.manufacturer(), info.description()})
        if (!text.isEmpty())
            parts.append(text);
    if (!info.serialNumber().isEmpty())
        parts.append(QStringLiteral("serial number %1").arg(info.serialNumber()));
    return parts.join(QStringLiteral(", "));
}

std::vector<LocalDevice> localDevices(const DiscoverRequest &request) {
    std::map<QString, QSerialPortInfo> serialPorts; // by the device's real path
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
        serialPorts.emplace(QFileInfo(info.systemLocation()).canonicalFilePath(), info);

    // Stable names first: a link in /dev/serial/by-id survives a re-plug.
    QStringList paths;
    const QStringList folders =
        request.deviceDir.isEmpty()
            ? QStringList{QStringLiteral("/dev/serial/by-id"), QStringLiteral("/dev/usb")}
            : QStringList{request.deviceDir};
    for (const QString &folder : folders)
        for (const QFileInfo &entry : QDir(folder).entryInfoList(
                 QDir::Files | QDir::System | QDir::NoDotAndDotDot, QDir::Name))
            paths.append(entry.filePath());
    if (request.deviceDir.isEmpty())
        for (const auto &[real, info] : serialPorts)
            paths.append(info.systemLocation());

    std::vector<LocalDevice> devices;
    QStringList seen;
    for (const QString &path : paths) {
        const QString real = QFileInfo(path).canonicalFilePath();
        struct stat st {};
        if (real.isEmpty() || seen.contains(real) ||
            ::stat(QFile::encodeName(real).constData(), &st) != 0 || !S_ISCHR(st.st_mode))
            continue;
        seen.append(real);
        LocalDevice device;
        device.path = path;
        if (const auto it = serialPorts.find(real); it != serialPorts.end())
            device.identity = usbIdentity(it->second);
        if (major(st.st_rdev) == UsbPrinterMajor) {
            device.target.kind = comm::ConnectionSettings::Kind::File;
            device.target.path = path;
        } else {
            device.target = parseSerialTarget(path + QLatin1Char(':') + request.serialSpeed);
        }
        const CheckReport report = diagnosePath(path, gatherPathFacts(path));
        if (!report.problems.empty())
            device.access =
                report.problems.front().what + QLatin1Char(' ') + report.problems.front().fix;
        devices.push_back(std::move(device));
    }
    return devices;
}

QString localWord(const LocalDevice &device) {
    if (!device.access.isEmpty())
        return QStringLiteral("no-access");
    return device.probed ? statusWord(device.answer) : QStringLiteral("not-asked");
}

QString localDetail(const LocalDevice &device) {
    QString detail = device.access;
    if (device.probed)
        detail = device.answer.failed ? device.answer.description
                                      : comm::describeStatus(device.answer.status);
    if (detail.isEmpty())
        detail = QStringLiteral("not asked");
    if (!device.identity.isEmpty())
        detail += QStringLiteral(" (%1)").arg(device.identity);
    return detail;
}

void writeTargets(const QString &path, const QStringList &targets, const QString &what) {
    QByteArray text = QStringLiteral("# %1, found by krv520-cli discover on %2\n")
                          .arg(what, QDateTime::currentDateTimeUtc().toString(Qt::ISODate))
                          .toUtf8();
    for (const QString &target : targets)
        text += target.toUtf8() + '\n';
    comm::writeSmallFile(path, text, errors::UnwritableFile);
}

void line(QTextStream &out, const QString &word, const QString &target, const QString &detail) {
    out << word << '\t' << shownText(target) << '\t' << shownText(detail) << '\n';
}

void json(QTextStream &out, const QJsonObject &object) {
    out << QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)) << '\n';
}

int discoverLocal(const DiscoverRequest &request, QTextStream &out, QTextStream &err) {
    if (!request.deviceDir.isEmpty() && !QFileInfo(request.deviceDir).isDir())
        throw RuntimeError(
            errors::BadArgument,
            QStringLiteral("--device-dir %1 is not a folder.").arg(quoted(request.deviceDir)));
    std::vector<LocalDevice> devices = localDevices(request);
    QStringList targets;
    for (LocalDevice &device : devices) {
        if (request.probe && device.access.isEmpty()) {
            device.answer = queryStatusOf(device.target);
            device.probed = true;
        }
        const QString target = describeTarget(device.target);
        if (device.access.isEmpty() && (!request.probe || device.answer.status.answered()))
            targets.append(target);
        if (request.json) {
            QJsonObject object{{QStringLiteral("type"), QStringLiteral("device")},
                               {QStringLiteral("target"), target},
                               {QStringLiteral("device"), device.path},
                               {QStringLiteral("status"), localWord(device)},
                               {QStringLiteral("detail"), localDetail(device)}};
            object.insert(QStringLiteral("identity"),
                          device.identity.isEmpty() ? QJsonValue() : QJsonValue(device.identity));
            object.insert(QStringLiteral("access"),
                          device.access.isEmpty() ? QJsonValue() : QJsonValue(device.access));
            json(out, object);
        } else {
            line(out, localWord(device), target, localDetail(device));
        }
        out.flush();
    }
    if (!request.targetsOut.isEmpty())
        writeTargets(request.targetsOut, targets, QStringLiteral("Printers on this machine"));
    err << "krv520-cli: " << devices.size() << " devices, " << targets.size()
        << (request.probe ? " answered as printers" : " may be opened") << '\n';
    return 0;
}

int discoverNetwork(const DiscoverRequest &request, QTextStream &out, QTextStream &err) {
    // Every range is read before the first connection.
    std::vector<AddressRange> ranges;
    quint64 addresses = 0;
    for (const QString &text : request.ranges) {
        ranges.push_back(parseRange(text));
        addresses = std::min(Max - ranges.back().count, addresses) + ranges.back().count;
    }
    if (addresses > LargestSweep)
        throw RuntimeError(errors::RangeTooLarge,
                           QStringLiteral("The ranges hold more than %1 addresses, which no "
                                          "sweep can try; give smaller ranges.")
                               .arg(LargestSweep));
    if (addresses > LargestUnforcedSweep && !request.force)
        throw RuntimeError(errors::RangeTooLarge,
                           QStringLiteral("The ranges hold %1 addresses, more than the %2 of a "
                                          "/16; add --force to try them all.")
                               .arg(addresses)
                               .arg(LargestUnforcedSweep));

    SweepOptions options;
    options.ports = request.ports;
    options.connectBound = std::chrono::milliseconds(request.timeoutMs);
    options.jobs = request.jobs;
    QElapsedTimer clock;
    clock.start();
    const bool terminal = ::isatty(STDERR_FILENO) == 1;
    qint64 shown = -1000;
    const std::vector<FoundPort> found = sweep(ranges, options, [&](quint64 done, quint64 total) {
        if (!terminal || clock.elapsed() - shown < 200)
            return;
        shown = clock.elapsed();
        err << "\rkrv520-cli: tried " << done << " of " << total << " " << Qt::flush;
    });
    if (terminal)
        err << "\r\033[K" << Qt::flush;

    int printers = 0, busy = 0, other = 0;
    QStringList targets;
    for (const FoundPort &port : found) {
        (port.kind == PortKind::Printer ? printers : port.kind == PortKind::Busy ? busy : other)++;
        if (port.kind == PortKind::Other && !request.all)
            continue;
        // A busy printer is named, commented out: it could not say that it
        // is one of ours.
        if (port.kind == PortKind::Printer)
            targets.append(targetOf(port));
        else if (port.kind == PortKind::Busy)
            targets.append(QStringLiteral("# busy: ") + targetOf(port));
        if (request.json) {
            const bool printer = port.kind == PortKind::Printer;
            json(out, {{QStringLiteral("type"), QStringLiteral("found")},
                       {QStringLiteral("target"), targetOf(port)},
                       {QStringLiteral("address"), addressText(port.address)},
                       {QStringLiteral("port"), port.port},
                       {QStringLiteral("kind"), kindWord(port.kind)},
                       {QStringLiteral("status"), foundWord(port)},
                       {QStringLiteral("code"),
                        printer ? QJsonValue(statusCodeOfSeverity(statusSeverity(foundWord(port))))
                                : QJsonValue()},
                       {QStringLiteral("detail"), foundDetail(port)}});
        } else {
            line(out, foundWord(port), targetOf(port), foundDetail(port));
        }
    }
    if (!request.targetsOut.isEmpty())
        writeTargets(request.targetsOut, targets,
                     QStringLiteral("Printers on %1").arg(request.ranges.join(QLatin1Char(' '))));
    if (request.json)
        json(out, {{QStringLiteral("type"), QStringLiteral("summary")},
                   {QStringLiteral("printers"), printers},
                   {QStringLiteral("busy"), busy},
                   {QStringLiteral("other"), other},
                   {QStringLiteral("tried"), qint64(addresses * request.ports.size())},
                   {QStringLiteral("ms"), clock.elapsed()}});
    else
        err << "krv520-cli: " << printers << " printers, " << busy << " busy, " << other
            << " other open ports; " << addresses * request.ports.size() << " tried in "
            << clock.elapsed() << " ms\n";
    return 0;
}

} // namespace

bool applyDiscoverOption(DiscoverRequest &request, const QString &name, const QString &value) {
    if (name == QLatin1String("port")) {
        request.ports = parsePortList(value);
    } else if (name == QLatin1String("timeout-ms")) {
        request.timeoutMs = wholeNumber(QStringLiteral("--timeout-ms"), value, 1, 60000);
    } else if (name == QLatin1String("all")) {
        request.all = true;
    } else if (name == QLatin1String("targets-out")) {
        if (value.isEmpty())
            throw RuntimeError(errors::BadArgument,
                               QStringLiteral("--targets-out needs a file name."));
        request.targetsOut = value;
    } else if (name == QLatin1String("local")) {
        request.local = true;
    } else if (name == QLatin1String("no-probe")) {
        request.probe = false;
    } else if (name == QLatin1String("serial-speed")) {
        // A speed alone, checked as the connection will take it: the frame is 8N1.
        bool taken = digitsValue(value, 99999999).has_value();
        try {
            taken =
                taken && parseSerialTarget(QStringLiteral("/dev/ttyS0:") + value).serial.speed > 0;
        } catch (const RuntimeError &) {
            taken = false;
        }
        if (!taken)
            throw RuntimeError(errors::BadArgument,
                               QStringLiteral("--serial-speed needs a speed in baud, such as "
                                              "9600, not %1.")
                                   .arg(quoted(value)));
        request.serialSpeed = value;
    } else if (name == QLatin1String("device-dir")) {
        request.deviceDir = value;
    } else {
        return false;
    }
    return true;
}

int runDiscover(const DiscoverRequest &request, QTextStream &out, QTextStream &err) {
    const auto refuse = [](const QString &text) { throw RuntimeError(errors::BadArgument, text); };
    if (request.local) {
        if (!request.ranges.isEmpty())
            refuse(QStringLiteral("discover --local lists this machine's ports and takes no "
                                  "address range."));
        if (request.all || request.force || request.ports != std::vector<quint16>{9100} ||
            request.timeoutMs != 300)
            refuse(QStringLiteral("--all, --force, --port and --timeout-ms apply to a network "
                                  "sweep, not to --local."));
        return discoverLocal(request, out, err);
    }
    if (request.ranges.isEmpty())
        refuse(QStringLiteral("discover needs an address range (such as 192.168.1.0/24) or "
                              "--local."));
    if (!request.deviceDir.isEmpty() || !request.probe)
        refuse(QStringLiteral("--device-dir and --no-probe apply to --local."));
    return discoverNetwork(request, out, err);
}

} // namespace krv::cli
