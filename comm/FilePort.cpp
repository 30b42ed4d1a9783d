#include "FilePort.h"

#include "CommErrors.h"
#include "OwnFiles.h"
#include "RuntimeError.h"
#include "SystemReason.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace krv::comm {

FilePort::FilePort(QString path, std::chrono::milliseconds deviceTimeout)
    : mPath(std::move(path)), mDeviceTimeout(deviceTimeout) {}

FilePort::~FilePort() {
    discard();
}

void FilePort::discard() {
    if (mFd >= 0)
        ::close(mFd);
    mFd = -1;
    if (!mTempPath.isEmpty())
        ::unlink(QFile::encodeName(mTempPath).constData());
    mTempPath.clear();
}

void FilePort::OpenPort() {
    discard();
    mFailed = false;
    if (mPath.isEmpty())
        throw RuntimeError(errors::IncompleteSettings,
                           QStringLiteral("No file or device is set to print to."));

    // Follow links so that a link to a device is opened as the device and a
    // link to a file has its target replaced, not the link.
    const QFileInfo info(mPath);
    mTarget = info.exists() ? info.canonicalFilePath() : info.absoluteFilePath();
    const QByteArray target = QFile::encodeName(mTarget);

    struct stat st {};
    const bool exists = ::stat(target.constData(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode))
        throw RuntimeError(
            errors::FileIsFolder,
            QStringLiteral("%1 is a folder, not a file or printer device.").arg(mPath));

    // A FIFO or socket is neither a printer nor a file that keeps the job,
    // and writing one can wait on whatever is at its other end.
    if (exists && !S_ISREG(st.st_mode) && !S_ISCHR(st.st_mode) && !S_ISBLK(st.st_mode))
        throw RuntimeError(errors::FileNotFileOrDevice,
                           QStringLiteral("%1 is %2, not a file or printer device.")
                               .arg(mPath, fileKindName(st.st_mode)));
    // The job replaces a regular file by a new one, which a writable folder
    // would allow even for a read-only file; the file's own permission is
    // what its owner meant.
    if (exists && S_ISREG(st.st_mode) &&
        ::faccessat(AT_FDCWD, target.constData(), W_OK, AT_EACCESS) != 0)
        throw RuntimeError(errors::FileOpenFailed,
                           QStringLiteral("Will not replace %1: this user may not write to it "
                                          "(%2).")
                               .arg(mPath, systemReason(errno)));

    mDevice = exists && !S_ISREG(st.st_mode);
    if (mDevice) {
        // Non-blocking, so a printer device that stops taking data cannot
        // freeze the window; writes wait for it with a bound.
        mFd = ::open(target.constData(), O_WRONLY | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
        if (mFd < 0)
            refuseLocalLimit(errno);
        if (mFd < 0)
            throw RuntimeError(errors::FileOpenFailed,
                               QStringLiteral("Could not open the device %1 for writing: %2.")
                                   .arg(mPath, systemReason(errno)));
        return;
    }

    const QFileInfo targetInfo(mTarget);
    QByteArray temp = QFile::encodeName(targetInfo.absolutePath() + QLatin1String("/.") +
                                        targetInfo.fileName() + QLatin1String(".XXXXXX"));
    mFd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (mFd < 0)
        refuseLocalLimit(errno);
    if (mFd < 0)
        throw RuntimeError(
            errors::FileOpenFailed,
            QStringLiteral("Could not create the file %1: %2.").arg(mPath, systemReason(errno)));
    mTempPath = QFile::decodeName(temp);
    // mkostemp makes the file private; give it what a newly created file or
    // the file it replaces would have had.
    mode_t mode = 0;
    if (exists) {
        mode = st.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    if (::fchmod(mFd, mode) != 0) {
        const int error = errno;
        discard();
        throw RuntimeError(errors::FileOpenFailed,
                           QStringLiteral("Could not set the permissions of the file %1: %2.")
                               .arg(mPath, systemReason(error)));
    }
}

void FilePort::SendData(const QByteArray &data) {
    if (mFd < 0)
        throw RuntimeError(errors::NotOpen, QStringLiteral("The file %1 is not open.").arg(mPath));
    mFailed = true;
    const QDeadlineTimer deadline(mDeviceTimeout);
    const char *p = data.constData();
    qsizetype left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(mFd, p, size_t(left));
        if (n > 0) {
            p += n;
            left -= n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            const int wait =
                mAbort.aborted() ? 0 : int(std::max<qint64>(0, deadline.remainingTime()));
            const int ready = wait > 0 ? mAbort.wait(mFd, POLLOUT, wait) : 0;
            if (!mAbort.aborted() && (ready > 0 || (ready < 0 && errno == EINTR)))
                continue;
            if (mAbort.aborted())
                throw RuntimeError(errors::FileWriteFailed,
                                   QStringLiteral("The write to %1 was cancelled: %2 of %3 bytes "
                                                  "were not written.")
                                       .arg(mPath)
                                       .arg(left)
                                       .arg(data.size()));
            throw RuntimeError(errors::FileWriteTimeout,
                               QStringLiteral("The device %1 stopped taking data: %2 of %3 "
                                              "bytes were not written within %4 s.")
                                   .arg(mPath)
                                   .arg(left)
                                   .arg(data.size())
                                   .arg(double(mDeviceTimeout.count()) / 1000.0));
        }
        const int error = n < 0 ? errno : EIO;
        throw RuntimeError(
            errors::FileWriteFailed,
            QStringLiteral("Could not write to %1: %2.").arg(mPath, systemReason(error)));
    }
    mFailed = false;
}

void FilePort::ClosePort() {
    if (mFd < 0)
        return;
    if (mFailed) {
        discard();
        return;
    }
    const int fd = mFd;
    mFd = -1;
    if (mDevice) {
        if (::close(fd) != 0 && errno != EINTR)
            throw RuntimeError(errors::FileCloseFailed,
                               QStringLiteral("Could not finish writing to %1: %2.")
                                   .arg(mPath, systemReason(errno)));
        return;
    }
    // The job must be on disk before it replaces the old file, or a crash
    // could leave an empty file in its place.
    int error = ::fsync(fd) == 0 ? 0 : errno;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error == 0 && ::rename(QFile::encodeName(mTempPath).constData(),
                               QFile::encodeName(mTarget).constData()) != 0)
        error = errno;
    if (error != 0) {
        discard();
        throw RuntimeError(
            errors::FileCloseFailed,
            QStringLiteral("Could not save the file %1: %2.").arg(mPath, systemReason(error)));
    }
    mTempPath.clear();
}

} // namespace krv::comm
