// The stored connection choice: round trips, defaults, damaged files, and a
// store that cannot be written.
#include "CommErrors.h"
#include "ConnectionSettings.h"
#include "PlainIni.h"
#include "RuntimeError.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace krv::comm;
using Kind = ConnectionSettings::Kind;

Q_DECLARE_METATYPE(ConnectionSettings)

namespace {

const QString Key = QStringLiteral("KRV520Config");

ConnectionSettings make(Kind kind, const QString &queue, const QString &host, quint16 port,
                        const QString &path) {
    ConnectionSettings s;
    s.kind = kind;
    s.queue = queue;
    s.host = host;
    s.port = port;
    s.path = path;
    return s;
}

ConnectionSettings withSerial(ConnectionSettings s, const QString &device, qint32 speed,
                              int dataBits, SerialSettings::Parity parity, int stopBits,
                              SerialSettings::Flow flow) {
    s.serial = {device, speed, dataBits, parity, stopBits, flow};
    return s;
}

// The defaults, written out rather than taken from a default-constructed value.
ConnectionSettings defaults() {
    return make(Kind::Spooler, QString(), QString(), 9100, QString());
}

bool chattr(const char *flag, const QString &path) {
    return QProcess::execute(QStringLiteral("chattr"), {QString::fromLatin1(flag), path}) == 0;
}

} // namespace

namespace QTest {
template <> char *toString(const ConnectionSettings &s) {
    return qstrdup(qPrintable(
        QStringLiteral("{%1, queue '%2', host '%3', port %4, path '%5', serial '%6' "
                       "%7 %8 %9}")
            .arg(kindName(s.kind), s.queue, s.host)
            .arg(s.port)
            .arg(s.path, s.serial.device)
            .arg(s.serial.speed)
            .arg(int(s.serial.dataBits) * 100 + int(s.serial.parity) * 10 + s.serial.stopBits)
            .arg(int(s.serial.flow))));
}
} // namespace QTest

class TestConfig : public QObject {
    Q_OBJECT
    QTemporaryDir mHome;
    int mCase = 0;

    // A fresh configuration folder for every test.
    QString freshConfigHome() {
        const QString dir = mHome.filePath(QString::number(++mCase));
        QDir().mkpath(dir);
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir));
        return dir;
    }

private slots:
    void storeLivesInConfigHome() {
        const QString home = freshConfigHome();
        QVERIFY(connectionStorePath().startsWith(home + QLatin1Char('/')));
        writeConnectionSettings(Key, defaults());
        QVERIFY(QFile::exists(connectionStorePath()));
    }

    void roundTripRestoresEveryField_data() {
        QTest::addColumn<ConnectionSettings>("settings");
        QTest::newRow("spooler queue")
            << make(Kind::Spooler, QStringLiteral("KRV520_Front"), QString(), 9100, QString());
        QTest::newRow("tcp, every field set")
            << make(Kind::Tcp, QStringLiteral("q"), QStringLiteral("192.168.1.40"), 65535,
                    QStringLiteral("/dev/usb/lp0"));
        QTest::newRow("tcp, lowest port")
            << make(Kind::Tcp, QString(), QStringLiteral("printer.example"), 1, QString());
        QTest::newRow("file with commas, spaces, quotes and umlauts")
            << make(Kind::File, QString(), QString(), 9100,
                    QStringLiteral("/tmp/a, b \"c\" = [d] ; \u00e4\u00f6.prn"));
        using P = SerialSettings::Parity;
        using F = SerialSettings::Flow;
        const ConnectionSettings serial = make(Kind::Serial, QString(), QString(), 9100, QString());
        QTest::newRow("serial, every field away from its default")
            << withSerial(serial, QStringLiteral("/dev/ttyUSB0"), 38400, 7, P::Even, 2, F::RtsCts);
        QTest::newRow("serial, path with colons and commas, odd parity, xon/xoff")
            << withSerial(serial, QStringLiteral("/dev/serial/by-path/pci-0000:00:14.0-usb-0:2,1"),
                          115200, 8, P::Odd, 1, F::XonXoff);
        QTest::newRow("serial, a speed outside the usual list")
            << withSerial(serial, QStringLiteral("/dev/rfcomm0"), 250000, 8, P::None, 2, F::None);
        QTest::newRow("values that look like other kinds")
            << make(Kind::File, QStringLiteral("1234"), QStringLiteral("true"), 9100,
                    QStringLiteral("@Variant(\\0\\0)"));
    }
    void roundTripRestoresEveryField() {
        QFETCH(ConnectionSettings, settings);
        freshConfigHome();
        writeConnectionSettings(Key, settings);
        QCOMPARE(readConnectionSettings(Key), settings);
    }

    void emptyStoreGivesDefaults() {
        freshConfigHome();
        QCOMPARE(readConnectionSettings(Key), defaults());
        QVERIFY(!QFile::exists(connectionStorePath())); // reading creates nothing
    }

    void storeThatCannotBeReadIsReported() {
        freshConfigHome();
        QVERIFY(QDir().mkpath(connectionStorePath())); // a folder where the file belongs
        try {
            (void)readConnectionSettings(Key);
            QFAIL("reading a folder as the store succeeded");
        } catch (const krv::RuntimeError &e) {
            QCOMPARE(e.number(), errors::ConfigReadFailed);
            QVERIFY2(e.description().contains(connectionStorePath()), qPrintable(e.description()));
        }
    }

    void twoKeysDoNotMix() {
        freshConfigHome();
        const auto first = make(Kind::Tcp, QString(), QStringLiteral("10.0.0.1"), 9101, QString());
        const auto second =
            make(Kind::File, QStringLiteral("x"), QString(), 9100, QStringLiteral("/dev/usb/lp1"));
        writeConnectionSettings(Key, first);
        writeConnectionSettings(QStringLiteral("OtherConfig"), second);
        QCOMPARE(readConnectionSettings(Key), first);
        QCOMPARE(readConnectionSettings(QStringLiteral("OtherConfig")), second);
        QCOMPARE(readConnectionSettings(QStringLiteral("ThirdConfig")), defaults());
    }

    void damagedFileKeepsValidFields_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<ConnectionSettings>("expected");
        const QByteArray head = "[KRV520Config]\n";
        QTest::newRow("binary garbage")
            << QByteArray("\x00\xff\xfe[\x01=\x02\n\x80\x81", 10) << defaults();
        QTest::newRow("port out of range")
            << head + "Kind=Tcp\nHost=10.1.1.1\nPort=70000\n"
            << make(Kind::Tcp, QString(), QStringLiteral("10.1.1.1"), 9100, QString());
        QTest::newRow("port zero") << head + "Kind=Tcp\nPort=0\n"
                                   << make(Kind::Tcp, QString(), QString(), 9100, QString());
        QTest::newRow("port negative")
            << head + "Port=-5\nHost=h\n"
            << make(Kind::Spooler, QString(), QStringLiteral("h"), 9100, QString());
        QTest::newRow("port with a sign") << head + "Kind=Tcp\nPort=+80\n"
                                          << make(Kind::Tcp, QString(), QString(), 9100, QString());
        QTest::newRow("port not a number")
            << head + "Port=ninety\nPath=/dev/usb/lp0\nKind=File\n"
            << make(Kind::File, QString(), QString(), 9100, QStringLiteral("/dev/usb/lp0"));
        QTest::newRow("serial kind, written before this version knew it")
            << head + "Kind=Serial\nQueue=KRV\nPort=9102\n"
            << make(Kind::Serial, QStringLiteral("KRV"), QString(), 9102, QString());
        QTest::newRow("unknown kind")
            << head + "Kind=Parallel\nQueue=KRV\nPort=9102\n"
            << make(Kind::Spooler, QStringLiteral("KRV"), QString(), 9102, QString());
        QTest::newRow("written before serial lines existed")
            << head + "Kind=Tcp\nQueue=q\nHost=10.1.2.3\nPort=9101\nPath=/dev/usb/lp1\n"
            << make(Kind::Tcp, QStringLiteral("q"), QStringLiteral("10.1.2.3"), 9101,
                    QStringLiteral("/dev/usb/lp1"));
        using P = SerialSettings::Parity;
        using F = SerialSettings::Flow;
        const ConnectionSettings serial = make(Kind::Serial, QString(), QString(), 9100, QString());
        const QByteArray line = head + "Kind=Serial\nSerialDevice=/dev/ttyS1\n";
        QTest::newRow("serial speed not a number")
            << line + "SerialSpeed=fast\nSerialFrame=7E1\nSerialFlow=rtscts\n"
            << withSerial(serial, QStringLiteral("/dev/ttyS1"), 9600, 7, P::Even, 1, F::RtsCts);
        QTest::newRow("serial speed with a sign")
            << line + "SerialSpeed=+4800\nSerialFlow=xonxoff\n"
            << withSerial(serial, QStringLiteral("/dev/ttyS1"), 9600, 8, P::None, 1, F::XonXoff);
        QTest::newRow("serial speed zero")
            << line + "SerialSpeed=0\nSerialFrame=8O2\n"
            << withSerial(serial, QStringLiteral("/dev/ttyS1"), 9600, 8, P::Odd, 2, F::None);
        QTest::newRow("serial frame damaged")
            << line + "SerialSpeed=19200\nSerialFrame=9X3\nSerialFlow=rtscts\n"
            << withSerial(serial, QStringLiteral("/dev/ttyS1"), 19200, 8, P::None, 1, F::RtsCts);
        QTest::newRow("serial flow unknown")
            << line + "SerialSpeed=2400\nSerialFrame=7O1\nSerialFlow=sometimes\n"
            << withSerial(serial, QStringLiteral("/dev/ttyS1"), 2400, 7, P::Odd, 1, F::None);
        QTest::newRow("list where a name belongs")
            << head + "Kind=Tcp\nHost=a, b\nPort=9103\n"
            << make(Kind::Tcp, QString(), QString(), 9103, QString());
        QTest::newRow("valid lines around broken ones")
            << head + "Kind=File\n=====\nnonsense\nPath=/dev/usb/lp0\n\"unterminated\n"
            << make(Kind::File, QString(), QString(), 9100, QStringLiteral("/dev/usb/lp0"));
        QTest::newRow("values under another key only")
            << QByteArray("[Other]\nKind=Tcp\nHost=x\n") << defaults();
    }
    void damagedFileKeepsValidFields() {
        QFETCH(QByteArray, file);
        QFETCH(ConnectionSettings, expected);
        freshConfigHome();
        QDir().mkpath(QFileInfo(connectionStorePath()).path());
        QFile store(connectionStorePath());
        QVERIFY(store.open(QIODevice::WriteOnly));
        store.write(file);
        store.close();
        QCOMPARE(readConnectionSettings(Key), expected);
    }

    // The store's plain form is read without QSettings; whatever that reader
    // takes must come out as QSettings reads it, and the rest is left to it.
    void plainStoreReadsAsQSettingsReadsIt_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<bool>("plain");
        QTest::newRow("as written") << QByteArray("[KRV520Config]\nHost=10.0.0.5\nKind=Tcp\n"
                                                  "Path=\nPort=9100\nQueue=\nSerialFlow=none\n")
                                    << true;
        QTest::newRow("blanks, tabs and empty lines")
            << QByteArray("\n  [ KRV520Config ]  \n\t Kind \t=  Tcp \t\n\nHost = a b \n") << true;
        QTest::newRow("no end of line, value with =")
            << QByteArray("[KRV520Config]\nHost=a=b") << true;
        QTest::newRow("later line wins, sections merge")
            << QByteArray("[KRV520Config]\nKind=Tcp\n[Other]\nKind=File\n[KRV520Config]\n"
                          "Kind=Serial\n")
            << true;
        QTest::newRow("general is the top level")
            << QByteArray("Kind=Tcp\n[GENERAL]\nHost=h\n[KRV520Config]\nKind=File\n") << true;
        QTest::newRow("keys keep their case")
            << QByteArray("[KRV520Config]\nkind=Tcp\nKIND=File\n") << true;
        QTest::newRow("UTF-8 and damaged UTF-8 in values")
            << QByteArray("[KRV520Config]\nQueue=K\xc3\xbc"
                          "che\nHost=\xff\xfe\n")
            << true;
        QTest::newRow("line without =")
            << QByteArray("[KRV520Config]\nKind=Tcp\nnonsense\n") << true;
        QTest::newRow("section not closed") << QByteArray("[KRV520Config\nKind=Tcp\n") << true;
        QTest::newRow("text after the section")
            << QByteArray("[KRV520Config] x\nKind=Tcp\n") << true;
        const char *others[] = {
            "Host=\"a\"\n",   "Host=a\\x41\n", "Host=a;b\n",        "Host=a,b\n",
            ";Kind=File\n",   "Ki%6Ed=Tcp\n",  "Host=@Invalid()\n", "Kind=Tcp\r\n",
            "Sub/Kind=Tcp\n", "=Tcp\n",        "Host=\x01\n",       "K\xc3\xbcnd=Tcp\n"};
        for (const char *line : others)
            QTest::newRow(QByteArray(line).trimmed().constData())
                << QByteArray("[KRV520Config]\n") + line << false;
        QTest::newRow("empty section name") << QByteArray("[]\nKind=Tcp\n") << false;
    }
    void plainStoreReadsAsQSettingsReadsIt() {
        QFETCH(QByteArray, file);
        QFETCH(bool, plain);
        const std::optional<PlainIni> read = readPlainIni(file);
        QCOMPARE(read.has_value(), plain);
        if (!read)
            return;
        QTemporaryDir folder;
        QFile copy(folder.filePath(QStringLiteral("store.conf")));
        QVERIFY(copy.open(QIODevice::WriteOnly) && copy.write(file) == file.size());
        copy.close();
        const QSettings settings(copy.fileName(), QSettings::IniFormat);
        QCOMPARE(read->formatError, settings.status() == QSettings::FormatError);
        QStringList keys = settings.allKeys();
        for (const auto &[key, value] : read->values)
            keys << key;
        for (const QString &key : keys) {
            const auto ours = read->values.find(key);
            QVERIFY2(ours != read->values.end(), qPrintable(key));
            QCOMPARE(ours->second, settings.value(key).toString());
        }
    }

    void unusableKeyIsRefused_data() {
        QTest::addColumn<QString>("key");
        QTest::newRow("empty") << QString();
        QTest::newRow("slash") << QStringLiteral("KRV520/Config");
    }
    void unusableKeyIsRefused() {
        QFETCH(QString, key);
        freshConfigHome();
        QVERIFY_THROWS_EXCEPTION(krv::RuntimeError, writeConnectionSettings(key, defaults()));
    }

    void unwritableStoreGivesError_data() {
        QTest::addColumn<QString>("how");
        // Root ignores permission bits, so the store is made unwritable by
        // other means.
        QTest::newRow("a file where the folder should be") << QStringLiteral("file");
        QTest::newRow("configuration home under /proc") << QStringLiteral("proc");
        QTest::newRow("immutable folder (chattr +i)") << QStringLiteral("immutable folder");
        QTest::newRow("immutable file (chattr +i)") << QStringLiteral("immutable file");
    }
    void unwritableStoreGivesError() {
        QFETCH(QString, how);
        const QString home = freshConfigHome();
        const QString folder = QFileInfo(connectionStorePath()).path();
        QString locked;
        if (how == QLatin1String("file")) {
            QFile blocker(folder);
            QVERIFY(blocker.open(QIODevice::WriteOnly));
        } else if (how == QLatin1String("proc")) {
            qputenv("XDG_CONFIG_HOME", "/proc/krv-config-test");
        } else {
            writeConnectionSettings(Key, defaults());
            locked = how == QLatin1String("immutable folder") ? folder : connectionStorePath();
            if (!chattr("+i", locked))
                QSKIP("chattr +i is not supported on this file system");
        }
        const auto changed =
            make(Kind::Tcp, QString(), QStringLiteral("127.0.0.1"), 9104, QString());
        int number = 0;
        QString description;
        try {
            writeConnectionSettings(Key, changed);
        } catch (const krv::RuntimeError &e) {
            number = e.number();
            description = e.description();
        }
        if (!locked.isEmpty())
            chattr("-i", locked);
        QCOMPARE(number, errors::ConfigWriteFailed);
        QVERIFY2(description.contains(QStringLiteral("/vela")), qPrintable(description));
        // Reading from the same store does not fail; it gives what is there.
        const ConnectionSettings read = readConnectionSettings(Key);
        QVERIFY(read == defaults());
        Q_UNUSED(home);
    }
};

QTEST_GUILESS_MAIN(TestConfig)
#include "tst_config.moc"
