#include "channelpairs.h"

#include "factscache.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <algorithm>
#include <cmath>
#include <tuple>

namespace {

// Clips further from every playing clip than this (by the times in their names) are not
// worth reading to find a pair: no camera writes clips this long.
constexpr qint64 kCandidateWindowMs = 30 * 60 * 1000;
// A paired piece shorter than this is not worth opening a file for.
constexpr double kShortestPiece = 0.1;
// Seconds; pieces this close are one.
constexpr double kJoinTolerance = 0.001;

// The channels that may be shown beside a clip of this channel, the first preferred.
QVector<CameraChannel> partnersOf(CameraChannel channel)
{
    switch (channel) {
    case CameraChannel::Rear:
        return {CameraChannel::Front, CameraChannel::Unknown, CameraChannel::Cabin};
    case CameraChannel::Cabin:
        return {CameraChannel::Front, CameraChannel::Unknown, CameraChannel::Rear};
    case CameraChannel::Front:
    case CameraChannel::Unknown:
        break;
    }
    return {CameraChannel::Rear, CameraChannel::Cabin};
}

bool frontSide(CameraChannel channel)
{
    return channel == CameraChannel::Front || channel == CameraChannel::Unknown;
}

// What the path says without reading the file: channel, camera folder, name time.
RecordingFacts factsFromName(const QString &path)
{
    RecordingFacts facts;
    facts.path = QFileInfo(path).absoluteFilePath();
    deriveRecordingFacts(facts);
    return facts;
}

// How many folders lie between the file's folder and its camera folder.
int markedDepth(const RecordingFacts &facts)
{
    const QString dir = QFileInfo(facts.path).absolutePath();
    if (dir == facts.cameraFolder || !dir.startsWith(facts.cameraFolder))
        return 0;
    return int(dir.mid(facts.cameraFolder.size()).count(QLatin1Char('/')));
}

// The file name without its channel mark, when what is left names one clip (it holds a
// counter or a time); else the whole path, which names no other clip. "A.mp4" and
// "B.mp4" are two recordings, not the channels of one.
QString channelFreeName(const QString &path)
{
    const QString name = nameWithoutChannel(QFileInfo(path).fileName());
    return std::any_of(name.begin(), name.end(), [](QChar c) { return c.isDigit(); }) ? name : path;
}

// Pieces come in timeline order; one that starts before the last one ends (two clips of
// one channel recorded at once, a copy say) gives up its start.
void appendPiece(QVector<PairedSource> &pieces, PairedSource piece)
{
    if (!pieces.isEmpty() && piece.timelineStart < pieces.last().timelineEnd()) {
        const double covered = pieces.last().timelineEnd() - piece.timelineStart;
        piece.clipIn += covered;
        piece.timelineStart += covered;
    }
    if (piece.clipOut - piece.clipIn < kShortestPiece)
        return;
    if (!pieces.isEmpty()) {
        PairedSource &last = pieces.last();
        if (last.path == piece.path && last.videoStream == piece.videoStream &&
            std::abs(last.clipOut - piece.clipIn) < kJoinTolerance &&
            std::abs(last.timelineEnd() - piece.timelineStart) < kJoinTolerance) {
            last.clipOut = piece.clipOut;
            return;
        }
    }
    pieces << piece;
}

} // namespace

bool coverSameTime(qint64 startA, qint64 endA, qint64 startB, qint64 endB)
{
    return std::abs(startA - startB) <= kPairStartMs || (startA < endB && startB < endA);
}

Drive singleClipDrive(const RecordingFacts &clip)
{
    Drive drive;
    drive.clockKind = clip.startKind();
    drive.channel = clip.channel;
    drive.cameraKey = clip.cameraKey();
    DriveClip one;
    one.facts = clip;
    one.startMs = clip.startMs().value_or(0);
    one.clipOut = clip.duration;
    drive.clips << one;
    return drive;
}

ChannelPairing pairChannel(const Drive &front, const QVector<RecordingFacts> &candidates)
{
    ChannelPairing pairing;
    if (front.isEmpty())
        return pairing;

    // One file of two pictures: the other stream, on the same times.
    if (front.clips.first().facts.videoStreams >= 2) {
        for (const DriveClip &clip : front.clips) {
            if (clip.facts.videoStreams >= 2)
                appendPiece(pairing.sources,
                            {clip.facts.path, 0, clip.clipIn, clip.clipOut, clip.driveStart});
        }
        pairing.channel = CameraChannel::Unknown;
        return pairing;
    }

    // Every clip on one clock, as the drives place them.
    QVector<RecordingFacts> all;
    QSet<QString> seen;
    for (const DriveClip &clip : front.clips) {
        all << clip.facts;
        seen.insert(clip.facts.path);
    }
    for (const RecordingFacts &facts : candidates) {
        if (facts.probed && !seen.contains(facts.path)) {
            all << facts;
            seen.insert(facts.path);
        }
    }
    const QVector<Drive> drives = groupDrives(all);
    QHash<QString, qint64> placedStart;
    ClockKind kind = ClockKind::None;
    const QString firstPath = front.clips.first().facts.path;
    for (const Drive &drive : drives) {
        for (const DriveClip &clip : drive.clips) {
            placedStart.insert(clip.facts.path, clip.startMs);
            if (clip.facts.path == firstPath)
                kind = drive.clockKind;
        }
    }
    if (kind == ClockKind::None)
        return pairing;

    const CameraChannel ownChannel = front.clips.first().facts.channel;
    const QString folder = front.clips.first().facts.cameraFolder;
    for (const CameraChannel channel : partnersOf(ownChannel)) {
        // Clock spans in ms of the other channel's clips, as their drives cut them.
        struct Span
        {
            QString path;
            double start;
            double end;
            double fileStart; // clock time of the file's first picture
        };
        QVector<Span> spans;
        for (const Drive &drive : drives) {
            if (drive.channel != channel || drive.clockKind != kind || drive.isEmpty() ||
                drive.clips.first().facts.cameraFolder != folder)
                continue;
            for (const DriveClip &clip : drive.clips)
                spans << Span{clip.facts.path, clip.startMs + clip.clipIn * 1000,
                              clip.startMs + clip.clipOut * 1000, double(clip.startMs)};
        }
        std::sort(spans.begin(), spans.end(),
                  [](const Span &a, const Span &b) { return a.start < b.start; });
        // A clip of the same name (its channel mark aside) is the front clip's own partner:
        // it is shown whole, whatever else of its channel was recorded at the same time.
        QHash<QString, Span> sameName;
        for (const RecordingFacts &facts : all) {
            const auto placed = placedStart.constFind(facts.path);
            if (facts.channel != channel || facts.cameraFolder != folder ||
                placed == placedStart.constEnd())
                continue;
            sameName.insert(channelFreeName(facts.path),
                            Span{facts.path, double(*placed), *placed + facts.duration * 1000,
                                 double(*placed)});
        }
        QVector<PairedSource> pieces;
        for (const DriveClip &clip : front.clips) {
            const auto placed = placedStart.constFind(clip.facts.path);
            if (placed == placedStart.constEnd())
                continue;
            const double fileStart = double(*placed);
            const double from = fileStart + clip.clipIn * 1000;
            const double to = fileStart + clip.clipOut * 1000;
            const auto named = sameName.constFind(channelFreeName(clip.facts.path));
            const bool byName =
                named != sameName.constEnd() && from < named->end && named->start < to;
            for (const Span &span : byName ? QVector<Span>{*named} : spans) {
                const double a = std::max(from, span.start);
                const double b = std::min(to, span.end);
                if (b <= a)
                    continue;
                appendPiece(pieces, {span.path, -1, (a - span.fileStart) / 1000,
                                     (b - span.fileStart) / 1000,
                                     clip.driveStart + (a - fileStart) / 1000 - clip.clipIn});
            }
        }
        if (!pieces.isEmpty()) {
            pairing.channel = channel;
            pairing.sources = pieces;
            return pairing;
        }
    }
    return pairing;
}

QStringList siblingChannelRecordings(const QString &folder)
{
    const QFileInfo info(folder);
    const CameraChannel own = channelOfFolder(info.fileName());
    if (own == CameraChannel::Unknown)
        return {};
    QStringList found;
    const QDir parent = info.absoluteDir();
    for (const QFileInfo &sub :
         parent.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
        const CameraChannel channel = channelOfFolder(sub.fileName());
        if (channel != CameraChannel::Unknown && channel != own && !sub.isSymLink())
            found << recordingsUnder(sub.absoluteFilePath(), 0);
    }
    return found;
}

QStringList pairCandidates(const QStringList &paths)
{
    QHash<QString, int> folders; // camera folder -> depth of the marked folders below it
    QSet<QString> own;
    std::optional<qint64> first;
    std::optional<qint64> last;
    for (const QString &path : paths) {
        const RecordingFacts facts = factsFromName(path);
        own.insert(facts.path);
        folders[facts.cameraFolder] =
            std::max(folders.value(facts.cameraFolder), markedDepth(facts));
        if (facts.clockStartMs) {
            first = std::min(first.value_or(*facts.clockStartMs), *facts.clockStartMs);
            last = std::max(last.value_or(*facts.clockStartMs), *facts.clockStartMs);
        }
    }
    QStringList found;
    for (auto it = folders.constBegin(); it != folders.constEnd(); ++it) {
        for (const QString &path : recordingsUnder(it.key(), it.value())) {
            if (own.contains(path))
                continue;
            const RecordingFacts facts = factsFromName(path);
            if (facts.cameraFolder != it.key())
                continue;
            if (facts.clockStartMs && first &&
                (*facts.clockStartMs < *first - kCandidateWindowMs ||
                 *facts.clockStartMs > *last + kCandidateWindowMs))
                continue;
            found << path;
        }
    }
    return found;
}

QVector<QStringList> pairRecordingsByName(const QStringList &paths, const QStringList &partners)
{
    struct Named
    {
        QString path; // as given
        RecordingFacts facts;
        QString key; // camera folder and name without the channel mark
        bool given;  // one of paths
    };
    QVector<Named> named;
    QHash<QString, int> byPath;
    for (const QStringList *list : {&paths, &partners}) {
        for (const QString &path : *list) {
            Named n{path, factsFromName(path), QString(), list == &paths};
            if (byPath.contains(n.facts.path))
                continue;
            n.key = n.facts.cameraFolder + QLatin1Char('|') + channelFreeName(n.facts.path);
            byPath.insert(n.facts.path, named.size());
            named << n;
        }
    }

    // Every possible pair, best first: same name, then rear before cabin, then the
    // closest times.
    using Candidate = std::tuple<int, int, qint64, int, int>;
    std::vector<Candidate> candidates;
    QHash<QString, QVector<int>> byFolder;
    for (int i = 0; i < named.size(); ++i)
        byFolder[named[i].facts.cameraFolder] << i;
    for (const QVector<int> &group : byFolder) {
        for (int f : group) {
            const Named &a = named[f];
            if (!frontSide(a.facts.channel))
                continue;
            for (int r : group) {
                const Named &b = named[r];
                if (frontSide(b.facts.channel) || (!a.given && !b.given))
                    continue;
                const bool sameName = a.key == b.key;
                const bool timed = a.facts.clockStartMs && b.facts.clockStartMs;
                const qint64 apart =
                    timed ? std::abs(*a.facts.clockStartMs - *b.facts.clockStartMs) : 0;
                if (!sameName && (!timed || apart > kPairStartMs))
                    continue;
                candidates.emplace_back(
                    sameName ? 0 : 1, b.facts.channel == CameraChannel::Rear ? 0 : 1, apart, f, r);
            }
        }
    }
    std::sort(candidates.begin(), candidates.end());
    QVector<int> partner(named.size(), -1);
    for (const Candidate &c : candidates) {
        const int f = std::get<3>(c);
        const int r = std::get<4>(c);
        if (partner[f] < 0 && partner[r] < 0) {
            partner[f] = r;
            partner[r] = f;
        }
    }

    QVector<QStringList> entries;
    QVector<bool> done(named.size(), false);
    for (int i = 0; i < named.size() && named[i].given; ++i) {
        if (done[i])
            continue;
        done[i] = true;
        const int p = partner[i];
        if (p < 0) {
            entries << QStringList{named[i].path};
            continue;
        }
        done[p] = true;
        const bool iFront = frontSide(named[i].facts.channel);
        entries << (iFront ? QStringList{named[i].path, named[p].path}
                           : QStringList{named[p].path, named[i].path});
    }
    return entries;
}

ChannelPairFinder::ChannelPairFinder(QObject *parent) : QThread(parent)
{
    qRegisterMetaType<ChannelPairing>();
}

ChannelPairFinder::~ChannelPairFinder()
{
    cancel();
}

quint64 ChannelPairFinder::findForClip(const QString &path)
{
    return start(Drive(), path);
}

quint64 ChannelPairFinder::findForDrive(const Drive &drive)
{
    return start(drive, QString());
}

quint64 ChannelPairFinder::start(const Drive &drive, const QString &clip)
{
    cancel();
    front = drive;
    clipPath = clip;
    stopRequested = false;
    QThread::start(QThread::LowPriority);
    return request;
}

void ChannelPairFinder::cancel()
{
    stopRequested = true;
    wait();
    ++request;
}

ChannelPairing findPairedChannel(const Drive &front, const std::atomic<bool> *stop)
{
    if (front.isEmpty())
        return ChannelPairing();
    QStringList paths;
    for (const DriveClip &clip : front.clips)
        paths << clip.facts.path;
    QVector<RecordingFacts> candidates;
    if (front.clips.first().facts.videoStreams < 2) {
        for (const QString &path : pairCandidates(paths)) {
            std::optional<RecordingFacts> facts = cachedOrProbedFacts(path, stop);
            if (stop && stop->load())
                return ChannelPairing();
            if (facts && facts->probed)
                candidates << *facts;
        }
    }
    return pairChannel(front, candidates);
}

void ChannelPairFinder::run()
{
    const std::atomic<bool> *stop = &stopRequested;
    Drive drive = front;
    if (!clipPath.isEmpty()) {
        const std::optional<RecordingFacts> facts = cachedOrProbedFacts(clipPath, stop);
        if (!facts)
            return; // stopped
        drive = facts->probed ? singleClipDrive(*facts) : Drive();
    }
    const ChannelPairing pairing = findPairedChannel(drive, stop);
    if (!stopRequested)
        emit found(request, pairing);
}
