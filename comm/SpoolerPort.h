#pragma once

#include "PortAbort.h"
#include "PrinterPort.h"
#include "RuntimeError.h"

#include <QDeadlineTimer>
#include <QString>
#include <QStringList>

typedef struct _http_s http_t;

namespace krv::comm {

// One raw job (no filtering) on a CUPS queue per open-send-close. A job that
// was not sent whole is cancelled, so nothing half-made ever prints.
class SpoolerPort : public PrinterPort {
public:
    // An empty queue name means the system's default queue.
    explicit SpoolerPort(QString queue);
    ~SpoolerPort() override;

    void OpenPort() override;
    void SendData(const QByteArray &data) override;
    void ClosePort() override;
    void abort() override { mAbort.abort(); }
    [[nodiscard]] QString noStatusReason() const override;

    static constexpr const char *JobTitle = "KRV520 Configuration Utility";

private:
    void cancelJob();
    void disconnect();
    void beginStep();
    static int keepWaiting(http_t *http, void *port);

    QString mQueue;
    QByteArray mDestination; // the queue actually used
    http_t *mHttp = nullptr;
    int mJob = 0;
    bool mDocumentStarted = false;
    bool mFailed = false;
    SocketAbort mAbort; // disarmed before every close of mHttp
    QDeadlineTimer mStepDeadline;
};

// How long a request to the scheduler may go unanswered.
inline constexpr double SpoolerRequestTimeoutS = 10.0;

// A connection to the scheduler in use, or a RuntimeError naming it. A
// request on it that gets no answer within `answerSeconds` fails, and
// spoolerSilent() then tells it apart from a refusal.
[[nodiscard]] http_t *connectToSpooler(double answerSeconds = SpoolerRequestTimeoutS);
// The queues the scheduler behind `http` lists, each once (instances left out).
[[nodiscard]] QStringList queueNames(http_t *http);
[[nodiscard]] bool spoolerSilent(http_t *http);
// One request up front: throws spoolerNoAnswer when the scheduler does not
// answer it. The library's own look-ups make several requests and some
// browse the network as well, so a silent scheduler would hold each of them
// for many times the bound.
void requireSpoolerAnswer(http_t *http, double answerSeconds);
// The error for a scheduler that accepted the connection but did not answer.
[[nodiscard]] RuntimeError spoolerNoAnswer(double answerSeconds);

} // namespace krv::comm
