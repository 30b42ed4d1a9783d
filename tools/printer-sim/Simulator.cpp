#include "Simulator.h"

#include "Job.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

#include <cstdio>

namespace krv::sim {

Simulator::Simulator(Options options, QObject *parent)
    : QObject(parent), mOptions(std::move(options)), mServer(new QTcpServer(this)) {
    connect(mServer, &QTcpServer::newConnection, this, &Simulator::takeNextConnection);
}

Simulator::~Simulator() = default;

void Simulator::report(const QString &line) {
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stdout);
    std::fflush(stdout);
    if (mLog.isOpen()) {
        mLog.write(bytes);
        mLog.flush();
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
    // Loopback only: the simulator is a test peer, not a network printer.
    if (!mServer->listen(QHostAddress::LocalHost, mOptions.port)) {
        report(QStringLiteral("cannot listen on 127.0.0.1:%1: %2")
                   .arg(mOptions.port)
                   .arg(mServer->errorString()));
        return false;
    }
    report(QStringLiteral("listening on 127.0.0.1:%1").arg(mServer->serverPort()));
    return true;
}

int Simulator::decodeFile(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        report(QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
        return 2;
    }
    Job job(mSwitches, mOptions.statePath, [this](const QString &line) { report(line); });
    // In pieces, as a connection would deliver it.
    while (!file.atEnd()) {
        const QByteArray chunk = file.read(64 * 1024);
        if (chunk.isEmpty())
            break;
        job.feed(chunk);
    }
    job.finish();
    report(QStringLiteral("job %1: %2").arg(path, job.summary()));
    writeReceipt(job, 1);
    return job.problems() == 0 ? 0 : 1;
}

int Simulator::decodeBytes(const QString &name, const QByteArray &bytes) {
    Job job(mSwitches, mOptions.statePath, [this](const QString &line) { report(line); });
    job.feed(bytes);
    job.finish();
    report(QStringLiteral("job %1: %2").arg(name, job.summary()));
    writeReceipt(job, 1);
    return job.problems() == 0 ? 0 : 1;
}

void Simulator::takeNextConnection() {
    if (mCurrent || !mServer->hasPendingConnections())
        return;
    mCurrent = mServer->nextPendingConnection();
    ++mJobNumber;
    report(QStringLiteral("job %1: connection from %2:%3")
               .arg(mJobNumber)
               .arg(mCurrent->peerAddress().toString())
               .arg(mCurrent->peerPort()));
    mJob = std::make_unique<Job>(mSwitches, mOptions.statePath,
                                 [this](const QString &line) { report(line); });
    mCaptured.clear();
    connect(mCurrent, &QTcpSocket::readyRead, this, &Simulator::readCurrent);
    connect(mCurrent, &QTcpSocket::disconnected, this, &Simulator::endCurrent);
    // Data may have arrived with the connection, and a short job may even be
    // over already.
    readCurrent();
    if (mCurrent->state() == QAbstractSocket::UnconnectedState)
        endCurrent();
}

void Simulator::readCurrent() {
    if (!mCurrent || !mJob)
        return;
    const QByteArray bytes = mCurrent->readAll();
    if (!mOptions.capturePath.isEmpty())
        mCaptured += bytes;
    mJob->feed(bytes);
}

void Simulator::endCurrent() {
    if (!mCurrent || !mJob)
        return;
    readCurrent();
    const auto error = mCurrent->error();
    const bool reset = error != QAbstractSocket::RemoteHostClosedError &&
                       error != QAbstractSocket::UnknownSocketError;
    mJob->finish();
    report(QStringLiteral("job %1: %2%3")
               .arg(mJobNumber)
               .arg(mJob->summary())
               .arg(reset ? QStringLiteral(", connection lost: ") + mCurrent->errorString()
                          : QString()));
    writeReceipt(*mJob, mJobNumber);
    writeCapture(mJobNumber);
    mJob.reset();
    QTcpSocket *done = mCurrent;
    mCurrent.clear();
    done->disconnect(this);
    done->deleteLater();
    if (mOptions.jobs > 0 && mJobNumber >= mOptions.jobs) {
        mServer->close();
        emit finished();
        return;
    }
    takeNextConnection();
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
        file.write(mCaptured) != mCaptured.size() || !file.flush())
        report(QStringLiteral("cannot write the capture %1").arg(path));
    else
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
    if (image.isNull() || !image.convertToFormat(QImage::Format_Grayscale8).save(path, "PNG"))
        report(QStringLiteral("cannot write the receipt %1").arg(path));
    else
        report(QStringLiteral("receipt %1 (%2 x %3 dots)")
                   .arg(path)
                   .arg(image.width())
                   .arg(image.height()));
}

} // namespace krv::sim
