// The files the programs keep themselves, the connection store and profiles
// (and targets lists, read the same way): never anything but a regular file
// replaced, never a read that blocks or has no end, the previous file kept on
// any failure, and nothing left behind by a writer that was killed.
#include "CliErrors.h"
#include "CommErrors.h"
#include "ConnectionSettings.h"
#include "FileKinds.h"
#include "Profile.h"
#include "RuntimeError.h"
#include "Targets.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <future>

using namespace krv::test;
using krv::comm::ConnectionSettings;
namespace commErrors = krv::comm::errors;
namespace cliErrors = krv::cli::errors;

namespace {

const QString Key = QStringLiteral("KRV520Config");
const QString StoreName = QStringLiteral("krv520-connection.conf");

ConnectionSettings tcp(const QString &host) {
    ConnectionSettings s;
    s.kind = ConnectionSettings::Kind::Tcp;
    s.host = host;
    return s;
}

// The error a step raises (number 0 for none). A step still blocked after
// 5 s (in open() on a FIFO) is freed by opening the FIFO's other end, and
// reported as blocked.
krv::RuntimeError bounded(const std::function<void()> &step, const QString &fifo = {}) {
    auto done = std::async(std::launch::async, [&]() -> krv::RuntimeError {
        try {
            step();
        } catch (const krv::RuntimeError &e) {
            return e;
        }
        return {0, {}};
    });
    if (done.wait_for(std::chrono::seconds(5)) == std::future_status::timeout) {
        while (done.wait_for(std::chrono::milliseconds(50)) == std::future_status::timeout)
            ::close(::open(fsName(fifo).constData(), O_RDWR | O_NONBLOCK));
        return {-1, QStringLiteral("blocked")};
    }
    return done.get();
}

// Empty when the store was written, else the error.
QString storeWriteProblem(const QString &path, const ConnectionSettings &settings) {
    const krv::RuntimeError e =
        bounded([&] { krv::comm::writeConnectionSettings(path, Key, settings); });
    return e.number() == 0 ? QString()
                           : QStringLiteral("%1 %2").arg(e.number()).arg(e.description());
}

QStringList entries(const QString &dir) {
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                               QDir::NoDotAndDotDot);
}

} // namespace

class TestStoresProfiles : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        if (::geteuid() != 0)
            QSKIP("runs as root, as CI does: it makes device nodes, mounts and uses setpriv");
    }
    void onlyRegularFilesAreReadOrReplaced_data();
    void onlyRegularFilesAreReadOrReplaced();
    void fullFileSystemKeepsPreviousFile_data();
    void fullFileSystemKeepsPreviousFile();
    void readOnlyFileIsNotReplaced_data();
    void readOnlyFileIsNotReplaced();
    void inputsAreBounded_data();
    void inputsAreBounded();
    void leftoversOfKilledWriteAreCleared_data();
    void leftoversOfKilledWriteAreCleared();
    void killedWriterNeverDamagesStore();
};

void TestStoresProfiles::onlyRegularFilesAreReadOrReplaced_data() {
    QTest::addColumn<QString>("file"); // store or profile
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("words"); // how the message names it
    QTest::newRow("1 store: link to a device node") << "store"
                                                    << "link"
                                                    << "character device";
    QTest::newRow("1 store: device node") << "store"
                                          << "device"
                                          << "character device";
    QTest::newRow("5 store: FIFO") << "store"
                                   << "fifo"
                                   << "FIFO";
    QTest::newRow("store: folder") << "store"
                                   << "folder"
                                   << "folder";
    QTest::newRow("store: socket") << "store"
                                   << "socket"
                                   << "socket";
    QTest::newRow("2 profile: device node") << "profile"
                                            << "device"
                                            << "character device";
    QTest::newRow("profile: FIFO") << "profile"
                                   << "fifo"
                                   << "FIFO";
}

void TestStoresProfiles::onlyRegularFilesAreReadOrReplaced() {
    QFETCH(QString, file);
    QFETCH(QString, kind);
    QFETCH(QString, words);
    QTemporaryDir dir;
    const QString path = dir.filePath(file == QLatin1String("store") ? StoreName : "p.profile");
    if (kind == QLatin1String("link"))
        QVERIFY(makeDevice(dir.filePath("zero"), 5) && QFile::link(dir.filePath("zero"), path));
    else if (kind == QLatin1String("device"))
        QVERIFY(makeDevice(path, 5));
    else if (kind == QLatin1String("fifo"))
        QVERIFY(makeFifo(path));
    else if (kind == QLatin1String("folder"))
        QVERIFY(QDir().mkdir(path));
    else
        QVERIFY(makeSocket(path));
    const QString before = identity(path);
    const QStringList entriesBefore = entries(dir.path());

    // Reading (the window's start-up) and writing (its shut-down).
    krv::RuntimeError read(0, {}), written(0, {});
    if (file == QLatin1String("store")) {
        read = bounded([&] { (void)krv::comm::readConnectionSettings(path, Key); }, path);
        written = bounded([&] { krv::comm::writeConnectionSettings(path, Key, tcp("h")); }, path);
        QCOMPARE(read.number(), commErrors::ConfigReadFailed);
        QCOMPARE(written.number(), commErrors::ConfigWriteFailed);
    } else {
        read = bounded([&] { (void)krv::cli::readProfile(path); }, path);
        written = bounded([&] { krv::cli::writeProfileTemplate(path, true); }, path);
        QCOMPARE(read.number(), cliErrors::UnreadableFile);
        QCOMPARE(written.number(), cliErrors::UnwritableFile);
    }
    for (const QString &message : {read.description(), written.description()})
        QVERIFY2(message.contains(path) && message.contains(words), qPrintable(message));
    QCOMPARE(identity(path), before);
    QCOMPARE(entries(dir.path()), entriesBefore);
}

void TestStoresProfiles::fullFileSystemKeepsPreviousFile_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("pagesLeft");
    QTest::newRow("3 profile --force") << "profile" << 0;
    QTest::newRow("store, room for its lock only") << "store" << 1;
}

void TestStoresProfiles::fullFileSystemKeepsPreviousFile() {
    QFETCH(QString, file);
    QFETCH(int, pagesLeft);
    QTemporaryDir dir;
    const SmallFileSystem full(dir.path());
    if (!full.mounted())
        QSKIP("this machine does not allow mounting a small tmpfs");
    const QString path = dir.filePath(file == QLatin1String("store") ? StoreName : "p.profile");
    if (file == QLatin1String("store"))
        krv::comm::writeConnectionSettings(path, Key, tcp("before"));
    else
        QVERIFY(writeBytes(path, "Print Speed=3\n"));
    const QByteArray previous = contents(path);
    full.fill(pagesLeft);

    const krv::RuntimeError error = bounded([&] {
        if (file == QLatin1String("store"))
            krv::comm::writeConnectionSettings(path, Key, tcp("after"));
        else
            krv::cli::writeProfileTemplate(path, true);
    });
    QCOMPARE(error.number(), file == QLatin1String("store") ? commErrors::ConfigWriteFailed
                                                            : cliErrors::UnwritableFile);
    QCOMPARE(contents(path), previous);
    QCOMPARE(entries(dir.path()), QStringList({"filler", QFileInfo(path).fileName()}));
}

void TestStoresProfiles::readOnlyFileIsNotReplaced_data() {
    QTest::addColumn<QString>("file");
    QTest::newRow("profile --force") << "profile";
    QTest::newRow("store") << "store";
}

void TestStoresProfiles::readOnlyFileIsNotReplaced() {
    QFETCH(QString, file);
    QTemporaryDir dir;
    // The folder lets nobody create files; only the file itself is read-only.
    QVERIFY(QFile::setPermissions(dir.path(), QFileDevice::Permissions(0x7777)));
    const QString path = dir.filePath(file == QLatin1String("store") ? StoreName : "p.profile");
    QVERIFY(writeBytes(path, "[KRV520Config]\nKind=File\n"));
    QVERIFY(::chown(fsName(path).constData(), 65534, 65534) == 0 &&
            ::chmod(fsName(path).constData(), 0444) == 0);
    const QString before = identity(path);

    QByteArray output;
    const int code =
        file == QLatin1String("store")
            ? runProgram(QStringLiteral("env"),
                         {"KRV_TEST_STORE=" + path, QCoreApplication::applicationFilePath()}, true,
                         &output)
            : runProgram(QStringLiteral(KRV_CLI_PATH), {"profile", path, "--force"}, true, &output);
    QVERIFY2(code != 0, output.constData());
    QCOMPARE(identity(path), before);
    QCOMPARE(contents(path), QByteArray("[KRV520Config]\nKind=File\n"));
}

void TestStoresProfiles::inputsAreBounded_data() {
    QTest::addColumn<QString>("file"); // profile, targets or store
    QTest::addColumn<qint64>("size");  // -1: the kernel's zero device
    QTest::addColumn<QString>("words");
    const qint64 kib64 = 64 * 1024;
    const qint64 mib1 = 1024 * 1024;
    QTest::newRow("6 profile /dev/zero") << "profile" << -1LL << "character device";
    QTest::newRow("6 targets /dev/zero") << "targets" << -1LL << "character device";
    QTest::newRow("store /dev/zero") << "store" << -1LL << "character device";
    QTest::newRow("profile over 64 KiB") << "profile" << kib64 + 1 << "64 KiB";
    QTest::newRow("profile at 64 KiB") << "profile" << kib64 << "";
    QTest::newRow("targets of 100 MB") << "targets" << 100 * mib1 << "1 MiB";
    QTest::newRow("store over 64 KiB") << "store" << kib64 + 1 << "64 KiB";
}

void TestStoresProfiles::inputsAreBounded() {
    QFETCH(QString, file);
    QFETCH(qint64, size);
    QFETCH(QString, words);
    QTemporaryDir dir;
    const QString path = dir.filePath("input");
    if (size < 0) {
        QVERIFY(makeDevice(path, 5));
    } else {
        // Comment lines, valid in all three, so only the size can be wrong.
        QFile input(path);
        QVERIFY(input.open(QIODevice::WriteOnly));
        QByteArray line(63, '#');
        line += '\n';
        for (qint64 left = size; left > 0; left -= line.size())
            input.write(line.left(int(std::min<qint64>(left, line.size()))));
    }
    QElapsedTimer timer;
    timer.start();
    const krv::RuntimeError error = bounded([&] {
        if (file == QLatin1String("profile"))
            (void)krv::cli::readProfile(path);
        else if (file == QLatin1String("targets"))
            (void)krv::cli::readTargetsFile(path);
        else
            (void)krv::comm::readConnectionSettings(path, Key);
    });
    QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
    if (words.isEmpty()) {
        QCOMPARE(error.number(), 0);
        return;
    }
    QCOMPARE(error.number(), file == QLatin1String("store") ? commErrors::ConfigReadFailed
                                                            : cliErrors::UnreadableFile);
    QVERIFY2(error.description().contains(path) && error.description().contains(words),
             qPrintable(error.description()));
}

void TestStoresProfiles::leftoversOfKilledWriteAreCleared_data() {
    QTest::addColumn<bool>("temporary");
    QTest::addColumn<bool>("lock");
    QTest::newRow("14 temporary and lock") << true << true;
    QTest::newRow("lock of a process that is gone") << false << true;
}

void TestStoresProfiles::leftoversOfKilledWriteAreCleared() {
    QFETCH(bool, temporary);
    QFETCH(bool, lock);
    QTemporaryDir dir;
    const QString path = dir.filePath(StoreName);
    krv::comm::writeConnectionSettings(path, Key, tcp("before"));
    if (temporary)
        QVERIFY(writeBytes(dir.filePath("." + StoreName + ".saving"), "[KRV520Config]\nKind=Tc"));
    if (lock) {
        // A lock as a killed writer leaves it: the number of a process that
        // has ended, this host, this program.
        QProcess gone;
        gone.start(QStringLiteral("true"));
        QVERIFY(gone.waitForStarted());
        const qint64 pid = gone.processId();
        QVERIFY(gone.waitForFinished());
        QVERIFY(writeBytes(path + ".lock", QByteArray::number(pid) + '\n' +
                                               QCoreApplication::applicationName().toUtf8() + '\n' +
                                               QSysInfo::machineHostName().toUtf8() + '\n'));
    }
    QCOMPARE(storeWriteProblem(path, tcp("after")), QString());
    QCOMPARE(krv::comm::readConnectionSettings(path, Key), tcp("after"));
    QCOMPARE(entries(dir.path()), QStringList{StoreName});
}

void TestStoresProfiles::killedWriterNeverDamagesStore() {
    QTemporaryDir dir, scratch; // scratch: what killed writers leave in TMPDIR
    const QString path = dir.filePath(StoreName);
    krv::comm::writeConnectionSettings(path, Key, tcp("10.0.0.0"));
    int leftovers = 0;
    for (int round = 0; round < 15; ++round) {
        QProcess writer;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("KRV_TEST_STORE"), path);
        env.insert(QStringLiteral("KRV_TEST_STORE_LOOP"), QStringLiteral("1"));
        env.insert(QStringLiteral("TMPDIR"), scratch.path());
        writer.setProcessEnvironment(env);
        writer.start(QCoreApplication::applicationFilePath());
        QVERIFY(writer.waitForReadyRead(10000)); // its first write is done
        QThread::usleep(QRandomGenerator::global()->bounded(20000));
        writer.kill();
        QVERIFY(writer.waitForFinished());

        leftovers += entries(dir.path()).size() - 1;
        const ConnectionSettings left = krv::comm::readConnectionSettings(path, Key);
        QVERIFY2(left.kind == ConnectionSettings::Kind::Tcp &&
                     left.host.startsWith(QLatin1String("10.0.0.")),
                 qPrintable(left.host));
        QCOMPARE(storeWriteProblem(path, tcp("after")), QString());
        QCOMPARE(entries(dir.path()), QStringList{StoreName});
    }
    qInfo("%d leftover files (temporary, lock) found after the kills, all cleared", leftovers);
}

// Started by the tests above as the writer of a store: once (exit 0, or 2
// with the error), or over and over until it is killed.
int writeStoreAndExit(const QString &path) {
    const bool loop = qEnvironmentVariableIsSet("KRV_TEST_STORE_LOOP");
    for (int i = 1;; ++i) {
        try {
            krv::comm::writeConnectionSettings(path, Key, tcp(QStringLiteral("10.0.0.%1").arg(i)));
        } catch (const krv::RuntimeError &e) {
            std::printf("error %d: %s\n", e.number(), qPrintable(e.description()));
            return 2;
        }
        if (!loop)
            return 0;
        if (i == 1) {
            std::printf("writing\n");
            std::fflush(stdout);
        }
    }
}

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    if (qEnvironmentVariableIsSet("KRV_TEST_STORE"))
        return writeStoreAndExit(qEnvironmentVariable("KRV_TEST_STORE"));
    TestStoresProfiles test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_stores_profiles.moc"
