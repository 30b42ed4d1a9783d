#include "OwnFiles.h"

#include "RuntimeError.h"
#include "SystemReason.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSaveFile>

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace krv::comm {

namespace {

QString sizeText(qint64 bytes) {
    if (bytes % (1024 * 1024) == 0)
        return QStringLiteral("%1 MiB").arg(bytes / (1024 * 1024));
    return bytes % 1024 == 0 ? QStringLiteral("%1 KiB").arg(bytes / 1024)
                             : QStringLiteral("%1 bytes").arg(bytes);
}

[[noreturn]] void tooLarge(const QString &path, qint64 maxBytes, int errorNumber) {
    throw RuntimeError(errorNumber,
                       QStringLiteral("%1 is larger than %2, the most that is read from it.")
                           .arg(path, sizeText(maxBytes)));
}

// Follows symbolic links, also to a target that does not exist yet, which
// is where a write through the link has to create the file.
QString resolveLinks(const QString &path) {
    const QFileInfo info(path);
    if (info.exists())
        return info.canonicalFilePath();
    QString current = info.absoluteFilePath();
    for (int hops = 0; hops < 40; ++hops) {
        const QFileInfo step(current);
        if (!step.isSymLink())
            break;
        current = step.symLinkTarget();
    }
    return current;
}

class Descriptor {
public:
    explicit Descriptor(int fd) : mFd(fd) {}
    ~Descriptor() {
        if (mFd >= 0)
            ::close(mFd);
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    [[nodiscard]] int get() const { return mFd; }

private:
    int mFd;
};

struct FailedStep {
    int error = 0;
    const char *step = "";
};

// Writes `data` to a file `temp` that must not exist yet, synced and closed;
// with the permissions of `modeOf` when that exists, else as the umask
// gives them. What failed, if anything; a failed temporary is removed.
FailedStep writeNewFile(const QByteArray &temp, const QByteArray &data, const QByteArray &modeOf) {
    const int fd =
        ::open(temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0)
        return {errno, "creating"};
    const auto fail = [&](int error, const char *step) {
        ::close(fd);
        ::unlink(temp.constData());
        return FailedStep{error, step};
    };
    for (qsizetype done = 0; done < data.size();) {
        const ssize_t n = ::write(fd, data.constData() + done, size_t(data.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return fail(n < 0 ? errno : EIO, "writing");
        done += n;
    }
    // A replacement keeps the permissions of the file it replaces.
    struct stat st {};
    if (!modeOf.isEmpty() && ::stat(modeOf.constData(), &st) == 0 &&
        ::fchmod(fd, st.st_mode & 07777) != 0)
        return fail(errno, "setting the permissions of");
    if (::fsync(fd) != 0)
        return fail(errno, "syncing");
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(temp.constData());
        return {error, "closing"};
    }
    return {};
}

} // namespace

QString fileKindName(unsigned int mode) {
    switch (mode & S_IFMT) {
    case S_IFREG:
        return QStringLiteral("a regular file");
    case S_IFDIR:
        return QStringLiteral("a folder");
    case S_IFIFO:
        return QStringLiteral("a FIFO (named pipe)");
    case S_IFSOCK:
        return QStringLiteral("a socket");
    case S_IFCHR:
        return QStringLiteral("a character device");
    case S_IFBLK:
        return QStringLiteral("a block device");
    case S_IFLNK:
        return QStringLiteral("a symbolic link");
    default:
        return QStringLiteral("not a file");
    }
}

std::optional<QByteArray> readSmallFile(const QString &path, qint64 maxBytes, int errorNumber) {
    const QByteArray name = QFile::encodeName(path);
    // Looked at before it is opened: opening a device can already act on it
    // (a serial line, a tape), and opening a FIFO waits for a writer.
    struct stat st {};
    if (::stat(name.constData(), &st) != 0) {
        // A file where a folder of the path belongs means nothing is there either.
        if (errno == ENOENT || errno == ENOTDIR)
            return std::nullopt;
        throw RuntimeError(errorNumber,
                           QStringLiteral("Cannot read %1: %2.").arg(path, systemReason(errno)));
    }
    if (!S_ISREG(st.st_mode))
        throw RuntimeError(errorNumber, QStringLiteral("Cannot read %1: it is %2, not a regular "
                                                       "file.")
                                            .arg(path, fileKindName(st.st_mode)));
    if (st.st_size > maxBytes)
        tooLarge(path, maxBytes, errorNumber);

    // Non-blocking in case something else has taken the name meanwhile.
    const Descriptor fd(::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd.get() < 0)
        throw RuntimeError(errorNumber,
                           QStringLiteral("Cannot read %1: %2.").arg(path, systemReason(errno)));
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
        throw RuntimeError(errorNumber, QStringLiteral("Cannot read %1: it is %2, not a regular "
                                                       "file.")
                                            .arg(path, fileKindName(st.st_mode)));

    // One byte more than allowed tells a file that grew past the limit.
    QByteArray data(maxBytes + 1, Qt::Uninitialized);
    qsizetype got = 0;
    while (got < data.size()) {
        const ssize_t n = ::read(fd.get(), data.data() + got, size_t(data.size() - got));
        if (n == 0)
            break;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw RuntimeError(
                errorNumber, QStringLiteral("Cannot read %1: %2.").arg(path, systemReason(errno)));
        }
        got += n;
    }
    if (got > maxBytes)
        tooLarge(path, maxBytes, errorNumber);
    data.truncate(got);
    return data;
}

QString checkedWriteTarget(const QString &path, int errorNumber) {
    const QString target = resolveLinks(path);
    const QByteArray name = QFile::encodeName(target);
    const QString shown = target == QFileInfo(path).absoluteFilePath()
                              ? path
                              : QStringLiteral("%1 (a link to %2)").arg(path, target);
    struct stat st {};
    if (::stat(name.constData(), &st) != 0) {
        if (errno == ENOENT)
            return target;
        throw RuntimeError(errorNumber,
                           QStringLiteral("Cannot write %1: %2.").arg(shown, systemReason(errno)));
    }
    if (!S_ISREG(st.st_mode))
        throw RuntimeError(errorNumber,
                           QStringLiteral("Will not write %1: it is %2, not a regular file; "
                                          "nothing was changed.")
                               .arg(shown, fileKindName(st.st_mode)));
    // The replacement is a new file, which a read-only file's folder may
    // well allow; the file's own permission is what the user meant.
    if (::faccessat(AT_FDCWD, name.constData(), W_OK, AT_EACCESS) != 0)
        throw RuntimeError(errorNumber,
                           QStringLiteral("Will not replace %1: this user may not write to it "
                                          "(%2).")
                               .arg(shown, systemReason(errno)));
    return target;
}

void writeSmallFile(const QString &path, const QByteArray &data, int errorNumber) {
    const QString target = checkedWriteTarget(path, errorNumber);
    QSaveFile file(target);
    // Never fall back to truncating the file in place.
    file.setDirectWriteFallback(false);
    const auto fail = [&](const QString &reason) {
        if (file.isOpen())
            file.cancelWriting();
        throw RuntimeError(errorNumber,
                           QStringLiteral("Cannot write %1: %2; the previous file is unchanged.")
                               .arg(path, reason));
    };
    if (!file.open(QIODevice::WriteOnly))
        fail(file.errorString());
    if (file.write(data) != data.size())
        fail(file.errorString());
    // QSaveFile (Qt 6.4) buffers small writes and ignores the errors of the
    // flush and sync in commit(): a full disk would give an empty file in
    // place of the old one. Both are done and checked here first.
    if (!file.flush())
        fail(file.errorString());
    if (::fsync(file.handle()) != 0)
        fail(systemReason(errno));
    if (!file.commit())
        throw RuntimeError(errorNumber,
                           QStringLiteral("Cannot write %1: %2; the previous file is unchanged.")
                               .arg(path, file.errorString()));
}

void writeLockedSmallFile(const QString &path, const QByteArray &data, int errorNumber) {
    const QString target = checkedWriteTarget(path, errorNumber);
    const QFileInfo info(target);
    const QByteArray temp = QFile::encodeName(info.absolutePath() + QLatin1String("/.") +
                                              info.fileName() + QLatin1String(".saving"));
    const auto fail = [&](const FailedStep &failed) {
        throw RuntimeError(errorNumber,
                           QStringLiteral("Cannot write %1 (%2 %3): %4; the previous file is "
                                          "unchanged.")
                               .arg(path, QLatin1String(failed.step), QFile::decodeName(temp),
                                    systemReason(failed.error)));
    };
    // Left by a write that was killed: nobody else writes it under the lock.
    if (::unlink(temp.constData()) != 0 && errno != ENOENT)
        fail({errno, "removing the leftover"});
    if (const FailedStep failed = writeNewFile(temp, data, QFile::encodeName(target)); failed.error)
        fail(failed);
    if (::rename(temp.constData(), QFile::encodeName(target).constData()) != 0) {
        const int error = errno;
        ::unlink(temp.constData());
        fail({error, "renaming"});
    }
}

bool writeNewSmallFile(const QString &path, const QByteArray &data, int errorNumber) {
    if (QFileInfo::exists(path))
        return false;
    const QString target = checkedWriteTarget(path, errorNumber);
    const QByteArray name = QFile::encodeName(target);
    const QFileInfo info(target);
    QByteArray temp;
    FailedStep failed;
    // A name of our own beside the file; another writer's is never touched.
    for (int tries = 0; tries < 16; ++tries) {
        temp = QFile::encodeName(
            QStringLiteral("%1/.%2.%3")
                .arg(info.absolutePath(), info.fileName())
                .arg(QRandomGenerator::global()->generate64(), 16, 16, QLatin1Char('0')));
        failed = writeNewFile(temp, data, QByteArray());
        if (!(failed.error == EEXIST && std::strcmp(failed.step, "creating") == 0))
            break;
    }
    const auto fail = [&](const FailedStep &step) {
        throw RuntimeError(errorNumber,
                           QStringLiteral("Cannot write %1 (%2 %3): %4; nothing was changed.")
                               .arg(path, QLatin1String(step.step), QFile::decodeName(temp),
                                    systemReason(step.error)));
    };
    if (failed.error)
        fail(failed);
    // Put in place only if nothing has taken the name since it was looked
    // at: a file another program made meanwhile stays as it is.
    int error = 0;
    if (::renameat2(AT_FDCWD, temp.constData(), AT_FDCWD, name.constData(), RENAME_NOREPLACE) !=
        0) {
        error = errno;
        // A file system without that kind of rename still refuses to link
        // over an existing name.
        if (error == EINVAL || error == ENOSYS)
            error = ::link(temp.constData(), name.constData()) == 0 ? 0 : errno;
    }
    ::unlink(temp.constData());
    if (error == EEXIST)
        return false;
    if (error)
        fail({error, "renaming"});
    return true;
}

} // namespace krv::comm
