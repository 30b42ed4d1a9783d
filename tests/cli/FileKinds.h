#pragma once

// Real things of every kind at a path, made in a temporary folder as root:
// device nodes with mknod, FIFOs, sockets, and a small full file system.
#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace krv::test {

inline QByteArray fsName(const QString &path) {
    return QFile::encodeName(path);
}

// "null", "zero" and "full" are the kernel's memory devices 1,3 / 1,5 / 1,7.
inline bool makeDevice(const QString &path, unsigned minorNumber) {
    return ::mknod(fsName(path).constData(), S_IFCHR | 0666, makedev(1, minorNumber)) == 0;
}

inline bool makeFifo(const QString &path) {
    return ::mkfifo(fsName(path).constData(), 0666) == 0;
}

// A socket file that stays behind when its descriptor is closed.
inline bool makeSocket(const QString &path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, fsName(path).constData(), sizeof address.sun_path - 1);
    const bool ok = ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

// What a path is: its type, device numbers and inode, links followed.
inline QString identity(const QString &path) {
    struct stat st {};
    if (::stat(fsName(path).constData(), &st) != 0)
        return QStringLiteral("nothing");
    return QStringLiteral("mode %1 rdev %2 inode %3")
        .arg(st.st_mode & S_IFMT, 0, 8)
        .arg(st.st_rdev)
        .arg(st.st_ino);
}

// A regular file's bytes; opening anything else could block the test.
inline QByteArray contents(const QString &path) {
    struct stat st {};
    if (::stat(fsName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return "<not a regular file>";
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

inline bool writeBytes(const QString &path, const QByteArray &bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size() && file.flush();
}

// A 64 KiB tmpfs mounted on `dir` for as long as it lives, filled up by fill().
class SmallFileSystem {
public:
    explicit SmallFileSystem(const QString &dir) : mDir(fsName(dir)) {
        mMounted = ::mount("tmpfs", mDir.constData(), "tmpfs", 0, "size=64k") == 0;
    }
    ~SmallFileSystem() {
        if (mMounted)
            ::umount2(mDir.constData(), MNT_DETACH);
    }
    SmallFileSystem(const SmallFileSystem &) = delete;
    SmallFileSystem &operator=(const SmallFileSystem &) = delete;
    [[nodiscard]] bool mounted() const { return mMounted; }
    // Writes a filler file until the file system refuses more, then gives
    // back `pagesLeft` pages of 4 KiB.
    void fill(int pagesLeft = 0) const {
        QFile filler(QFile::decodeName(mDir + "/filler"));
        if (!filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
            return;
        const QByteArray block(512, 'f');
        while (filler.write(block) == block.size()) {
        }
        filler.resize(std::max<qint64>(0, filler.size() - 4096 * pagesLeft));
    }

private:
    QByteArray mDir;
    bool mMounted = false;
};

// Runs a program, as root or as the unprivileged user "nobody"; its exit
// code, or -1 when it crashed or did not end within a minute.
inline int runProgram(const QString &program, const QStringList &arguments, bool asNobody,
                      QByteArray *output = nullptr) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    if (asNobody)
        process.start(QStringLiteral("setpriv"),
                      QStringList{QStringLiteral("--reuid=nobody"),
                                  QStringLiteral("--regid=nogroup"),
                                  QStringLiteral("--clear-groups"), program} +
                          arguments);
    else
        process.start(program, arguments);
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        return -1;
    }
    if (output)
        *output = process.readAll();
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

} // namespace krv::test
