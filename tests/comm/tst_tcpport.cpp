// TCP/IP connections against real peers on 127.0.0.1.
#include "CommErrors.h"
#include "RuntimeError.h"
#include "SendToPrinter.h"
#include "SettingsBatch.h"
#include "TcpPort.h"
#include "TestSupport.h"

#include <QTest>

using namespace krv::comm;
using krv::test::sendError;
using krv::test::TcpPeer;

namespace {

// Short bounds keep the stuck-peer tests quick; the defaults are tested
// through makePort elsewhere.
TcpPort::Timeouts shortTimeouts() {
    using namespace std::chrono_literals;
    return {2000ms, 1500ms, 1500ms};
}

QByteArray speedAndZeroStyleBatch() {
    krv::settings::Selection selection{};
    selection[1] = 3;  // cmbSpeed: "Low (50mm/s)"
    selection[10] = 2; // cmbZStyle: "Slashed"
    return krv::settings::makeSettingsBatch(selection);
}

} // namespace

class TestTcpPort : public QObject {
    Q_OBJECT
private slots:
    void deliversExactBytes_data() {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QByteArray>("expected");
        const QByteArray all = krv::test::everyByteValue();
        QTest::newRow("every byte value") << all << all;
        QTest::newRow("settings batch") << speedAndZeroStyleBatch()
                                        << QByteArray::fromHex("1b1d232d32303033300a00"
                                                               "1b1d232b32303032300a00"
                                                               "1b1d232b31303031300a00"
                                                               "1b1d235730303030300a00");
        QByteArray big(3 * 1024 * 1024 + 7, '\0');
        for (qsizetype i = 0; i < big.size(); ++i)
            big[i] = char((i * 7 + i / 256) & 0xff);
        QTest::newRow("3 MB, more than the socket buffers") << big << big;
        QTest::newRow("empty job") << QByteArray() << QByteArray();
    }
    void deliversExactBytes() {
        QFETCH(QByteArray, data);
        QFETCH(QByteArray, expected);
        TcpPeer peer(TcpPeer::Mode::ReadAll);
        TcpPort port(QStringLiteral("127.0.0.1"), peer.port());
        SendToPrinter(port, data);
        QVERIFY(peer.waitForJobs(1));
        QCOMPARE(peer.jobs().size(), 1);
        QCOMPARE(peer.jobs().first().size(), expected.size());
        QCOMPARE(peer.jobs().first(), expected);
    }

    void sameBatchTwiceGivesTwoConnections() {
        TcpPeer peer(TcpPeer::Mode::ReadAll);
        TcpPort port(QStringLiteral("127.0.0.1"), peer.port());
        const QByteArray batch = speedAndZeroStyleBatch();
        SendToPrinter(port, batch);
        SendToPrinter(port, batch);
        QVERIFY(peer.waitForJobs(2));
        QCOMPARE(peer.jobs(), (QList<QByteArray>{batch, batch}));
    }

    void closedPortNamesHostAndPort() {
        const quint16 closed = krv::test::closedPort();
        const int fdsBefore = krv::test::openFileDescriptors();
        TcpPort port(QStringLiteral("127.0.0.1"), closed);
        const krv::RuntimeError error = sendError(port, "x");
        QCOMPARE(error.number(), errors::TcpConnectionRefused);
        QVERIFY2(error.description().contains(QStringLiteral("127.0.0.1")),
                 qPrintable(error.description()));
        QVERIFY2(error.description().contains(QString::number(closed)),
                 qPrintable(error.description()));
        QCOMPARE(krv::test::openFileDescriptors(), fdsBefore);
    }

    void incompleteSettingsAreRefused_data() {
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("port");
        QTest::newRow("no host") << QString() << 9100;
        QTest::newRow("blank host") << QStringLiteral("   ") << 9100;
        QTest::newRow("port 0") << QStringLiteral("127.0.0.1") << 0;
    }
    void incompleteSettingsAreRefused() {
        QFETCH(QString, host);
        QFETCH(int, port);
        TcpPort tcp(host, quint16(port));
        QCOMPARE(sendError(tcp, "x").number(), errors::IncompleteSettings);
    }

    void peerThatNeverReadsTimesOut() {
        // The peer lives in this process too; count once it has gone.
        const int fdsBefore = krv::test::openFileDescriptors();
        // Far more than the two kernels' buffers can hold.
        const QByteArray data(64 * 1024 * 1024, 'x');
        {
            TcpPeer peer(TcpPeer::Mode::NeverRead);
            TcpPort port(QStringLiteral("127.0.0.1"), peer.port(), shortTimeouts());
            const krv::RuntimeError error = sendError(port, data);
            QCOMPARE(error.number(), errors::TcpWriteTimeout);
            QVERIFY2(error.description().contains(QString::number(peer.port())),
                     qPrintable(error.description()));
        }
        QCOMPARE(krv::test::openFileDescriptors(), fdsBefore);
    }

    void peerResetHalfwayGivesError() {
        TcpPeer peer(TcpPeer::Mode::ResetAfter, 64 * 1024);
        const int fdsBefore = krv::test::openFileDescriptors();
        const QByteArray data(32 * 1024 * 1024, '\x55');
        {
            TcpPort port(QStringLiteral("127.0.0.1"), peer.port(), shortTimeouts());
            const krv::RuntimeError error = sendError(port, data);
            QCOMPARE(error.number(), errors::TcpWriteFailed);
            QVERIFY2(error.description().contains(QStringLiteral("127.0.0.1")),
                     qPrintable(error.description()));
        }
        QVERIFY(peer.waitForJobs(1));
        QVERIFY(peer.jobs().first().size() < data.size());
        QCOMPARE(krv::test::openFileDescriptors(), fdsBefore);
    }

    void resetAfterTheWriteIsNotSuccess() {
        // The whole job fits the buffers, so the write itself succeeds; the
        // reset shows only while closing, and must still be reported.
        const int fdsBefore = krv::test::openFileDescriptors();
        {
            TcpPeer peer(TcpPeer::Mode::ResetAfter, 1);
            TcpPort port(QStringLiteral("127.0.0.1"), peer.port(), shortTimeouts());
            const int number = sendError(port, krv::test::everyByteValue()).number();
            QVERIFY2(number == errors::TcpCloseFailed || number == errors::TcpWriteFailed,
                     qPrintable(QString::number(number)));
        }
        QCOMPARE(krv::test::openFileDescriptors(), fdsBefore);
    }

    void acknowledgedJobToPeerThatStaysOpenIsDelivered() {
        // Some print servers keep their end open; once their system has
        // acknowledged every byte, waiting longer cannot tell us more.
        const int fdsBefore = krv::test::openFileDescriptors();
        {
            TcpPeer peer(TcpPeer::Mode::NeverRead);
            TcpPort port(QStringLiteral("127.0.0.1"), peer.port(), shortTimeouts());
            QCOMPARE(sendError(port, krv::test::everyByteValue()).number(), 0);
        }
        QCOMPARE(krv::test::openFileDescriptors(), fdsBefore);
    }

    void sendWithoutOpenIsAnError() {
        TcpPort port(QStringLiteral("127.0.0.1"), 9100);
        QVERIFY_THROWS_EXCEPTION(krv::RuntimeError, port.SendData("x"));
        port.ClosePort(); // closing what is not open does nothing
    }
};

QTEST_GUILESS_MAIN(TestTcpPort)
#include "tst_tcpport.moc"
