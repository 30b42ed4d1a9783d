#include "Simulator.h"

#include "Job.h"
#include "SerialLine.h"

#include <QBuffer>
#include <QFileInfo>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

#include <algorithm>
#include <utility>

namespace krv::sim {

Simulator::Simulator(Options options, QObject *parent)
    : QObject(parent), mOptions(std::move(options)), mStatus(mOptions.status),
      mServer(new QTcpServer(this)), mHoldTimer(new QTimer(this)), mIdleTimer(new QTimer(this)) {
    connect(mServer, &QTcpServer::newConnection, this, &Simulator::takeNextConnection);
    mHoldTimer->setSingleShot(true);
    connect(mHoldTimer, &QTimer::timeout, this, &Simulator::releaseSender);
    mIdleTimer->setSingleShot(true);
    connect(mIdleTimer, &QTimer::timeout, this, &Simulator::serialIdle);
}

Simulator::~Simulator() = default;

void Simulator::readStatusFile() {
    if (mOptions.statusFile.isEmpty())
        return;
    QFile file(mOptions.statusFile);
    // A file being rewritten may be empty for a moment: the state stays.
    const QByteArray word = file.open(QIODevice::ReadOnly) ? file.read(64).trimmed() : QByteArray();
    if (word.isEmpty() || word == mStatusWord)
        return;
    mStatusWord = word;
    if (const auto state = StatusAnswer::parse(QString::fromLatin1(word))) {
        mStatus.setState(*state);
        report(QStringLiteral("status: %1").arg(mStatus.name()));
    } else {
        report(QStringLiteral("status file: %1 is not one of %2; the status stays %3")
                   .arg(QString::fromLatin1(word.toPercentEncoding()), StatusAnswer::names(),
                        mStatus.name()));
    }
}

namespace {

// The folder a "%1" path pattern writes into, or an empty string when it can
// be written there.
QString unwritableFolder(const QString &pattern) {
    const QString folder =
        QFileInfo(QString(pattern).replace(QLatin1String("%1"), QStringLiteral("1")))
            .absolutePath();
    if (::access(QFile::encodeName(folder).constData(), W_OK | X_OK) == 0)
        return {};
    return QStringLiteral("%1: %2").arg(folder, QString::fromLocal8Bit(std::strerror(errno)));
}

} // namespace

void Simulator::fail(const QString &message) {
    std::fprintf(stderr, "krv520-sim: %s\n", message.toLocal8Bit().constData());
    std::fflush(stderr);
    if (!mFailed) {
        mFailed = true;
        emit finished();
    }
}

void Simulator::report(const QString &line) {
    const QByteArray bytes = line.toUtf8() + '\n';
    // A test or script following the lines must not miss one unawares.
    if (!mStdoutFailed && (std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stdout) !=
                               std::size_t(bytes.size()) ||
                           std::fflush(stdout) != 0)) {
        mStdoutFailed = true;
        fail(QStringLiteral("cannot write to standard output: %1")
                 .arg(QString::fromLocal8Bit(std::strerror(errno))));
    }
    if (mLog.isOpen() && !mLogFailed && (mLog.write(bytes) != bytes.size() || !mLog.flush())) {
        mLogFailed = true;
        fail(QStringLiteral("cannot write the log %1: %2")
                 .arg(mOptions.logPath, mLog.errorString()));
    }
}

bool Simulator::prepare() {
    if (!mOptions.logPath.isEmpty()) {
        mLog.setFileName(mOptions.logPath);
        if (!mLog.open(QIODevice::WriteOnly | QIODevice::Append)) {
            report(QStringLiteral("cannot open the log %1: %2")
                       .arg(mOptions.logPath, mLog.errorString()));
            return false;
        }
    }
    for (const QString *pattern : {&mOptions.pngPath, &mOptions.capturePath}) {
        if (pattern->isEmpty())
            continue;
        if (const QString folder = unwritableFolder(*pattern); !folder.isEmpty()) {
            fail(QStringLiteral("cannot write %1 into the folder %2").arg(*pattern, folder));
            return false;
        }
    }
    if (!mOptions.statePath.isEmpty()) {
        QString error;
        if (!mSwitches.load(mOptions.statePath, &error)) {
            report(error);
            return false;
        }
    }
    return true;
}

bool Simulator::listen() {
    if (mOptions.serial) {
        mLine = new SerialLine(this);
        if (!mLine->openLine()) {
            report(QStringLiteral("cannot open a serial line: %1").arg(mLine->errorString()));
            return false;
        }
        connect(mLine, &SerialLine::readyRead, this, &Simulator::takeSerialData);
        connect(mLine, &SerialLine::hungUp, this, &Simulator::endSerialJob);
        connect(mLine, &SerialLine::broken, this, &Simulator::fail);
        report(QStringLiteral("listening on %1").arg(mLine->path()));
        return true;
    }
    // Loopback only: the simulator is a test peer, not a network printer.
    const QHostAddress address(mOptions.address);
    if (!address.isLoopback() || !mServer->listen(address, mOptions.port)) {
        report(QStringLiteral("cannot listen on %1:%2: %3")
                   .arg(mOptions.address)
                   .arg(mOptions.port)
                   .arg(address.isLoopback() ? mServer->errorString()
                                             : QStringLiteral("not a loopback address")));
        return false;
    }
    report(QStringLiteral("listening on %1:%2").arg(mOptions.address).arg(mServer->serverPort()));
    return true;
}

int Simulator::decodeFile(const QString &path) {
    // A device or a pipe would give an endless or an empty "job".
    const QFileInfo info(path);
    QString refusal;
    if (!info.exists())
        refusal = QStringLiteral("no such file");
    else if (!info.isFile())
        refusal = QStringLiteral("not a regular file");
    else if (info.size() > MaxDecodeBytes)
        refusal = QStringLiteral("%1 bytes, more than the %2 a captured job may have")
                      .arg(info.size())
                      .arg(MaxDecodeBytes);
    QFile file(path);
    if (refusal.isEmpty() && !file.open(QIODevice::ReadOnly))
        refusal = file.errorString();
    if (!refusal.isEmpty()) {
        report(QStringLiteral("cannot read %1: %2").arg(path, refusal));
        return 2;
    }
    Job job(mSwitches, mOptions.statePath, [this](const QString &line) { report(line); });
    // In pieces, as a connection would deliver it.
    for (qint64 left = MaxDecodeBytes; left > 0;) {
        const QByteArray chunk = file.read(std::min<qint64>(left, 64 * 1024));
        if (chunk.isEmpty())
            break;
        left -= chunk.size();
        job.feed(chunk);
    }
    job.finish();
    report(QStringLiteral("job %1: %2").arg(path, job.summary()));
    writeReceipt(job, 1);
    if (mFailed)
        return 2;
    return job.problems() == 0 ? 0 : 1;
}

int Simulator::decodeBytes(const QString &name, const QByteArray &bytes) {
    Job job(mSwitches, mOptions.statePath, [this](const QString &line) { report(line); });
    job.feed(bytes);
    job.finish();
    report(QStringLiteral("job %1: %2").arg(name, job.summary()));
    writeReceipt(job, 1);
    if (mFailed)
        return 2;
    return job.problems() == 0 ? 0 : 1;
}

void Simulator::takeNextConnection() {
    while (mOptions.oneConnection && mCurrent && mServer->hasPendingConnections()) {
        QTcpSocket *other = mServer->nextPendingConnection();
        report(QStringLiteral("busy: hung up on %1:%2")
                   .arg(other->peerAddress().toString())
                   .arg(other->peerPort()));
        other->abort();
        other->deleteLater();
    }
    if (mCurrent || !mServer->hasPendingConnections())
        return;
    QTcpSocket *socket = mServer->nextPendingConnection();
    beginJob(socket, QStringLiteral("connection from %1:%2")
                         .arg(socket->peerAddress().toString())
                         .arg(socket->peerPort()));
    connect(socket, &QTcpSocket::readyRead, this, &Simulator::readCurrent);
    connect(socket, &QTcpSocket::disconnected, this, &Simulator::endCurrent);
    // Data may have arrived with the connection, and a short job may even be
    // over already.
    readCurrent();
    if (socket->state() == QAbstractSocket::UnconnectedState)
        endCurrent();
}

void Simulator::beginJob(QIODevice *from, const QString &who) {
    mCurrent = from;
    readStatusFile();
    ++mJobNumber;
    report(QStringLiteral("job %1: %2").arg(mJobNumber).arg(who));
    mJob = std::make_unique<Job>(mSwitches, mOptions.statePath,
                                 [this](const QString &line) { report(line); });
    mCaptured.clear();
    mStatus.reset();
    mJobBytes = 0;
    mBytesAtXoff = -1;
}

// A serial line has no connection to accept: a sender's first bytes begin
// its job. It ends when the sender closes the terminal end and the line is
// seen to hang up, after the closing command of a settings batch (#W00000),
// before an initialize command (ESC @) that follows other bytes, or after
// --idle-ms without a byte while the sender is not held back. A sender that
// opens the line before the last one's hang-up has been seen would otherwise
// be taken for more of the same job.
void Simulator::takeSerialData() {
    takeBytes(mLine->readAll());
    if ((mJob || !mEscapeHeld.isEmpty()) && !mHoldTimer->isActive() && mOptions.idleMs > 0)
        mIdleTimer->start(mOptions.idleMs);
}

void Simulator::serialIdle() {
    if (!mHoldTimer->isActive())
        endSerialJob();
}

void Simulator::endSerialJob() {
    takeBytes(mLine->readAll());
    if (!mEscapeHeld.isEmpty() && !mDone && !mFailed) {
        if (!mJob)
            beginJob(mLine, QStringLiteral("data on %1").arg(mLine->path()));
        feedJob(std::exchange(mEscapeHeld, QByteArray()));
    }
    if (mJob && mCurrent == mLine)
        finishJob(QString());
}

void Simulator::readCurrent() {
    if (!mCurrent || !mJob)
        return;
    if (mCurrent == mLine)
        takeBytes(mCurrent->readAll());
    else
        feedJob(mCurrent->readAll());
}

void Simulator::takeBytes(QByteArrayView bytes) {
    const QByteArray data = std::exchange(mEscapeHeld, QByteArray()) + bytes.toByteArray();
    QByteArrayView rest(data);
    while (!rest.isEmpty() && !mDone && !mFailed) {
        // An ESC that ends what has come may begin ESC @: the next byte tells.
        if (rest.size() == 1 && rest[0] == '\x1b') {
            mEscapeHeld = rest.toByteArray();
            return;
        }
        if (mJob && mJob->bytes() > 0 && rest.startsWith("\x1b@"))
            finishJob(QString());
        // Between jobs a status request (a sender asking after its job, or
        // only asking) is answered and begins no job of its own.
        if (!mJob && rest.startsWith('\x10')) {
            if (rest.size() < 3 && QByteArrayView("\x10\x04").startsWith(rest)) {
                mEscapeHeld = rest.toByteArray();
                return;
            }
            if (rest.size() >= 3 && rest[1] == '\x04' && rest[2] >= 1 && rest[2] <= 4) {
                if (const auto answer = mStatus.answer(rest[2]))
                    mLine->write(&*answer, 1);
                rest = rest.sliced(3);
                continue;
            }
        }
        if (!mJob)
            beginJob(mLine, QStringLiteral("data on %1").arg(mLine->path()));
        // A piece ends after a NUL, where the closing command ends, or before
        // the next ESC, which may be an initialize.
        qsizetype piece = rest.size();
        if (const qsizetype nul = rest.indexOf('\0'); nul >= 0)
            piece = nul + 1;
        if (const qsizetype escape = rest.sliced(1).indexOf('\x1b'); escape >= 0)
            piece = std::min(piece, escape + 1);
        feedJob(rest.first(piece));
        rest = rest.sliced(piece);
        if (mJob && mJob->stored())
            finishJob(QString());
    }
}

void Simulator::feedJob(QByteArrayView bytes) {
    if (!mOptions.capturePath.isEmpty())
        mCaptured += bytes;
    // Status requests are answered as they arrive, mid-job too.
    if (const QByteArray reply = mStatus.feed(bytes.toByteArray()); !reply.isEmpty() && canAnswer())
        mCurrent->write(reply);
    mJob->feed(bytes);
    mJobBytes += bytes.size();
    if (mLine && mCurrent == mLine && mOptions.xoffAfter >= 0 && mBytesAtXoff < 0 &&
        mJobBytes >= mOptions.xoffAfter)
        holdSender();
}

// The serial line can always take an answer; a TCP peer only while connected.
bool Simulator::canAnswer() const {
    if (mCurrent == mLine)
        return true;
    const auto *socket = qobject_cast<const QTcpSocket *>(mCurrent.data());
    return socket && socket->state() == QAbstractSocket::ConnectedState;
}

void Simulator::holdSender() {
    mBytesAtXoff = mJobBytes;
    report(QStringLiteral("job %1: XOFF after %2 bytes, XON in %3 ms")
               .arg(mJobNumber)
               .arg(mJobBytes)
               .arg(mOptions.holdMs));
    if (mLine->write("\x13", 1) != 1)
        report(
            QStringLiteral("job %1: XOFF not sent: %2").arg(mJobNumber).arg(mLine->errorString()));
    mIdleTimer->stop();
    mHoldTimer->start(mOptions.holdMs);
}

void Simulator::releaseSender() {
    mHoldTimer->stop();
    // Said before the byte goes out: whoever sees the sender move again
    // finds the line already there.
    report(QStringLiteral("job %1: XON, %2 bytes came while held")
               .arg(mJobNumber)
               .arg(mJobBytes - mBytesAtXoff));
    if (mLine->write("\x11", 1) != 1)
        report(
            QStringLiteral("job %1: XON not sent: %2").arg(mJobNumber).arg(mLine->errorString()));
    if (mJob && mOptions.idleMs > 0)
        mIdleTimer->start(mOptions.idleMs);
}

void Simulator::endCurrent() {
    readCurrent();
    if (!mCurrent || !mJob)
        return;
    QString lost;
    if (const auto *socket = qobject_cast<QTcpSocket *>(mCurrent.data())) {
        const auto error = socket->error();
        if (error != QAbstractSocket::RemoteHostClosedError &&
            error != QAbstractSocket::UnknownSocketError)
            lost = QStringLiteral(", connection lost: ") + socket->errorString();
    }
    if (!finishJob(lost))
        takeNextConnection();
}

bool Simulator::finishJob(const QString &lost) {
    // A sender gone while held is let go, or the next one would start stopped.
    if (mHoldTimer->isActive())
        releaseSender();
    mIdleTimer->stop();
    mJob->finish();
    // A printer that is not ready still takes the job into its buffer and
    // prints it once it is ready again.
    const QString waiting = mStatus.ready() ? QString()
                                            : QStringLiteral("; the printer was not ready (%1): "
                                                             "the job waits in its buffer")
                                                  .arg(mStatus.name());
    report(
        QStringLiteral("job %1: %2%3%4").arg(mJobNumber).arg(mJob->summary()).arg(waiting, lost));
    writeReceipt(*mJob, mJobNumber);
    writeCapture(mJobNumber);
    mJob.reset();
    QIODevice *done = mCurrent;
    mCurrent.clear();
    // The serial line stays for the next sender; a connection is done with.
    if (done != mLine) {
        done->disconnect(this);
        done->deleteLater();
    }
    if (mOptions.jobs > 0 && mJobNumber >= mOptions.jobs) {
        mDone = true;
        mServer->close();
        emit finished();
        return true;
    }
    return false;
}

void Simulator::writeCapture(int number) {
    if (mOptions.capturePath.isEmpty())
        return;
    QString path = mOptions.capturePath;
    path.replace(QLatin1String("%1"), QString::number(number));
    QFile file(path);
    // Written whole when the job ends, so a reader that sees the line sees
    // every byte.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(mCaptured) != mCaptured.size() || !file.flush()) {
        report(QStringLiteral("cannot write the capture %1").arg(path));
        fail(QStringLiteral("cannot write the capture %1: %2").arg(path, file.errorString()));
    } else
        report(QStringLiteral("capture %1 (%2 bytes)").arg(path).arg(mCaptured.size()));
    mCaptured.clear();
}

void Simulator::writeReceipt(Job &job, int number) {
    if (mOptions.pngPath.isEmpty() || !job.printable())
        return;
    const QImage image = job.receipt();
    QString path = mOptions.pngPath;
    path.replace(QLatin1String("%1"), QString::number(number));
    // Black on white: grey levels keep the file small and the edges smooth.
    // Encoded in memory first: QImage::save() does not see a failed flush.
    QByteArray png;
    QBuffer buffer(&png);
    QFile file(path);
    if (image.isNull() || !buffer.open(QIODevice::WriteOnly) ||
        !image.convertToFormat(QImage::Format_Grayscale8).save(&buffer, "PNG") ||
        !file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(png) != png.size() ||
        !file.flush()) {
        report(QStringLiteral("cannot write the receipt %1").arg(path));
        fail(QStringLiteral("cannot write the receipt %1: %2").arg(path, file.errorString()));
    } else
        report(QStringLiteral("receipt %1 (%2 x %3 dots)")
                   .arg(path)
                   .arg(image.width())
                   .arg(image.height()));
}

} // namespace krv::sim
