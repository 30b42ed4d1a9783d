#pragma once

// A private CUPS scheduler for tests: its own folders in a temporary folder,
// listening on 127.0.0.1 only. Needs root (its device backends run as lp)
// and the Debian packages cups and cups-client.
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

namespace krv::test {

class PrivateScheduler {
public:
    PrivateScheduler() = default;
    PrivateScheduler(const PrivateScheduler &) = delete;
    PrivateScheduler &operator=(const PrivateScheduler &) = delete;
    ~PrivateScheduler() {
        if (mCupsd.state() == QProcess::NotRunning)
            return;
        mCupsd.terminate();
        if (!mCupsd.waitForFinished(15000)) {
            mCupsd.kill();
            mCupsd.waitForFinished(5000);
        }
    }

    // Starts it and waits until it answers: empty, or why it did not start.
    QString start() {
        const QString cupsd =
            QStandardPaths::findExecutable(QStringLiteral("cupsd"), {QStringLiteral("/usr/sbin")});
        if (cupsd.isEmpty() ||
            QStandardPaths::findExecutable(QStringLiteral("lpadmin"), {QStringLiteral("/usr/sbin")})
                .isEmpty())
            return QStringLiteral("cupsd and lpadmin are needed (Debian packages cups and "
                                  "cups-client)");
        // The scheduler drops to user lp, which must reach its folders.
        const QString dir = mDir.path();
        if (!QFile::setPermissions(dir, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                            QFileDevice::ExeOwner | QFileDevice::ReadGroup |
                                            QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                            QFileDevice::ExeOther))
            return QStringLiteral("cannot open %1 to user lp").arg(dir);
        for (const char *sub : {"spool", "spool/tmp", "cache", "state"})
            QDir(dir).mkpath(QString::fromLatin1(sub));

        mServer = QStringLiteral("127.0.0.1:%1").arg(closedPort());
        if (!writeText(dir + QStringLiteral("/cupsd.conf"),
                       QStringLiteral("LogLevel warn\n"
                                      "Listen %1\n"
                                      "Browsing No\n"
                                      "BrowseLocalProtocols none\n"
                                      "DefaultShared No\n"
                                      "WebInterface No\n"
                                      "<Location />\n  Order allow,deny\n  Allow all\n"
                                      "</Location>\n"
                                      "<Policy default>\n  <Limit All>\n    Order allow,deny\n"
                                      "    Allow all\n  </Limit>\n</Policy>\n")
                           .arg(mServer)) ||
            !writeText(dir + QStringLiteral("/cups-files.conf"),
                       QStringLiteral("ServerRoot %1\n"
                                      "StateDir %1/state\n"
                                      "CacheDir %1/cache\n"
                                      "RequestRoot %1/spool\n"
                                      "TempDir %1/spool/tmp\n"
                                      "AccessLog %1/access_log\n"
                                      "ErrorLog %1/error_log\n"
                                      "PageLog %1/page_log\n"
                                      "Printcap %1/printcap\n"
                                      "ServerBin /usr/lib/cups\n"
                                      "DataDir /usr/share/cups\n"
                                      "User lp\nGroup lp\n"
                                      "SystemGroup root lpadmin\n"
                                      "Sandboxing relaxed\n")
                           .arg(dir)))
            return QStringLiteral("cannot write the scheduler's configuration in %1").arg(dir);

        mCupsd.setProcessChannelMode(QProcess::ForwardedChannels);
        mCupsd.start(cupsd, {QStringLiteral("-f"), QStringLiteral("-c"), dir + "/cupsd.conf",
                             QStringLiteral("-s"), dir + "/cups-files.conf"});
        if (!mCupsd.waitForStarted(10000))
            return QStringLiteral("cupsd did not start");
        for (int i = 0; i < 300 && mCupsd.state() == QProcess::Running; ++i) {
            QProcess lpstat;
            lpstat.start(QStringLiteral("lpstat"),
                         {QStringLiteral("-h"), mServer, QStringLiteral("-r")});
            if (lpstat.waitForFinished(5000) && lpstat.exitCode() == 0 &&
                lpstat.readAllStandardOutput().contains("is running"))
                return {};
            QThread::msleep(50);
        }
        QFile log(dir + QStringLiteral("/error_log"));
        log.open(QIODevice::ReadOnly);
        return QStringLiteral("the private scheduler did not start: ") +
               QString::fromUtf8(log.readAll());
    }

    // 127.0.0.1:port, as CUPS_SERVER takes it.
    [[nodiscard]] QString server() const { return mServer; }
    [[nodiscard]] QString folder() const { return mDir.path(); }

    bool lpadmin(const QStringList &arguments) {
        QProcess tool;
        tool.start(QStringLiteral("lpadmin"),
                   QStringList{QStringLiteral("-h"), mServer} + arguments);
        const bool ok = tool.waitForFinished(30000) && tool.exitStatus() == QProcess::NormalExit &&
                        tool.exitCode() == 0;
        if (!ok)
            qWarning("lpadmin %s: %s", qPrintable(arguments.join(QLatin1Char(' '))),
                     tool.readAllStandardError().constData());
        return ok;
    }

    // A raw queue whose device is a listener on 127.0.0.1.
    bool addRawQueue(const QString &name, quint16 port) {
        return lpadmin({QStringLiteral("-p"), name, QStringLiteral("-E"), QStringLiteral("-v"),
                        QStringLiteral("socket://127.0.0.1:%1").arg(port)});
    }

private:
    static bool writeText(const QString &path, const QString &text) {
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(text.toUtf8()) == text.toUtf8().size();
    }

    QTemporaryDir mDir;
    QProcess mCupsd;
    QString mServer;
};

} // namespace krv::test
