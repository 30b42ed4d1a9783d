// krv520-sim: a virtual KRV520 that listens for raw jobs on a loopback address or on
// a pseudo-terminal, or decodes a captured job from a file.
#include "Presets.h"
#include "Simulator.h"
#include "TestPage.h"

#include <QCommandLineParser>
#include <QGuiApplication>
#include <QHostAddress>
#include <QSocketNotifier>

#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(signalPipe[1], &byte, 1);
}

// SIGTERM and SIGINT end the event loop from inside it, so that the log is
// flushed and the socket closed as on a normal exit.
bool quitOnSignals(QCoreApplication &app) {
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return false;
    auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [&app] {
        char byte;
        [[maybe_unused]] const auto got = ::read(signalPipe[0], &byte, 1);
        app.quit();
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return sigaction(SIGTERM, &action, nullptr) == 0 && sigaction(SIGINT, &action, nullptr) == 0;
}

// Digits only, as on the utility's side: "+80" or " 80" is a typing mistake.
bool parsePort(const QString &text, quint16 *port) {
    uint value = 0;
    if (text.isEmpty() || text.size() > 5)
        return false;
    for (const QChar c : text) {
        if (c < u'0' || c > u'9')
            return false;
        value = value * 10 + uint(c.unicode() - u'0');
    }
    if (value > 65535)
        return false;
    *port = quint16(value);
    return true;
}

bool isLoopbackAddress(const QString &text) {
    const QByteArray bytes = text.toLatin1();
    unsigned char buffer[sizeof(in6_addr)];
    if (::inet_pton(AF_INET, bytes.constData(), buffer) != 1 &&
        ::inet_pton(AF_INET6, bytes.constData(), buffer) != 1)
        return false;
    return QHostAddress(text).isLoopback();
}

int usage(const QString &message) {
    std::fprintf(stderr, "krv520-sim: %s\n", qPrintable(message));
    return 2;
}

} // namespace

int main(int argc, char *argv[]) {
    // Receipts are drawn with QPainter, which needs a GUI application but
    // never a display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("krv520-sim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KRV_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("A virtual KRV520 receipt printer for trying the configuration utility "
                       "without one."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption port(QStringLiteral("port"),
                                  QStringLiteral("TCP port on 127.0.0.1 (default 9100; 0 picks a "
                                                 "free one)."),
                                  QStringLiteral("N"), QStringLiteral("9100"));
    const QCommandLineOption address(
        QStringLiteral("address"),
        QStringLiteral("The loopback address to listen on (default 127.0.0.1; any 127.0.0.N, so "
                       "that several printers can share a port number, or ::1)."),
        QStringLiteral("ADDR"), QStringLiteral("127.0.0.1"));
    const QCommandLineOption state(QStringLiteral("state"),
                                   QStringLiteral("File that keeps the stored memory switches."),
                                   QStringLiteral("FILE"));
    const QCommandLineOption png(QStringLiteral("png"),
                                 QStringLiteral("Draw each printed job as a PNG; %1 in the name "
                                                "becomes the job number."),
                                 QStringLiteral("FILE"));
    const QCommandLineOption log(QStringLiteral("log"),
                                 QStringLiteral("Append every output line to FILE too."),
                                 QStringLiteral("FILE"));
    const QCommandLineOption capture(QStringLiteral("capture"),
                                     QStringLiteral("Keep the raw bytes of each job in FILE; %1 in "
                                                    "the name becomes the job number."),
                                     QStringLiteral("FILE"));
    const QCommandLineOption jobs(QStringLiteral("jobs"),
                                  QStringLiteral("Exit after N connections."), QStringLiteral("N"));
    const QCommandLineOption once(QStringLiteral("once"),
                                  QStringLiteral("Exit after one connection."));
    const QCommandLineOption decode(QStringLiteral("decode"),
                                    QStringLiteral("Decode a captured job from FILE (a regular "
                                                   "file of at most 16 MiB) and exit (status 1 "
                                                   "when it has problems, 2 when unreadable)."),
                                    QStringLiteral("FILE"));
    const QCommandLineOption testPage(QStringLiteral("test-page"),
                                      QStringLiteral("Decode the utility's own test page as if it "
                                                     "had been sent, and exit."));
    const QCommandLineOption switchList(
        QStringLiteral("switches"),
        QStringLiteral(
            "Start with these switches stored: X=HHHH[,X=HHHH...] (X the switch "
            "digit); the others keep their values. The option itself writes nothing to --state."),
        QStringLiteral("LIST"));
    const QCommandLineOption profile(
        QStringLiteral("profile"),
        QStringLiteral("Start with the switches a krv520-cli profile would store, after "
                       "--switches. The option itself writes nothing to --state."),
        QStringLiteral("FILE"));
    const QCommandLineOption serial(
        QStringLiteral("serial"),
        QStringLiteral("Listen on a pseudo-terminal instead of TCP; its terminal end is "
                       "reported as \"listening on /dev/pts/N\". A line has no connection to "
                       "end a job: a job ends when the sender closes the terminal (once the "
                       "simulator sees the line hang up), right after the closing command "
                       "#W00000 of a settings batch, right before an initialize (ESC @) that "
                       "follows other bytes, or after --idle-ms without a byte while the sender "
                       "is not held back by XOFF."));
    const QCommandLineOption xoffAfter(
        QStringLiteral("xoff-after"),
        QStringLiteral("With --serial: send XOFF once a job has brought N bytes, and XON "
                       "--hold-ms later."),
        QStringLiteral("N"));
    const QCommandLineOption holdMs(QStringLiteral("hold-ms"),
                                    QStringLiteral("How long --xoff-after holds the sender back "
                                                   "(default 1000)."),
                                    QStringLiteral("MS"), QStringLiteral("1000"));
    const QCommandLineOption idleMs(
        QStringLiteral("idle-ms"),
        QStringLiteral("With --serial: how long the line may bring no byte before the job "
                       "ends (default 1000; 0: only the hang-up and the closing command end "
                       "it)."),
        QStringLiteral("MS"), QStringLiteral("1000"));
    const QCommandLineOption statusOption(
        QStringLiteral("status"),
        QStringLiteral("The printer status the real-time status requests (DLE EOT 1 to 4) are "
                       "answered with, on every connection and in the middle of a job too: "
                       "%1 (default ready; silent answers nothing).")
            .arg(krv::sim::StatusAnswer::names()),
        QStringLiteral("STATE"), QStringLiteral("ready"));
    const QCommandLineOption statusFile(
        QStringLiteral("status-file"),
        QStringLiteral("Read the status from FILE (one state word, as --status takes it) at the "
                       "start of each connection, so it can change while the simulator runs; "
                       "--status holds until the file names a state."),
        QStringLiteral("FILE"));
    const QCommandLineOption oneConnection(
        QStringLiteral("one-connection"),
        QStringLiteral("Hang up at once on a connection that comes while another is served, as a "
                       "printer with a single network session does (default: it waits its "
                       "turn)."));
    parser.addOptions({port, address, serial, xoffAfter, holdMs, idleMs, state, png, log, capture,
                       jobs, once, decode, testPage, switchList, profile, statusOption, statusFile,
                       oneConnection});
    parser.process(app);
    if (!parser.positionalArguments().isEmpty())
        return usage(QStringLiteral("unexpected argument %1").arg(parser.positionalArguments()[0]));

    krv::sim::Options options;
    bool ok = false;
    if (!parsePort(parser.value(port), &options.port))
        return usage(QStringLiteral("--port needs a number from 0 to 65535"));
    // Numeric only, and loopback only: the simulator is never a printer on
    // the network.
    options.address = parser.value(address);
    if (!isLoopbackAddress(options.address))
        return usage(QStringLiteral("--address needs a loopback address such as 127.0.0.2 or ::1"));
    if (parser.isSet(serial) && parser.isSet(address))
        return usage(QStringLiteral("--serial and --address exclude each other"));
    options.statePath = parser.value(state);
    options.pngPath = parser.value(png);
    options.logPath = parser.value(log);
    options.capturePath = parser.value(capture);
    if (parser.isSet(jobs)) {
        options.jobs = parser.value(jobs).toInt(&ok);
        if (!ok || options.jobs < 1)
            return usage(QStringLiteral("--jobs needs a number above 0"));
    }
    if (parser.isSet(once))
        options.jobs = 1;
    options.serial = parser.isSet(serial);
    if (options.serial && parser.isSet(port))
        return usage(QStringLiteral("--serial and --port exclude each other"));
    if ((parser.isSet(xoffAfter) || parser.isSet(holdMs) || parser.isSet(idleMs)) &&
        !options.serial)
        return usage(QStringLiteral("--xoff-after, --hold-ms and --idle-ms need --serial"));
    // A hold with nothing to hold would look like a sender that ignored it.
    if (parser.isSet(holdMs) && !parser.isSet(xoffAfter))
        return usage(QStringLiteral("--hold-ms needs --xoff-after"));
    if (parser.isSet(xoffAfter)) {
        options.xoffAfter = parser.value(xoffAfter).toLongLong(&ok);
        if (!ok || options.xoffAfter < 0)
            return usage(QStringLiteral("--xoff-after needs a number of bytes"));
    }
    options.holdMs = parser.value(holdMs).toInt(&ok);
    if (!ok || options.holdMs < 0)
        return usage(QStringLiteral("--hold-ms needs a number of milliseconds"));
    options.idleMs = parser.value(idleMs).toInt(&ok);
    if (!ok || options.idleMs < 0)
        return usage(QStringLiteral("--idle-ms needs a number of milliseconds"));
    if (const auto chosen = krv::sim::StatusAnswer::parse(parser.value(statusOption)))
        options.status = *chosen;
    else
        return usage(
            QStringLiteral("--status takes one of %1").arg(krv::sim::StatusAnswer::names()));

    options.statusFile = parser.value(statusFile);
    options.oneConnection = parser.isSet(oneConnection);

    krv::sim::Simulator simulator(std::move(options));
    if (!simulator.prepare())
        return 2;
    QString presetError;
    if ((parser.isSet(switchList) &&
         !krv::sim::storeSwitchList(simulator.switches(), parser.values(switchList).join(u','),
                                    &presetError)) ||
        (parser.isSet(profile) &&
         !krv::sim::storeProfile(simulator.switches(), parser.value(profile), &presetError)))
        return usage(presetError);
    if (parser.isSet(decode))
        return simulator.decodeFile(parser.value(decode));
    if (parser.isSet(testPage))
        return simulator.decodeBytes(QStringLiteral("test page"), krv::testprint::makeTestPage());

    if (!quitOnSignals(app))
        return usage(QStringLiteral("cannot install the signal handlers"));
    QObject::connect(&simulator, &krv::sim::Simulator::finished, &app, &QCoreApplication::quit);
    if (!simulator.listen() || simulator.failed())
        return 2;
    const int status = app.exec();
    simulator.report(QStringLiteral("stopped"));
    return simulator.failed() ? 2 : status;
}
