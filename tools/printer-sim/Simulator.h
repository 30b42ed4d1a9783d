#pragma once

#include "MemorySwitches.h"
#include "StatusAnswer.h"

#include <QFile>
#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>

class QIODevice;
class QTcpServer;
class QTimer;

namespace krv::sim {

class Job;
class SerialLine;

// A captured job is a few kilobytes; a larger file is not one.
inline constexpr qint64 MaxDecodeBytes = 16 * 1024 * 1024;

struct Options {
    quint16 port = 9100;
    QString address = QStringLiteral("127.0.0.1"); // a loopback address, checked by the caller
    QString statePath; // empty: the switches live only as long as the program
    QString pngPath;   // "%1" is replaced by the job number; empty: no pictures
    QString logPath;
    QString capturePath; // raw bytes of each job; "%1" as for pngPath; empty: none
    int jobs = 0;        // exit after this many connections; 0: serve until stopped
    bool serial = false; // a pseudo-terminal instead of the TCP port
    // Flow control on the serial line: XOFF once a job has brought this many
    // bytes (negative: never), XON after holdMs.
    qint64 xoffAfter = -1;
    int holdMs = 1000;
    // A serial line has no connection to end a job: one also ends after its
    // closing command (#W00000) and after this long without a byte while the
    // sender is not held back; 0: no gap ends a job.
    int idleMs = 1000;
    StatusAnswer::State status = StatusAnswer::State::Ready; // what DLE EOT n is answered
    // A file holding one state word, read again at each connection, so a
    // test or an operator can change the printer's condition while it runs.
    QString statusFile;
    // Hang up at once on a connection that comes while another is served,
    // as a printer with a single network session does; otherwise it waits.
    bool oneConnection = false;
};

// The virtual printer on 127.0.0.1, or on a pseudo-terminal: one connection
// (one sender at the terminal) at a time, each a job.
// Everything it finds is written as a line to stdout (flushed at once, so a
// test can follow it) and to the log file.
class Simulator : public QObject {
    Q_OBJECT
public:
    explicit Simulator(Options options, QObject *parent = nullptr);
    ~Simulator() override;

    // Loads the state file, opens the log and checks that the folders for
    // receipts and captures can be written. False after reporting why.
    bool prepare();
    // Starts listening and reports "listening on 127.0.0.1:PORT", or
    // "listening on /dev/pts/N" for the serial line.
    bool listen();

    // Runs one job from a file and reports the summary. Returns the exit
    // status: 0 for a clean job, 1 when it had problems, 2 when unreadable
    // (not a regular file, or larger than MaxDecodeBytes) or when something
    // could not be written.
    int decodeFile(const QString &path);
    int decodeBytes(const QString &name, const QByteArray &bytes);

    void report(const QString &line);

    // The switches, for presetting them before a job.
    [[nodiscard]] MemorySwitches &switches() { return mSwitches; }
    // Something the operator asked for could not be written: a report line
    // (standard output, the log), a receipt or a capture. Said on stderr
    // when it happens; the program then ends with status 2.
    [[nodiscard]] bool failed() const { return mFailed; }

signals:
    void finished();

private:
    void takeNextConnection();
    void beginJob(QIODevice *from, const QString &who);
    void readStatusFile();
    void takeSerialData();
    void readCurrent();
    void takeBytes(QByteArrayView bytes);
    void feedJob(QByteArrayView bytes);
    // Reports and writes out the current job; true when that was the last
    // one the simulator was to take.
    bool finishJob(const QString &lost);
    void serialIdle();
    // The sender hung up or the line stayed idle: what has come ends the job.
    void endSerialJob();
    [[nodiscard]] bool canAnswer() const;
    void holdSender();
    void releaseSender();
    void endCurrent();
    void writeReceipt(Job &job, int number);
    void writeCapture(int number);
    void fail(const QString &message);

    Options mOptions;
    MemorySwitches mSwitches;
    StatusAnswer mStatus;
    QFile mLog;
    QTcpServer *const mServer;
    SerialLine *mLine = nullptr;
    QTimer *const mHoldTimer;
    QTimer *const mIdleTimer;
    // A TCP connection or the serial line: whatever the current job came on.
    QPointer<QIODevice> mCurrent;
    std::unique_ptr<Job> mJob;
    QByteArray mCaptured;   // the current job's bytes, kept only when capturing
    QByteArray mEscapeHeld; // a last ESC on the line, until the byte after it comes
    qint64 mJobBytes = 0;
    qint64 mBytesAtXoff = -1; // -1: not held back in this job
    int mJobNumber = 0;
    bool mFailed = false;
    bool mDone = false; // the last job asked for (--jobs) has ended
    bool mStdoutFailed = false;
    bool mLogFailed = false;
    QByteArray mStatusWord; // the status file's last content, to report only changes
};

} // namespace krv::sim
