#include "factscache.h"

#include "oxfileutils.h"

#include <QDataStream>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cmath>

namespace {

constexpr quint32 kMagic = 0x44434646; // "DCFF"
// Raised whenever the layout below or the meaning of a probed field changes.
// 2: fixes carry whether they have accelerometer readings.
constexpr quint32 kVersion = 2;
// An hour of fixes at ten per second takes about 3 MB.
constexpr qint64 kMaxFileBytes = 16 << 20;
// Bytes one fix takes in the file, to bound a fix count read from it.
constexpr int kFixBytes = 2 + 6 * 8 + 6 * 4;

QDataStream &operator<<(QDataStream &s, const OxLocation &f)
{
    return s << f.valid << f.latitude << f.longitude << f.speed << f.hasGsensor << f.gsensorX
             << f.gsensorY << f.gsensorZ << qint32(f.day) << qint32(f.month) << qint32(f.year)
             << qint32(f.hour) << qint32(f.minute) << qint32(f.second);
}

QDataStream &operator>>(QDataStream &s, OxLocation &f)
{
    qint32 v[6] = {};
    s >> f.valid >> f.latitude >> f.longitude >> f.speed >> f.hasGsensor >> f.gsensorX >>
        f.gsensorY >> f.gsensorZ >> v[0] >> v[1] >> v[2] >> v[3] >> v[4] >> v[5];
    f.day = v[0];
    f.month = v[1];
    f.year = v[2];
    f.hour = v[3];
    f.minute = v[4];
    f.second = v[5];
    return s;
}

struct FileKey
{
    QString path;
    qint64 size = 0;
    qint64 modifiedMs = 0;
};

FileKey keyOf(const QString &path)
{
    const QFileInfo info(path);
    return {info.absoluteFilePath(), info.size(), info.lastModified().toMSecsSinceEpoch()};
}

QString cachePathFor(const FileKey &key, const QString &folder)
{
    return folder + QLatin1Char('/') +
           OxFileUtils::recordingCacheName(key.path, QStringLiteral("facts"));
}

} // namespace

QString factsCachePath(const QString &path)
{
    return cachePathFor(keyOf(path), OxFileUtils::factsLocation());
}

std::optional<RecordingFacts> readCachedFacts(const QString &path)
{
    const FileKey key = keyOf(path);
    QFile file(cachePathFor(key, OxFileUtils::factsLocation()));
    // A regular file only: a FIFO planted in the cache must not block the reader.
    if (!QFileInfo(file).isFile() || file.size() > kMaxFileBytes || !file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QDataStream in(&file);
    in.setVersion(QDataStream::Qt_5_15);

    quint32 magic = 0;
    quint32 version = 0;
    in >> magic >> version;
    if (in.status() != QDataStream::Ok || magic != kMagic || version != kVersion)
        return std::nullopt;
    RecordingFacts facts;
    bool hasContainerTime = false;
    qint64 containerTime = 0;
    qint32 videoStreams = 0;
    qint32 fixes = 0;
    in >> facts.path >> facts.size >> facts.modifiedMs >> facts.probed >> facts.duration >>
        videoStreams >> hasContainerTime >> containerTime >> facts.gpsSource >> fixes;
    if (in.status() != QDataStream::Ok || facts.path != key.path || facts.size != key.size ||
        facts.modifiedMs != key.modifiedMs || !std::isfinite(facts.duration) ||
        facts.duration < 0 || videoStreams < 0 || fixes < 0 ||
        qint64(fixes) * kFixBytes > file.size())
        return std::nullopt;
    facts.videoStreams = videoStreams;
    if (hasContainerTime)
        facts.containerTimeMs = containerTime;
    facts.track.resize(fixes);
    for (OxLocation &fix : facts.track)
        in >> fix;
    if (in.status() != QDataStream::Ok || !in.atEnd())
        return std::nullopt;
    for (const OxLocation &fix : facts.track) {
        if (!std::isfinite(fix.latitude) || !std::isfinite(fix.longitude) ||
            !std::isfinite(fix.speed))
            return std::nullopt;
    }
    deriveRecordingFacts(facts);
    return facts;
}

bool writeCachedFacts(const RecordingFacts &facts)
{
    const FileKey key{facts.path, facts.size, facts.modifiedMs};
    QSaveFile file(cachePathFor(key, OxFileUtils().factsDir()));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QDataStream out(&file);
    out.setVersion(QDataStream::Qt_5_15);
    out << kMagic << kVersion << facts.path << facts.size << facts.modifiedMs << facts.probed
        << facts.duration << qint32(facts.videoStreams) << facts.containerTimeMs.has_value()
        << facts.containerTimeMs.value_or(0) << facts.gpsSource << qint32(facts.track.size());
    for (const OxLocation &fix : facts.track)
        out << fix;
    return out.status() == QDataStream::Ok && file.commit();
}

std::optional<RecordingFacts> cachedOrProbedFacts(const QString &path,
                                                  const std::atomic<bool> *stop)
{
    if (std::optional<RecordingFacts> cached = readCachedFacts(path))
        return cached;
    return probeAndCacheFacts(path, stop);
}

std::optional<RecordingFacts> probeAndCacheFacts(const QString &path, const std::atomic<bool> *stop)
{
    std::optional<RecordingFacts> facts = probeRecordingFacts(path, stop);
    // A path that is not a file has no key worth keeping.
    if (facts && QFileInfo(facts->path).isFile())
        writeCachedFacts(*facts);
    return facts;
}

QVector<RecordingFacts> factsOfArguments(const QStringList &paths, QString *error,
                                         QStringList *unreadable)
{
    QStringList recordings;
    for (const QString &path : paths) {
        const QFileInfo info(path);
        if (info.isDir()) {
            recordings << recordingsUnder(path);
            continue;
        }
        // Only a regular file that opens: a FIFO or a device could block the open.
        QFile file(path);
        if (!info.isFile() || !file.open(QIODevice::ReadOnly)) {
            if (error)
                *error = QStringLiteral("cannot read %1").arg(path);
            return {};
        }
        recordings << path;
    }
    QVector<RecordingFacts> facts;
    for (const QString &path : recordings) {
        const std::optional<RecordingFacts> f = cachedOrProbedFacts(path);
        if (f && f->probed)
            facts << *f;
        else if (unreadable)
            *unreadable << path;
    }
    if (facts.isEmpty() && error)
        *error = QStringLiteral("no readable recordings in %1").arg(paths.join(QLatin1Char(' ')));
    return facts;
}
