// krv-bench-send: the time from the start of the Download Settings handler
// to the last byte arriving at a listener on 127.0.0.1, on the real window
// with the longest download selected. The handler starts a job and returns;
// "handler" below is the time until the window has the job's outcome.
//
//   krv-bench-send [--runs N] [--warmup N] [--port N]
//
// With --port the window sends to a printer already listening on
// 127.0.0.1:N (the virtual printer) and only the handler's duration is
// known: "result send-printer runs=N bytes=B handler_us_median=...".
//
// Prints one line per run ("run N LAST_BYTE_US HANDLER_US"), then
//   result send runs=N bytes=B last_byte_us_median=... (q1, q3, p90, min, max)
//          handler_us_median=...
// Exits 1 when a send fails or the listener gets other bytes than the batch.
#include "Listener.h"
#include "LongestSelection.h"
#include "Stats.h"

#include "ConnectionSettings.h"
#include "JobProgress.h"
#include "RuntimeError.h"
#include "VelaComm.h"
#include "frmMain.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <vector>

namespace {

using Clock = krv::bench::Listener::Clock;
using krv::bench::parseCount;

double microseconds(Clock::duration d) {
    return std::chrono::duration<double, std::micro>(d).count();
}

int measure(int runs, int warmup, std::optional<quint16> printerPort) {
    std::optional<krv::bench::Listener> listener;
    if (!printerPort)
        listener.emplace();

    krv::app::frmMain window;
    window.Form_Load();
    window.showCentred();
    QApplication::processEvents();

    krv::comm::ConnectionSettings connection;
    connection.kind = krv::comm::ConnectionSettings::Kind::Tcp;
    connection.host = QStringLiteral("127.0.0.1");
    connection.port = printerPort ? *printerPort : listener->port();
    window.VelaComm1()->setSettings(connection);

    const krv::settings::Selection longest = krv::bench::longestSelection();
    for (std::size_t i = 0; i < krv::settings::SettingCount; ++i) {
        const std::string_view name = krv::settings::catalogue()[i].comboName;
        auto *list =
            window.findChild<QComboBox *>(QString::fromLatin1(name.data(), qsizetype(name.size())));
        if (!list)
            throw std::runtime_error("the window has no list " + std::string(name));
        list->setCurrentIndex(longest[i]);
    }
    const QByteArray expected = krv::settings::makeSettingsBatch(longest);

    // A failed send shows its error box; note it and close it.
    QString failure;
    QTimer boxes;
    QObject::connect(&boxes, &QTimer::timeout, &window, [&failure] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            failure = box->text();
            box->accept();
        }
    });
    boxes.start(50);

    std::vector<double> lastByte;
    std::vector<double> handler;
    for (int run = 0; run < warmup + runs; ++run) {
        const Clock::time_point start = Clock::now();
        window.butDownload_Click();
        while (window.runningJob())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        const Clock::time_point returned = Clock::now();
        if (!failure.isEmpty())
            throw std::runtime_error(failure.toStdString());
        std::optional<krv::bench::Listener::Job> job;
        if (listener) {
            job = listener->takeJob(std::chrono::seconds(5));
            if (!job)
                throw std::runtime_error("the listener got no job within 5 s");
            if (job->bytes != expected)
                throw std::runtime_error("the listener got " + std::to_string(job->bytes.size()) +
                                         " bytes that are not the " +
                                         std::to_string(expected.size()) + "-byte batch");
        }
        if (run < warmup)
            continue;
        handler.push_back(microseconds(returned - start));
        if (job)
            lastByte.push_back(microseconds(job->lastByte - start));
        std::printf("run %d %.1f %.1f\n", run - warmup + 1, job ? lastByte.back() : 0.0,
                    handler.back());
    }
    window.close();

    const krv::bench::Summary whole = krv::bench::summarise(handler);
    if (!listener) {
        // Another printer: only the handler's own end is known, which comes
        // once the printer has closed its side after reading everything.
        std::printf("result send-printer runs=%zu bytes=%lld handler_us_median=%.1f "
                    "handler_us_q1=%.1f handler_us_q3=%.1f handler_us_p90=%.1f "
                    "handler_us_min=%.1f handler_us_max=%.1f\n",
                    whole.count, static_cast<long long>(expected.size()), whole.median, whole.q1,
                    whole.q3, krv::bench::quantile(handler, 0.9), whole.min, whole.max);
        return 0;
    }
    const krv::bench::Summary last = krv::bench::summarise(lastByte);
    std::printf("result send runs=%zu bytes=%lld last_byte_us_median=%.1f last_byte_us_q1=%.1f "
                "last_byte_us_q3=%.1f last_byte_us_p90=%.1f last_byte_us_min=%.1f "
                "last_byte_us_max=%.1f handler_us_median=%.1f\n",
                last.count, static_cast<long long>(expected.size()), last.median, last.q1, last.q3,
                krv::bench::quantile(lastByte, 0.9), last.min, last.max, whole.median);
    return 0;
}

} // namespace

int main(int argc, char *argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The window stores its connection on close; the listener's address must
    // never end up in the operator's own configuration.
    const QTemporaryDir configHome;
    if (!configHome.isValid()) {
        std::fprintf(stderr, "cannot make a temporary configuration folder\n");
        return 1;
    }
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(configHome.path()));
    QApplication application(argc, argv);

    int runs = 200;
    int warmup = 10;
    std::optional<quint16> printerPort;
    const QStringList args = QApplication::arguments();
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QByteArray arg = args[i].toLocal8Bit();
        const QByteArray value = i + 1 < args.size() ? args[i + 1].toLocal8Bit() : QByteArray();
        if (arg == "--runs" && parseCount(value.constData(), 1, runs)) {
            ++i;
        } else if (arg == "--warmup" && parseCount(value.constData(), 0, warmup)) {
            ++i;
        } else if (int port = 0;
                   arg == "--port" && parseCount(value.constData(), 1, port) && port <= 65535) {
            printerPort = quint16(port);
            ++i;
        } else {
            std::fprintf(stderr, "usage: krv-bench-send [--runs N] [--warmup N] [--port N]\n");
            return 2;
        }
    }

    try {
        return measure(runs, warmup, printerPort);
    } catch (const krv::RuntimeError &error) {
        std::fprintf(stderr, "Download Settings failed: error %d: %s\n", int(error.number()),
                     qPrintable(error.description()));
    } catch (const std::exception &error) {
        std::fprintf(stderr, "%s\n", error.what());
    }
    return 1;
}
