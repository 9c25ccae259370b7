#include "evidenceexport.h"

#include "clipwriter.h"
#include "version.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QSet>
#include <QTemporaryDir>

#include <map>

namespace {

// Of the progress bar: the clip; the rest is copying and checking the originals.
constexpr double kClipShare = 0.9;
constexpr qint64 kCopyBlock = 1 << 20;

// Progress with an estimate of the time left, passed on at most ten times a second.
class ProgressReport
{
public:
    explicit ProgressReport(const ExportProgress &callback) : callback(callback) { clock.start(); }
    void operator()(double fraction)
    {
        const qint64 now = clock.elapsed();
        if (!callback || (fraction < 1 && now - lastMs < 100))
            return;
        lastMs = now;
        const double left =
            fraction > 0.01 && now > 500 ? now / 1000.0 * (1 - fraction) / fraction : -1;
        callback(fraction, left);
    }

private:
    ExportProgress callback;
    QElapsedTimer clock;
    qint64 lastMs = -1000;
};

struct Original
{
    int source = 0;
    QString copy; // relative to the export folder
    qint64 size = 0;
    QByteArray sha256; // hex
};

// The copy's name: the file's own, without the characters a checksum list would have to
// escape, and numbered when two sources share a name.
QString copyName(const QString &path, QSet<QString> &taken)
{
    QString name = QFileInfo(path).fileName();
    for (QChar &c : name) {
        if (c.unicode() < 0x20 || c == QLatin1Char('\\') || c.unicode() == 0x7f)
            c = QLatin1Char('_');
    }
    if (name.isEmpty())
        name = QStringLiteral("recording");
    QString candidate = name;
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    for (int n = 2; taken.contains(candidate); ++n)
        candidate = dot > 0 ? name.left(dot) + QStringLiteral("-%1").arg(n) + name.mid(dot)
                            : name + QStringLiteral("-%1").arg(n);
    taken.insert(candidate);
    return candidate;
}

// Copies from to to in blocks, hashing the bytes as they pass. Empty on success.
QString copyOriginal(const QString &from, const QString &to, Original *original,
                     const std::atomic<bool> *stop, const std::function<void(qint64)> &copied)
{
    QFile in(from);
    if (!in.open(QIODevice::ReadOnly))
        return QStringLiteral("cannot read %1: %2").arg(from, in.errorString());
    QFile out(to);
    if (!out.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return QStringLiteral("cannot write %1: %2").arg(to, out.errorString());
    QCryptographicHash hash(QCryptographicHash::Sha256);
    QByteArray block;
    for (;;) {
        if (stop && stop->load())
            return QString();
        block = in.read(kCopyBlock);
        if (block.isEmpty()) {
            if (in.error() != QFileDevice::NoError)
                return QStringLiteral("cannot read %1: %2").arg(from, in.errorString());
            break;
        }
        hash.addData(block);
        if (out.write(block) != block.size())
            return QStringLiteral("cannot write %1: %2").arg(to, out.errorString());
        original->size += block.size();
        copied(block.size());
    }
    if (!out.flush())
        return QStringLiteral("cannot write %1: %2").arg(to, out.errorString());
    original->sha256 = hash.result().toHex();
    return QString();
}

QByteArray fileSha256(const QString &path, QString *error)
{
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file)) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return QByteArray();
    }
    return hash.result().toHex();
}

QString writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly) ||
        file.write(bytes) != bytes.size() || !file.flush())
        return QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
    return QString();
}

QDateTime localClock(const BandSample &sample)
{
    return QDateTime::fromMSecsSinceEpoch(sample.clockMs + qint64(sample.utcOffsetSeconds) * 1000,
                                          Qt::UTC);
}

QString clockText(const BandSample &sample)
{
    if (!sample.hasClock)
        return QStringLiteral("unknown");
    const QDateTime t = localClock(sample);
    const int offset = qAbs(sample.utcOffsetSeconds) / 60;
    return QString::asprintf("%04d-%02d-%02d %02d:%02d:%02d.%03d UTC%c%02d:%02d", t.date().year(),
                             t.date().month(), t.date().day(), t.time().hour(), t.time().minute(),
                             t.time().second(), t.time().msec(),
                             sample.utcOffsetSeconds < 0 ? '-' : '+', offset / 60, offset % 60);
}

QString seconds(double value)
{
    return QString::number(value, 'f', 3) + QStringLiteral(" s");
}

QByteArray manifest(const ExportRequest &request, const QVector<SpanPart> &parts,
                    const QVector<Original> &originals, int pictures)
{
    const BandSample start = request.bandAt ? request.bandAt(request.from) : BandSample();
    const BandSample end = request.bandAt ? request.bandAt(request.to) : BandSample();
    QString text;
    text += QStringLiteral("Evidence export of a dash-camera recording\n\n");
    text += QStringLiteral("program version: %1\n").arg(QLatin1String(kVersionText));
    text += QStringLiteral("exported at: %1\n")
                .arg(QDateTime::currentDateTime()
                         .toOffsetFromUtc(QDateTime::currentDateTime().offsetFromUtc())
                         .toString(Qt::ISODate));
    text += QStringLiteral("span start: %1 (%2 on the drive's timeline)\n")
                .arg(clockText(start), seconds(request.from));
    text += QStringLiteral("span end: %1 (%2 on the drive's timeline)\n")
                .arg(clockText(end), seconds(request.to));
    text += QStringLiteral("clip: clip.mp4, %1 pictures, band %2\n")
                .arg(pictures)
                .arg(request.band ? QStringLiteral("burned in") : QStringLiteral("none"));
    for (int i = 0; i < originals.size(); ++i) {
        const Original &o = originals[i];
        const SpanPart &part = parts[i];
        text += QStringLiteral("\nsource %1: %2\n")
                    .arg(i + 1)
                    .arg(QFileInfo(request.sources[o.source].path).absoluteFilePath());
        text += QStringLiteral("  copy: %1\n").arg(o.copy);
        text += QStringLiteral("  size: %1 bytes\n").arg(o.size);
        text += QStringLiteral("  sha256: %1\n").arg(QLatin1String(o.sha256));
        text += QStringLiteral("  span in this file: %1 to %2\n")
                    .arg(seconds(part.fileFrom), seconds(part.fileTo));
    }
    return text.toUtf8();
}

} // namespace

ExportResult runExport(const ExportRequest &request, const std::atomic<bool> *stop,
                       const ExportProgress &progress)
{
    ExportResult result;
    auto fail = [&result](const QString &error) {
        result.error = error;
        return result;
    };
    const QFileInfo target(request.targetFolder);
    if (request.targetFolder.isEmpty() || !target.isDir())
        return fail(QStringLiteral("the folder %1 does not exist").arg(request.targetFolder));
    if (!(request.to > request.from))
        return fail(QStringLiteral("the span's end must come after its start"));
    if (request.band && !qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        return fail(QStringLiteral("painting the band needs a QGuiApplication"));
    const QVector<SpanPart> parts = spanParts(request);
    if (parts.isEmpty())
        return fail(QStringLiteral("the span lies outside the recordings"));

    // Everything goes into a hidden folder that is removed on every way out but success.
    QTemporaryDir work(target.absoluteFilePath() + QStringLiteral("/.dashcam-export-XXXXXX"));
    if (!work.isValid())
        return fail(
            QStringLiteral("cannot write in %1: %2").arg(request.targetFolder, work.errorString()));
    // QTemporaryDir makes it private to its owner; the finished folder is an ordinary one.
    QFile::setPermissions(work.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                           QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther |
                                           QFile::ExeOther);
    const QDir folder(work.path());
    ProgressReport report(progress);
    auto cancelled = [&result, stop] {
        result.cancelled = result.cancelled || (stop && stop->load());
        return result.cancelled;
    };

    const ClipOutcome clip =
        writeClip(request, folder.filePath(QStringLiteral("clip.mp4")), stop,
                  [&report](double fraction) { report(fraction * kClipShare); });
    result.pictures = clip.pictures;
    result.cancelled = clip.cancelled;
    if (cancelled())
        return fail(QStringLiteral("cancelled"));
    if (!clip.ok)
        return fail(clip.error);

    QVector<Original> originals;
    QSet<QString> taken;
    qint64 total = 0;
    for (const SpanPart &part : parts)
        total += QFileInfo(request.sources[part.source].path).size();
    qint64 done = 0;
    if (!folder.mkdir(QStringLiteral("originals")))
        return fail(QStringLiteral("cannot write in %1").arg(request.targetFolder));
    for (const SpanPart &part : parts) {
        Original original;
        original.source = part.source;
        const QString path = request.sources[part.source].path;
        original.copy = QStringLiteral("originals/") + copyName(path, taken);
        const QString error =
            copyOriginal(path, folder.filePath(original.copy), &original, stop, [&](qint64 n) {
                done += n;
                report(kClipShare + (1 - kClipShare) * done / qMax<qint64>(1, total));
            });
        if (cancelled())
            return fail(QStringLiteral("cancelled"));
        if (!error.isEmpty())
            return fail(error);
        originals << original;
    }

    QStringList files{QStringLiteral("clip.mp4")};
    if (request.writeTrack) {
        for (bool gpx : {true, false}) {
            const QString name = gpx ? QStringLiteral("track.gpx") : QStringLiteral("track.csv");
            if (!request.writeTrack(folder.filePath(name), gpx, request.from, request.to))
                return fail(QStringLiteral("cannot write the track to %1").arg(name));
            files << name;
        }
    }
    QString error = writeFile(folder.filePath(QStringLiteral("manifest.txt")),
                              manifest(request, parts, originals, clip.pictures));
    if (!error.isEmpty())
        return fail(error);
    files << QStringLiteral("manifest.txt");

    std::map<QString, QByteArray> sums; // sorted by path
    for (const Original &o : originals)
        sums[o.copy] = o.sha256;
    for (const QString &name : files) {
        sums[name] = fileSha256(folder.filePath(name), &error);
        if (!error.isEmpty())
            return fail(error);
    }
    QByteArray list;
    for (const auto &entry : sums)
        list += entry.second + "  " + entry.first.toUtf8() + '\n';
    error = writeFile(folder.filePath(QStringLiteral("SHA256SUMS")), list);
    if (!error.isEmpty())
        return fail(error);
    if (cancelled())
        return fail(QStringLiteral("cancelled"));

    // Named after the moment's clock time, or the time of export when it has none.
    const BandSample start = request.bandAt ? request.bandAt(request.from) : BandSample();
    const QDateTime when = start.hasClock ? localClock(start) : QDateTime::currentDateTime();
    const QString base =
        QStringLiteral("dashcam-") + QString::asprintf("%04d%02d%02d-%02d%02d%02d",
                                                       when.date().year(), when.date().month(),
                                                       when.date().day(), when.time().hour(),
                                                       when.time().minute(), when.time().second());
    QString name = base;
    for (int n = 2; QFileInfo::exists(target.absoluteFilePath() + QLatin1Char('/') + name); ++n)
        name = base + QStringLiteral("-%1").arg(n);
    const QString finished = target.absoluteFilePath() + QLatin1Char('/') + name;
    if (!QDir().rename(work.path(), finished))
        return fail(QStringLiteral("cannot rename the export to %1").arg(finished));
    work.setAutoRemove(false);
    report(1);
    result.ok = true;
    result.folder = finished;
    return result;
}
