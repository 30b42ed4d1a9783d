#pragma once

#include "PrinterPort.h"

#include <QString>

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

    static constexpr const char *JobTitle = "KRV520 Configuration Utility";

private:
    void cancelJob();
    void disconnect();

    QString mQueue;
    QByteArray mDestination; // the queue actually used
    http_t *mHttp = nullptr;
    int mJob = 0;
    bool mDocumentStarted = false;
    bool mFailed = false;
};

// A connection to the scheduler in use, or a RuntimeError naming it.
[[nodiscard]] http_t *connectToSpooler();

} // namespace krv::comm
