#include "oxfileutils.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

// Creates the folder with any missing parents: on a fresh account even the data
// location's parent (~/.local/share) may be missing, and a folder we cannot make
// would silently lose the configuration and the playlist.
void ensureDir(const QString &path)
{
    if (!QFileInfo(path).isDir())
        QDir().mkpath(path);
}

QString folderIn(QStandardPaths::StandardLocation base, const QString &pattern)
{
    const QString basePath = QStandardPaths::writableLocation(base);
    ensureDir(basePath);
    const QString path = pattern.arg(basePath);
    ensureDir(path);
    return path;
}

// A folder of the user's cache, readable by the owner only: a folder shared by every
// account would let one user block or redirect another's writes.
QString ownerOnlyDir(const QString &path)
{
    if (!QFileInfo(path).isDir())
        QDir().mkpath(path);
    const QFile::Permissions ownerOnly = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                         QFile::ReadUser | QFile::WriteUser | QFile::ExeUser;
    if (QFile::permissions(path) != ownerOnly)
        QFile::setPermissions(path, ownerOnly);
    return path;
}

} // namespace

OxFileUtils::OxFileUtils(QObject *parent) : QObject(parent)
{
}

QString OxFileUtils::cacheDir()
{
    return folderIn(QStandardPaths::TempLocation, QStringLiteral("%1/cache"));
}

QString OxFileUtils::thumbnailLocation()
{
    return QStringLiteral("%1/thumbnails")
        .arg(QStandardPaths::writableLocation(QStandardPaths::CacheLocation));
}

QString OxFileUtils::thumbnailDir()
{
    return ownerOnlyDir(thumbnailLocation());
}

QString OxFileUtils::factsLocation()
{
    return QStringLiteral("%1/facts")
        .arg(QStandardPaths::writableLocation(QStandardPaths::CacheLocation));
}

QString OxFileUtils::factsDir()
{
    return ownerOnlyDir(factsLocation());
}

QString OxFileUtils::configureDir()
{
    return folderIn(QStandardPaths::AppLocalDataLocation, QStringLiteral("%1/configure"));
}

QString OxFileUtils::playlistDir()
{
    return folderIn(QStandardPaths::AppLocalDataLocation, QStringLiteral("%1/playlist"));
}

QString OxFileUtils::captureDir()
{
    const QFileInfoList drives = QDir::drives();
    if (drives.size() > 1) {
        const QString player = QStringLiteral("%1/Player").arg(drives.at(1).absoluteFilePath());
        ensureDir(player);
        const QString path = QStringLiteral("%1/CAPTURE").arg(player);
        ensureDir(path);
        return path;
    }
    return folderIn(QStandardPaths::AppLocalDataLocation, QStringLiteral("%1/CAPTURE"));
}

void OxFileUtils::deleteRecursively(const QString &path)
{
    const QFileInfo info(path);
    if (info.isSymLink()) {
        QFile::remove(path);
        return;
    }
    if (info.isDir()) {
        QDir dir(path);
        const QStringList names = dir.entryList(
            QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::NoSort);
        for (const QString &name : names)
            deleteRecursively(QStringLiteral("%1/%2").arg(path, name));
        dir.rmdir(path);
    } else if (info.exists()) {
        QFile::remove(path);
    }
}

bool OxFileUtils::removeFile(const QString &path)
{
    return QFile::remove(path);
}

namespace {

// The file system's limit for one name, in bytes.
constexpr int kMaxNameBytes = 255;

// The recording's name as the start of a cache file's name: control characters, bytes
// that are not UTF-8 and characters outside the basic plane replaced (the name stays
// plain text wherever it is written, and the cut below never splits a surrogate pair),
// and cut so that reserved bytes still fit after it.
QString cacheNameStem(const QString &fileName, int reserved)
{
    QString stem;
    for (const QChar c : fileName) {
        const bool plain = c.unicode() >= 0x20 && c.unicode() != 0x7F && !c.isSurrogate();
        stem.append(plain ? c : QChar(QLatin1Char('_')));
    }
    while (stem.toUtf8().size() > kMaxNameBytes - reserved)
        stem.chop(1);
    return stem.isEmpty() ? QStringLiteral("video") : stem;
}

} // namespace

QString OxFileUtils::recordingCacheName(const QString &path, const QString &extension)
{
    const QFileInfo file(path);
    QCryptographicHash hash(QCryptographicHash::Sha1);
    hash.addData(QFile::encodeName(file.absoluteFilePath()));
    hash.addData(QByteArray::number(file.size()));
    hash.addData(QByteArray::number(file.lastModified().toMSecsSinceEpoch()));
    const QString suffix = QStringLiteral("-%1.%2").arg(
        QString::fromLatin1(hash.result().toHex().left(16)), extension);
    return cacheNameStem(file.fileName(), suffix.toUtf8().size()) + suffix;
}
