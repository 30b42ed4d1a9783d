#pragma once

// Real things of every kind at a path, made as root in a temporary folder:
// the kernel's memory devices with mknod, FIFOs, sockets, a full tmpfs.
#include <QDir>
#include <QFile>
#include <QProcess>

#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

namespace krv::test {

inline QByteArray fsName(const QString &path) {
    return QFile::encodeName(path);
}

// "null", "zero" and "full" devices (1,3 1,5 1,7), "fifo", "socket",
// "folder", or "link" to a zero device beside it.
inline bool makeKind(const QString &kind, const QString &path) {
    const QByteArray name = fsName(path);
    const unsigned device = kind == QLatin1String("null")   ? 3
                            : kind == QLatin1String("zero") ? 5
                            : kind == QLatin1String("full") ? 7
                                                            : 0;
    if (device)
        return ::mknod(name.constData(), S_IFCHR | 0666, makedev(1, device)) == 0;
    if (kind == QLatin1String("fifo"))
        return ::mkfifo(name.constData(), 0666) == 0;
    if (kind == QLatin1String("folder"))
        return QDir().mkdir(path);
    if (kind == QLatin1String("link"))
        return makeKind(QStringLiteral("zero"), path + ".target") &&
               QFile::link(path + ".target", path);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, name.constData(), sizeof address.sun_path - 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    ::close(fd); // the socket file stays
    return bound;
}

// What is at a path (links followed): type, device numbers, inode.
inline QString identity(const QString &path) {
    struct stat st {};
    if (::stat(fsName(path).constData(), &st) != 0)
        return QStringLiteral("nothing");
    return QStringLiteral("%1 %2 %3").arg(st.st_mode & S_IFMT).arg(st.st_rdev).arg(st.st_ino);
}

// A regular file's bytes; opening anything else could block the test.
inline QByteArray contents(const QString &path) {
    struct stat st {};
    QFile file(path);
    if (::stat(fsName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode) ||
        !file.open(QIODevice::ReadOnly))
        return "<not a readable file>";
    return file.readAll();
}

inline bool writeBytes(const QString &path, const QByteArray &bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.flush();
}

inline QStringList entries(const QString &dir) {
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                               QDir::NoDotAndDotDot);
}

// A 64 KiB tmpfs on `dir` for as long as it lives.
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
    // Fills it with a file "filler", then gives back `pagesLeft` 4 KiB pages.
    void fill(int pagesLeft) const {
        QFile filler(QFile::decodeName(mDir + "/filler"));
        filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered);
        while (filler.write(QByteArray(512, 'f')) == 512) {
        }
        filler.resize(filler.size() - 4096 * pagesLeft);
    }

private:
    QByteArray mDir;
    bool mMounted = false;
};

// Runs a program, as root or as the user nobody; its exit code, or -1 when
// it crashed or took more than a minute.
inline int runProgram(const QString &program, const QStringList &arguments, bool asNobody,
                      QByteArray *output) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    const QStringList nobody{"--reuid=nobody", "--regid=nogroup", "--clear-groups", program};
    if (asNobody)
        process.start(QStringLiteral("setpriv"), nobody + arguments);
    else
        process.start(program, arguments);
    if (!process.waitForFinished(60000))
        process.kill();
    process.waitForFinished();
    *output = process.readAll();
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

} // namespace krv::test
