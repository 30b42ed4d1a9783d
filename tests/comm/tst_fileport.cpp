// File and device connections: exact contents, replacement, and failures.
#include "CommErrors.h"
#include "ConnectionSettings.h"
#include "FilePort.h"
#include "RuntimeError.h"
#include "SendToPrinter.h"
#include "TestSupport.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>

using namespace krv::comm;
using krv::test::sendError;

namespace {

QByteArray contents(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return "<unreadable>";
    return file.readAll();
}

void writeFile(const QString &path, const QByteArray &bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

// Limits how large this process may grow a file, so a write fails half-way
// like on a full disk.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &mSaved);
        mOldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = mSaved;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &mSaved);
        std::signal(SIGXFSZ, mOldHandler);
    }

private:
    rlimit mSaved{};
    void (*mOldHandler)(int) = nullptr;
};

} // namespace

class TestFilePort : public QObject {
    Q_OBJECT
private slots:
    void fileHoldsExactlyTheJob_data() {
        QTest::addColumn<QByteArray>("before"); // null: no file yet
        QTest::addColumn<QByteArray>("data");
        const QByteArray all = krv::test::everyByteValue();
        QTest::newRow("new file, every byte value") << QByteArray() << all;
        QTest::newRow("longer old file is replaced") << QByteArray(5000, 'o') << all;
        QTest::newRow("empty job empties the file") << QByteArray("old job") << QByteArray("");
        QTest::newRow("batch with NULs")
            << QByteArray() << QByteArray::fromHex("1b1d235730303030300a00");
    }
    void fileHoldsExactlyTheJob() {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, data);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("job.prn"));
        if (!before.isNull())
            writeFile(path, before);
        FilePort port(path);
        SendToPrinter(port, data);
        QCOMPARE(contents(path), data);
        // Nothing of the work is left beside it.
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{QStringLiteral("job.prn")});
    }

    void replacedFileKeepsItsPermissions() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("job.prn"));
        writeFile(path, "old");
        QVERIFY(::chmod(QFile::encodeName(path).constData(), 0640) == 0);
        FilePort port(path);
        SendToPrinter(port, "new");
        struct stat st {};
        QVERIFY(::stat(QFile::encodeName(path).constData(), &st) == 0);
        QCOMPARE(st.st_mode & 07777, mode_t(0640));
    }

    void linkToFileReplacesTargetNotLink() {
        QTemporaryDir dir;
        const QString target = dir.filePath(QStringLiteral("target.prn"));
        const QString link = dir.filePath(QStringLiteral("printer"));
        writeFile(target, "old");
        QVERIFY(QFile::link(target, link));
        FilePort port(link);
        SendToPrinter(port, "new job");
        QVERIFY(QFileInfo(link).isSymLink());
        QCOMPARE(contents(target), QByteArray("new job"));
    }

    void deviceNodeIsWrittenAsIs() {
        // /dev/null stands in for a printer device: it must stay a device,
        // not be replaced by a regular file.
        FilePort port(QStringLiteral("/dev/null"));
        SendToPrinter(port, krv::test::everyByteValue());
        struct stat st {};
        QVERIFY(::stat("/dev/null", &st) == 0);
        QVERIFY(S_ISCHR(st.st_mode));
    }

    void failures_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("reason");
        QTest::newRow("full device") << QStringLiteral("/dev/full") << errors::FileWriteFailed
                                     << QStringLiteral("No space left on device");
        QTest::newRow("missing folder")
            << QStringLiteral("/nonexistent-krv-folder/job.prn") << errors::FileOpenFailed
            << QStringLiteral("No such file or directory");
        QTest::newRow("folder under /proc")
            << QStringLiteral("/proc/krv-test/job.prn") << errors::FileOpenFailed
            << QStringLiteral("No such file or directory");
        QTest::newRow("a file where a folder should be")
            << QStringLiteral("/dev/null/job.prn") << errors::FileOpenFailed
            << QStringLiteral("Not a directory");
        QTest::newRow("a folder as the file")
            << QStringLiteral("/tmp") << errors::FileIsFolder << QStringLiteral("folder");
        QTest::newRow("no path") << QString() << errors::IncompleteSettings << QString();
    }
    void failures() {
        QFETCH(QString, path);
        QFETCH(int, number);
        QFETCH(QString, reason);
        const int fdsBefore = krv::test::openFileDescriptors();
        {
            FilePort port(path);
            const krv::RuntimeError error = sendError(port, krv::test::everyByteValue());
            QCOMPARE(error.number(), number);
            QVERIFY2(error.description().contains(path), qPrintable(error.description()));
            QVERIFY2(error.description().contains(reason), qPrintable(error.description()));
        }
        QCOMPARE(krv::test::openFileDescriptors(), fdsBefore);
    }

    void failedWriteKeepsPreviousFile() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("job.prn"));
        writeFile(path, "previous job");
        krv::RuntimeError error(0, QString());
        {
            const FileSizeLimit limit(1000);
            FilePort port(path);
            error = sendError(port, QByteArray(4000, 'n'));
        }
        QCOMPARE(error.number(), errors::FileWriteFailed);
        QVERIFY2(error.description().contains(QStringLiteral("File too large")),
                 qPrintable(error.description()));
        QCOMPARE(contents(path), QByteArray("previous job"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{QStringLiteral("job.prn")});
    }

    void thousandSendsHalfFailingLeakNothing() {
        QTemporaryDir dir;
        const QString good = dir.filePath(QStringLiteral("job.prn"));
        krv::test::TcpPeer peer(krv::test::TcpPeer::Mode::ReadAll);
        const quint16 closed = krv::test::closedPort();
        const QByteArray data = krv::test::everyByteValue();

        auto sendOne = [&](int i) {
            std::unique_ptr<PrinterPort> port;
            switch (i % 4) {
            case 0:
                port = makePort({ConnectionSettings::Kind::File, {}, {}, 9100, good, {}});
                break;
            case 1:
                port = makePort({ConnectionSettings::Kind::File,
                                 {},
                                 {},
                                 9100,
                                 QStringLiteral("/dev/full"),
                                 {}});
                break;
            case 2:
                port = makePort({ConnectionSettings::Kind::Tcp,
                                 {},
                                 QStringLiteral("127.0.0.1"),
                                 peer.port(),
                                 {},
                                 {}});
                break;
            default:
                port = makePort({ConnectionSettings::Kind::Tcp,
                                 {},
                                 QStringLiteral("127.0.0.1"),
                                 closed,
                                 {},
                                 {}});
            }
            return sendError(*port, data).number() == 0;
        };
        // One of each first, so that anything opened once for good (by Qt or
        // the C library) is already counted.
        for (int i = 0; i < 4; ++i)
            sendOne(i);
        const int fdsBefore = krv::test::openFileDescriptors();
        int failed = 0;
        for (int i = 0; i < 1000; ++i)
            failed += sendOne(i) ? 0 : 1;
        QCOMPARE(failed, 500);
        QCOMPARE(krv::test::openFileDescriptors(), fdsBefore);
        QVERIFY(peer.waitForJobs(251));
        QCOMPARE(peer.jobs().last(), data);
        QCOMPARE(contents(good), data);
    }
};

QTEST_GUILESS_MAIN(TestFilePort)
#include "tst_fileport.moc"
