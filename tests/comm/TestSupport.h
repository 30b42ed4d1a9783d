#pragma once

// Real peers and measurements shared by the connection tests.
#include "PrinterPort.h"
#include "RuntimeError.h"
#include "SendToPrinter.h"

#include <QByteArray>
#include <QDir>
#include <QHostAddress>
#include <QList>
#include <QMutex>
#include <QSemaphore>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <sys/socket.h>

#include <atomic>
#include <memory>

namespace krv::test {

inline int openFileDescriptors() {
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System).size());
}

// A 127.0.0.1 port on which nothing listens.
inline quint16 closedPort() {
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort(); // closed again when the server goes
}

// The error a send raises, or number 0 when it succeeds.
inline RuntimeError sendError(comm::PrinterPort &port, const QByteArray &data) {
    try {
        comm::SendToPrinter(port, data);
    } catch (const RuntimeError &e) {
        return e;
    }
    return RuntimeError(0, QString());
}

inline QByteArray everyByteValue() {
    QByteArray bytes;
    for (int i = 0; i < 256; ++i)
        bytes.append(char(i));
    return bytes;
}

// A printer stand-in on 127.0.0.1 served from its own thread, because the
// sender under test blocks the thread it runs on.
class TcpPeer : public QThread {
public:
    enum class Mode {
        ReadAll,    // read to the end, then close: a well-behaved printer, ready
                    // when asked how it is after the job
        NeverRead,  // accept and hold the connection without reading
        ResetAfter, // read some bytes, then reset the connection
    };

    explicit TcpPeer(Mode mode, qint64 resetAfter = 0) : mMode(mode), mResetAfter(resetAfter) {
        start();
        mListening.acquire();
    }
    ~TcpPeer() override {
        mStop = true;
        wait();
    }

    [[nodiscard]] quint16 port() const { return mPort; }
    [[nodiscard]] int connections() const { return mConnections; }
    // What each finished connection delivered, in order; the status requests
    // after a job are not part of it.
    [[nodiscard]] QList<QByteArray> jobs() const {
        QMutexLocker lock(&mMutex);
        return mJobs;
    }
    // Waits (bounded) until `count` connections have finished.
    bool waitForJobs(int count, int ms = 30000) const {
        for (int waited = 0; waited < ms; waited += 10) {
            if (jobs().size() >= count)
                return true;
            QThread::msleep(10);
        }
        return false;
    }

protected:
    void run() override {
        QTcpServer server;
        server.listen(QHostAddress::LocalHost, 0);
        mPort = server.serverPort();
        mListening.release();
        while (!mStop) {
            if (!server.waitForNewConnection(20))
                continue;
            const std::unique_ptr<QTcpSocket> socket(server.nextPendingConnection());
            ++mConnections;
            serve(*socket);
        }
    }

private:
    void serve(QTcpSocket &socket) {
        QByteArray got;
        while (!mStop) {
            if (mMode == Mode::NeverRead) {
                QThread::msleep(10);
                continue;
            }
            if (socket.waitForReadyRead(20)) {
                got += socket.readAll();
                if (mMode == Mode::ReadAll && endsWithStatusRequest(got)) {
                    socket.write("\x12", 1); // no condition: ready
                    socket.flush();
                    ++mRequests;
                }
            } else if (socket.state() != QAbstractSocket::ConnectedState) {
                break;
            }
            if (mMode == Mode::ResetAfter && got.size() >= mResetAfter) {
                const linger abort{1, 0};
                ::setsockopt(int(socket.socketDescriptor()), SOL_SOCKET, SO_LINGER, &abort,
                             sizeof abort);
                break;
            }
        }
        got += socket.readAll();
        socket.abort();
        QMutexLocker lock(&mMutex);
        mJobs.append(got.chopped(3 * mRequests));
        mRequests = 0;
    }

    static bool endsWithStatusRequest(const QByteArray &got) {
        return got.size() >= 3 && got.at(got.size() - 3) == '\x10' &&
               got.at(got.size() - 2) == '\x04' && got.back() >= 1 && got.back() <= 4;
    }

    const Mode mMode;
    const qint64 mResetAfter;
    QSemaphore mListening;
    std::atomic<quint16> mPort = 0;
    std::atomic<int> mConnections = 0;
    std::atomic<bool> mStop = false;
    mutable QMutex mMutex;
    QList<QByteArray> mJobs;
    int mRequests = 0; // answered on the connection being served
};

} // namespace krv::test
