#include "SpoolerPort.h"

#include "CommErrors.h"
#include "ConnectionSettings.h"
#include "RuntimeError.h"
#include "StatusQuery.h"

#include <QByteArray>

#include <cups/cups.h>

#include <algorithm>
#include <cerrno>

namespace krv::comm {

namespace {

constexpr int ConnectTimeoutMs = 5000;
// How often a wait on the scheduler looks up from the socket: the library
// reconnects on its own after a broken connection, to a socket an abort has
// not shut down, so an abort is also noticed here.
constexpr double WaitSliceS = 0.1;

QString lastCupsError() {
    return QString::fromUtf8(cupsLastErrorString());
}

QString schedulerName() {
    const QString server = QString::fromUtf8(cupsServer());
    if (server.startsWith(QLatin1Char('/')))
        return server; // a local socket
    return QStringLiteral("%1:%2").arg(server).arg(ippPort());
}

// Deliberately short: a queue that has disappeared is reported at once.
bool queueExists(http_t *http, const char *name) {
    cups_dest_t *dest = cupsGetNamedDest(http, name, nullptr);
    if (!dest)
        return false;
    cupsFreeDests(1, dest);
    return true;
}

} // namespace

http_t *connectToSpooler(double answerSeconds) {
    http_t *http = httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1,
                                std::min(ConnectTimeoutMs, int(answerSeconds * 1000)), nullptr);
    // CUPS words a refused connection as "Host is down", which sends the
    // operator after the wrong machine; say what is known instead.
    if (!http)
        throw RuntimeError(errors::SpoolerUnavailable,
                           QStringLiteral("The print spooler (CUPS at %1) cannot be reached: it "
                                          "is not running there or does not accept connections.")
                               .arg(schedulerName()));
    // Without a callback a wait that runs out fails the request with
    // ETIMEDOUT instead of waiting again.
    httpSetTimeout(http, answerSeconds, nullptr, nullptr);
    return http;
}

bool spoolerSilent(http_t *http) {
    return http && httpError(http) == ETIMEDOUT;
}

void requireSpoolerAnswer(http_t *http, double answerSeconds) {
    ipp_t *response = cupsDoRequest(http, ippNewRequest(IPP_OP_CUPS_GET_DEFAULT), "/");
    const bool silent = !response && spoolerSilent(http);
    ippDelete(response);
    if (silent)
        throw spoolerNoAnswer(answerSeconds);
}

RuntimeError spoolerNoAnswer(double answerSeconds) {
    return RuntimeError(errors::SpoolerNoAnswer,
                        QStringLiteral("The print spooler at %1 did not answer within %2 s.")
                            .arg(schedulerName())
                            .arg(answerSeconds));
}

QStringList queueNames(http_t *http) {
    cups_dest_t *dests = nullptr;
    const int count = cupsGetDests2(http, &dests);
    QStringList names;
    for (int i = 0; i < count; ++i)
        if (!dests[i].instance && !names.contains(QString::fromUtf8(dests[i].name)))
            names.append(QString::fromUtf8(dests[i].name));
    cupsFreeDests(count, dests);
    return names;
}

SpoolerPort::SpoolerPort(QString queue) : mQueue(std::move(queue)) {}

SpoolerPort::~SpoolerPort() {
    cancelJob();
    disconnect();
}

void SpoolerPort::cancelJob() {
    if (mHttp && mJob > 0) {
        if (mDocumentStarted) {
            // The scheduler keeps a started document open until the request
            // ends; dropping the connection ends it, a fresh one cancels.
            mAbort.disarm();
            httpClose(mHttp);
            mHttp = httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1,
                                 ConnectTimeoutMs, nullptr);
            // Not armed: the cancel must reach the scheduler even after an
            // abort, and a silent one holds it only this long.
            if (mHttp)
                httpSetTimeout(mHttp, SpoolerRequestTimeoutS, nullptr, nullptr);
        }
        if (mHttp)
            cupsCancelJob2(mHttp, mDestination.constData(), mJob, 0);
    }
    mJob = 0;
    mDocumentStarted = false;
}

void SpoolerPort::disconnect() {
    mAbort.disarm();
    if (mHttp)
        httpClose(mHttp);
    mHttp = nullptr;
}

void SpoolerPort::OpenPort() {
    cancelJob();
    disconnect();
    mFailed = false;
    mHttp = connectToSpooler();
    mAbort.arm(httpGetFd(mHttp));
    httpSetTimeout(mHttp, WaitSliceS, &SpoolerPort::keepWaiting, this);
    beginStep();
    try {
        requireSpoolerAnswer(mHttp, SpoolerRequestTimeoutS);
    } catch (const RuntimeError &) {
        disconnect();
        throw;
    }

    mDestination = mQueue.toUtf8();
    if (mDestination.isEmpty()) {
        cups_dest_t *dest = cupsGetNamedDest(mHttp, nullptr, nullptr);
        if (!dest) {
            const bool silent = spoolerSilent(mHttp);
            disconnect();
            if (silent)
                throw spoolerNoAnswer(SpoolerRequestTimeoutS);
            throw RuntimeError(errors::SpoolerNoDefaultQueue,
                               QStringLiteral("No print queue is chosen and the print spooler "
                                              "has no default queue."));
        }
        mDestination = dest->name;
        cupsFreeDests(1, dest);
    } else if (!queueExists(mHttp, mDestination.constData())) {
        const bool silent = spoolerSilent(mHttp);
        disconnect();
        if (silent)
            throw spoolerNoAnswer(SpoolerRequestTimeoutS);
        throw RuntimeError(errors::SpoolerQueueMissing,
                           QStringLiteral("The print queue \"%1\" does not exist on the print "
                                          "spooler (CUPS at %2).")
                               .arg(mQueue, schedulerName()));
    }

    mJob = cupsCreateJob(mHttp, mDestination.constData(), JobTitle, 0, nullptr);
    if (mJob <= 0) {
        const bool missing = cupsLastError() == IPP_STATUS_ERROR_NOT_FOUND;
        const QString reason = lastCupsError();
        const bool silent = spoolerSilent(mHttp);
        mJob = 0;
        disconnect();
        if (silent)
            throw spoolerNoAnswer(SpoolerRequestTimeoutS);
        throw RuntimeError(missing ? errors::SpoolerQueueMissing : errors::SpoolerJobFailed,
                           QStringLiteral("The print queue \"%1\" did not accept a new job: %2.")
                               .arg(QString::fromUtf8(mDestination), reason));
    }
}

void SpoolerPort::beginStep() {
    mStepDeadline.setRemainingTime(qint64(SpoolerRequestTimeoutS * 1000));
}

// Each step (open, send, close) has the whole bound; a wait that runs past it
// or is aborted fails with ETIMEDOUT.
int SpoolerPort::keepWaiting(http_t * /*http*/, void *port) {
    const auto *self = static_cast<const SpoolerPort *>(port);
    return !self->mAbort.aborted() && !self->mStepDeadline.hasExpired();
}

void SpoolerPort::SendData(const QByteArray &data) {
    if (!mHttp || mJob <= 0)
        throw RuntimeError(errors::NotOpen,
                           QStringLiteral("No print job is open on the queue \"%1\".")
                               .arg(QString::fromUtf8(mDestination)));
    mFailed = true;
    beginStep();
    if (!mDocumentStarted) {
        if (cupsStartDocument(mHttp, mDestination.constData(), mJob, JobTitle, CUPS_FORMAT_RAW,
                              1) != HTTP_STATUS_CONTINUE)
            throw RuntimeError(errors::SpoolerJobFailed,
                               QStringLiteral("The print queue \"%1\" did not accept the job's "
                                              "data: %2.")
                                   .arg(QString::fromUtf8(mDestination), lastCupsError()));
        mDocumentStarted = true;
    }
    if (!data.isEmpty() &&
        cupsWriteRequestData(mHttp, data.constData(), size_t(data.size())) != HTTP_STATUS_CONTINUE)
        throw RuntimeError(errors::SpoolerWriteFailed,
                           QStringLiteral("Could not pass the job to the print queue \"%1\": %2.")
                               .arg(QString::fromUtf8(mDestination), lastCupsError()));
    mFailed = false;
}

void SpoolerPort::ClosePort() {
    if (!mHttp)
        return;
    if (mFailed || !mDocumentStarted) {
        // Nothing whole to print: an empty or broken job is cancelled.
        cancelJob();
        disconnect();
        return;
    }
    beginStep();
    const ipp_status_t status = cupsFinishDocument(mHttp, mDestination.constData());
    mDocumentStarted = false;
    if (status > IPP_STATUS_OK_CONFLICTING) {
        const QString reason = lastCupsError();
        cancelJob();
        disconnect();
        throw RuntimeError(errors::SpoolerFinishFailed,
                           QStringLiteral("The print queue \"%1\" refused the job: %2.")
                               .arg(QString::fromUtf8(mDestination), reason));
    }
    mJob = 0;
    disconnect();
}

QString SpoolerPort::noStatusReason() const {
    return noStatusThroughSpooler();
}

} // namespace krv::comm
