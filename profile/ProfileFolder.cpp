#include "ProfileFolder.h"

#include "ConnectionSettings.h"
#include "OwnFiles.h"
#include "ProfileErrors.h"
#include "RuntimeError.h"

#include <QDir>
#include <QFileInfo>

#include <optional>

namespace krv::profile {

namespace {

// A path is at most PATH_MAX (4096) bytes.
constexpr qint64 MaxNoteBytes = 8 * 1024;

QString notePath() {
    return QFileInfo(comm::connectionStorePath())
        .dir()
        .filePath(QStringLiteral("krv520-profile-folder"));
}

} // namespace

QString lastProfileFolder() {
    try {
        const std::optional<QByteArray> note =
            comm::readSmallFile(notePath(), MaxNoteBytes, errors::UnreadableFile);
        // Only the line end goes: a folder's name may end in a blank.
        const QString folder =
            note ? QString::fromUtf8(note->endsWith('\n') ? note->chopped(1) : *note) : QString();
        if (!folder.isEmpty() && QFileInfo(folder).isDir())
            return folder;
    } catch (const RuntimeError &) {
        // Only a starting point: a note that cannot be read starts at home.
    }
    return QDir::homePath();
}

void rememberProfileFolder(const QString &profilePath) {
    const QString note = notePath();
    if (!QDir().mkpath(QFileInfo(note).path()))
        throw RuntimeError(errors::UnwritableFile,
                           QStringLiteral("Could not create the configuration folder %1.")
                               .arg(QFileInfo(note).path()));
    comm::writeSmallFile(note, QFileInfo(profilePath).absolutePath().toUtf8() + '\n',
                         errors::UnwritableFile);
}

} // namespace krv::profile
