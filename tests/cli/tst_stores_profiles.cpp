// The files the programs keep themselves (connection store, profiles,
// targets lists): only regular files read or replaced, no read that blocks
// or has no end, the previous file kept on a full disk, and what a killed
// writer left cleared by the next write. Rows are numbered after the defects
// they once were.
#include "CliErrors.h"
#include "CommErrors.h"
#include "ConnectionSettings.h"
#include "FileKinds.h"
#include "Profile.h"
#include "RuntimeError.h"
#include "Targets.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>

#include <chrono>
#include <functional>
#include <future>

using namespace krv::test;
using krv::comm::ConnectionSettings;

namespace {

const QString Key = QStringLiteral("KRV520Config");
const QString Store = QStringLiteral("krv520-connection.conf");

ConnectionSettings tcp(const QString &host) {
    ConnectionSettings s;
    s.kind = ConnectionSettings::Kind::Tcp;
    s.host = host;
    return s;
}

// The error a step raises (number 0 for none). A step still blocked after
// 5 s, in open() on a FIFO, is freed by opening the other end, and fails.
krv::RuntimeError bounded(const std::function<void()> &step, const QString &fifo = {}) {
    auto done = std::async(std::launch::async, [&]() -> krv::RuntimeError {
        try {
            step();
        } catch (const krv::RuntimeError &e) {
            return e;
        }
        return {0, {}};
    });
    if (done.wait_for(std::chrono::seconds(5)) == std::future_status::ready)
        return done.get();
    while (done.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready)
        ::close(::open(fsName(fifo).constData(), O_RDWR | O_NONBLOCK));
    return {-1, QStringLiteral("blocked")};
}

QString storeWriteProblem(const QString &path, const QString &host) {
    const krv::RuntimeError e =
        bounded([&] { krv::comm::writeConnectionSettings(path, Key, tcp(host)); });
    return e.number() ? QStringLiteral("%1 %2").arg(e.number()).arg(e.description()) : QString();
}

} // namespace

class TestStoresProfiles : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        if (::geteuid() != 0)
            QSKIP("runs as root, as CI does: it makes device nodes and mounts");
    }

    void onlyRegularFilesAreReadOrReplaced_data() {
        QTest::addColumn<bool>("store"); // else a profile
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("words"); // how the messages name it
        const struct {
            const char *row;
            bool store;
            const char *kind, *words;
        } rows[] = {
            {"1 store: link to a device node", true, "link", "character device"},
            {"1 store: device node", true, "zero", "character device"},
            {"5 store: FIFO", true, "fifo", "FIFO"},
            {"12 store: folder", true, "folder", "folder"},
            {"store: socket", true, "socket", "socket"},
            {"2 profile: device node", false, "zero", "character device"},
        };
        for (const auto &r : rows)
            QTest::newRow(r.row) << r.store << QString(r.kind) << QString(r.words);
    }
    void onlyRegularFilesAreReadOrReplaced() {
        QFETCH(bool, store);
        QFETCH(QString, kind);
        QFETCH(QString, words);
        QTemporaryDir dir;
        const QString path = dir.filePath(store ? Store : "p.profile");
        QVERIFY(makeKind(kind, path));
        const QString before = identity(path);
        const QStringList entriesBefore = entries(dir.path());

        // Reading (the window's start-up) and writing (its shut-down).
        krv::RuntimeError read(0, {}), written(0, {});
        if (store) {
            read = bounded([&] { (void)krv::comm::readConnectionSettings(path, Key); }, path);
            written =
                bounded([&] { krv::comm::writeConnectionSettings(path, Key, tcp("h")); }, path);
            QCOMPARE(read.number(), krv::comm::errors::ConfigReadFailed);
            QCOMPARE(written.number(), krv::comm::errors::ConfigWriteFailed);
        } else {
            read = bounded([&] { (void)krv::profile::readProfile(path); });
            written = bounded([&] { krv::profile::writeProfileTemplate(path, true); });
            QCOMPARE(read.number(), krv::cli::errors::UnreadableFile);
            QCOMPARE(written.number(), krv::cli::errors::UnwritableFile);
        }
        for (const QString &message : {read.description(), written.description()})
            QVERIFY2(message.contains(path) && message.contains(words), qPrintable(message));
        QCOMPARE(identity(path), before);
        QCOMPARE(entries(dir.path()), entriesBefore);
    }

    void fullFileSystemKeepsPreviousFile_data() {
        QTest::addColumn<bool>("store");
        QTest::addColumn<int>("pagesLeft");
        QTest::newRow("3 profile --force") << false << 0;
        QTest::newRow("store, room for its lock only") << true << 1;
    }
    void fullFileSystemKeepsPreviousFile() {
        QFETCH(bool, store);
        QFETCH(int, pagesLeft);
        QTemporaryDir dir;
        const SmallFileSystem full(dir.path());
        if (!full.mounted())
            QSKIP("this machine does not allow mounting a small tmpfs");
        const QString path = dir.filePath(store ? Store : "p.profile");
        QVERIFY(store ? storeWriteProblem(path, "before").isEmpty()
                      : writeBytes(path, "Print Speed=3\n"));
        const QByteArray previous = contents(path);
        full.fill(pagesLeft);

        const krv::RuntimeError error = bounded([&] {
            if (store)
                krv::comm::writeConnectionSettings(path, Key, tcp("after"));
            else
                krv::profile::writeProfileTemplate(path, true);
        });
        QCOMPARE(error.number(),
                 store ? krv::comm::errors::ConfigWriteFailed : krv::cli::errors::UnwritableFile);
        QCOMPARE(contents(path), previous);
        QCOMPARE(entries(dir.path()), QStringList({"filler", QFileInfo(path).fileName()}));
    }

    void inputsAreBounded_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<qint64>("size"); // -1: the kernel's zero device
        QTest::addColumn<QString>("words");
        QTest::newRow("6 profile /dev/zero") << "profile" << -1LL << "character device";
        QTest::newRow("6 targets /dev/zero") << "targets" << -1LL << "character device";
        QTest::newRow("store /dev/zero") << "store" << -1LL << "character device";
        QTest::newRow("profile at 64 KiB") << "profile" << 65536LL << "";
        QTest::newRow("profile over 64 KiB") << "profile" << 65537LL << "64 KiB";
        QTest::newRow("store over 64 KiB") << "store" << 65537LL << "64 KiB";
        QTest::newRow("targets over 1 MiB") << "targets" << 2LL * 1048576 << "1 MiB";
    }
    void inputsAreBounded() {
        QFETCH(QString, file);
        QFETCH(qint64, size);
        QFETCH(QString, words);
        QTemporaryDir dir;
        const QString path = dir.filePath("input");
        if (size < 0)
            QVERIFY(makeKind("zero", path));
        else // comment lines, valid in all three, so that only the size is wrong
            QVERIFY(writeBytes(path, QByteArray(size, '#').replace(0, 1, "\n")));
        QElapsedTimer timer;
        timer.start();
        const krv::RuntimeError error = bounded([&] {
            if (file == QLatin1String("profile"))
                (void)krv::profile::readProfile(path);
            else if (file == QLatin1String("targets"))
                (void)krv::cli::readTargetsFile(path);
            else
                (void)krv::comm::readConnectionSettings(path, Key);
        });
        QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(error.number(), words.isEmpty()   ? 0
                                 : file == "store" ? krv::comm::errors::ConfigReadFailed
                                                   : krv::cli::errors::UnreadableFile);
        QVERIFY2(error.description().contains(words), qPrintable(error.description()));
    }

    void readOnlyStoreIsNotReplaced() {
        QTemporaryDir dir;
        const QString path = dir.filePath(Store);
        QCOMPARE(storeWriteProblem(path, "before"), QString());
        const QByteArray previous = contents(path);
        // Only the file is read-only: its folder would let nobody replace it.
        QVERIFY(::chmod(fsName(dir.path()).constData(), 0777) == 0);
        QVERIFY(::chown(fsName(path).constData(), 65534, 65534) == 0);
        QVERIFY(::chmod(fsName(path).constData(), 0444) == 0);
        QVERIFY(::setegid(65534) == 0 && ::seteuid(65534) == 0);
        const QString problem = storeWriteProblem(path, "after");
        QVERIFY(::seteuid(0) == 0 && ::setegid(0) == 0);
        QVERIFY2(problem.startsWith(QString::number(krv::comm::errors::ConfigWriteFailed)),
                 qPrintable(problem));
        QCOMPARE(contents(path), previous);
    }

    void leftoversOfKilledWriteAreCleared() {
        QTemporaryDir dir;
        const QString path = dir.filePath(Store);
        QCOMPARE(storeWriteProblem(path, "before"), QString());
        // What a writer killed half-way leaves: its temporary beside the
        // store, and its lock naming a process that has ended.
        QVERIFY(writeBytes(dir.filePath("." + Store + ".saving"), "[KRV520Config]\nKind=Tc"));
        QProcess gone;
        gone.start(QStringLiteral("true"));
        QVERIFY(gone.waitForStarted());
        const QByteArray pid = QByteArray::number(gone.processId());
        QVERIFY(gone.waitForFinished());
        QVERIFY(writeBytes(path + ".lock", pid + '\n' + qAppName().toUtf8() + '\n' +
                                               QSysInfo::machineHostName().toUtf8() + '\n'));

        QCOMPARE(storeWriteProblem(path, "after"), QString());
        QCOMPARE(krv::comm::readConnectionSettings(path, Key), tcp("after"));
        QCOMPARE(entries(dir.path()), QStringList{Store});
    }
};

QTEST_GUILESS_MAIN(TestStoresProfiles)
#include "tst_stores_profiles.moc"
