// The one send procedure: its call order and what happens when a step fails.
#include "RuntimeError.h"
#include "SendToPrinter.h"

#include <QByteArray>
#include <QTest>

using namespace krv::comm;

namespace {

// Records every call and fails the steps it is told to fail.
class RecordingPort : public PrinterPort {
public:
    QStringList calls;
    QByteArray sent;
    QStringList failing;

    void OpenPort() override { step(QStringLiteral("open"), 1); }
    void SendData(const QByteArray &data) override {
        sent = data;
        step(QStringLiteral("send"), 2);
    }
    void ClosePort() override { step(QStringLiteral("close"), 3); }

private:
    void step(const QString &name, int number) {
        calls << name;
        if (failing.contains(name))
            throw krv::RuntimeError(number, name + QStringLiteral(" failed"));
    }
};

} // namespace

class TestSendToPrinter : public QObject {
    Q_OBJECT
private slots:
    void callsAndErrors_data() {
        QTest::addColumn<QStringList>("failing");
        QTest::addColumn<QStringList>("expectedCalls");
        QTest::addColumn<int>("expectedError"); // 0: none

        const QStringList all{"open", "send", "close"};
        QTest::newRow("nothing fails") << QStringList{} << all << 0;
        QTest::newRow("open fails: nothing more")
            << QStringList{"open"} << QStringList{"open"} << 1;
        QTest::newRow("send fails: still closed") << QStringList{"send"} << all << 2;
        QTest::newRow("send and close fail: send's error")
            << QStringList{"send", "close"} << all << 2;
        QTest::newRow("close fails") << QStringList{"close"} << all << 3;
    }
    void callsAndErrors() {
        QFETCH(QStringList, failing);
        QFETCH(QStringList, expectedCalls);
        QFETCH(int, expectedError);

        RecordingPort port;
        port.failing = failing;
        int error = 0;
        try {
            SendToPrinter(port, QByteArray("job"));
        } catch (const krv::RuntimeError &e) {
            error = e.number();
        }
        QCOMPARE(port.calls, expectedCalls);
        QCOMPARE(error, expectedError);
    }

    void passesDataUnchanged() {
        // NULs inside and high bytes must survive: printer data is not text.
        const QByteArray data("\x1b\x1d#W00000\n\0\xff\x80", 12);
        RecordingPort port;
        SendToPrinter(port, data);
        QCOMPARE(port.sent.size(), 12);
        QCOMPARE(port.sent, data);
    }
};

QTEST_GUILESS_MAIN(TestSendToPrinter)
#include "tst_sendtoprinter.moc"
