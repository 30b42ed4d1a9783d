#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QString>

class QSocketNotifier;

namespace krv::sim {

// The printer's end of a pseudo-terminal, standing in for its serial port:
// a sender opens the terminal end, path(), as it would /dev/ttyS0, writes its
// job and closes it again. The close ends the job, as the close of a TCP
// connection does; the line then waits for the next sender.
class SerialLine : public QIODevice {
    Q_OBJECT
public:
    explicit SerialLine(QObject *parent = nullptr);
    ~SerialLine() override;

    // Creates the pseudo-terminal with its terminal end raw (no echo, no
    // translation of line ends, no flow control until a sender asks for it).
    // False with errorString() set.
    bool openLine();
    // The terminal end, /dev/pts/N.
    [[nodiscard]] QString path() const { return mPath; }

    [[nodiscard]] bool isSequential() const override { return true; }
    [[nodiscard]] qint64 bytesAvailable() const override;

signals:
    // The sender closed the terminal end; everything it wrote was announced
    // by readyRead before.
    void hungUp();
    // The line cannot wait for another sender.
    void broken(const QString &why);

protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *data, qint64 maxSize) override;

private:
    void masterActivated();
    bool holdTerminalEnd();

    int mMaster = -1;
    // Held only while no sender is there: with nobody at the terminal end
    // the master reports a hang-up without end. A sender's first bytes
    // release it, so that the sender's close is the last one and shows.
    int mIdleTerminal = -1;
    QString mPath;
    QSocketNotifier *mNotifier = nullptr;
    QByteArray mPending;
};

} // namespace krv::sim
