#include "drive.h"

#include <QHash>

#include <algorithm>
#include <cmath>
#include <map>
#include <optional>

namespace {

// A clip on its camera folder's common clock.
struct Placed
{
    int index = 0; // into the facts given
    qint64 startMs = 0;
    qint64 endMs = 0;
};

qint64 median(std::vector<qint64> values)
{
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

// A camera folder's offset between GPS time and each source of the camera clock (GPS
// minus camera), over the clips that have both.
struct FolderOffsets
{
    std::map<StartSource, std::vector<qint64>> pairs;
    std::map<StartSource, qint64> bySource; // the median of each source's pairs
    std::optional<qint64> overall;          // the median of all pairs

    void settle()
    {
        std::vector<qint64> all;
        for (const auto &pair : pairs) {
            bySource[pair.first] = median(pair.second);
            all.insert(all.end(), pair.second.begin(), pair.second.end());
        }
        if (!all.empty())
            overall = median(all);
    }

    qint64 offset(StartSource source) const
    {
        const auto it = bySource.find(source);
        return it != bySource.end() ? it->second : overall.value_or(0);
    }
};

Drive startDrive(const RecordingFacts &facts, ClockKind kind)
{
    Drive drive;
    drive.clockKind = kind;
    drive.channel = facts.channel;
    drive.cameraKey = facts.cameraKey();
    return drive;
}

DriveClip clipOf(const RecordingFacts &facts, qint64 startMs)
{
    DriveClip clip;
    clip.facts = facts;
    clip.startMs = startMs;
    clip.clipOut = facts.duration;
    return clip;
}

void layOut(Drive &drive)
{
    double at = 0;
    for (DriveClip &clip : drive.clips) {
        clip.driveStart = at;
        at += clip.length();
    }
}

} // namespace

bool Drive::anyEvent() const
{
    return std::any_of(clips.begin(), clips.end(),
                       [](const DriveClip &c) { return c.facts.event; });
}

int Drive::clipOf(const QString &path) const
{
    for (int i = 0; i < clips.size(); ++i) {
        if (clips.at(i).facts.path == path)
            return i;
    }
    return -1;
}

DrivePosition Drive::locate(double t) const
{
    if (clips.isEmpty())
        return {};
    if (!(t > 0))
        return {0, clips.first().clipIn};
    if (t >= duration())
        return {int(clips.size()) - 1, clips.last().clipOut};
    // The last clip starting at or before t.
    const auto it = std::upper_bound(clips.begin(), clips.end(), t,
                                     [](double v, const DriveClip &c) { return v < c.driveStart; });
    const int i = int(it - clips.begin()) - 1;
    const DriveClip &clip = clips.at(i);
    return {i, std::min(clip.clipOut, clip.clipIn + (t - clip.driveStart))};
}

double Drive::driveTime(int clip, double fileSeconds) const
{
    if (clips.isEmpty())
        return 0;
    const DriveClip &c = clips.at(std::clamp(clip, 0, int(clips.size()) - 1));
    const double s = std::isnan(fileSeconds) ? c.clipIn : fileSeconds;
    return c.driveStart + std::clamp(s, c.clipIn, c.clipOut) - c.clipIn;
}

std::optional<qint64> Drive::clockAt(double t) const
{
    if (!hasClock() || clips.isEmpty())
        return std::nullopt;
    const DrivePosition p = locate(t);
    return clips.at(p.clip).startMs + qRound64(p.seconds * 1000);
}

double Drive::driveTimeAtClock(qint64 clockMs) const
{
    if (!hasClock() || clips.isEmpty())
        return 0;
    // The last clip whose playing part starts at or before the time.
    const auto it =
        std::upper_bound(clips.begin(), clips.end(), clockMs, [](qint64 v, const DriveClip &c) {
            return v < c.startMs + qRound64(c.clipIn * 1000);
        });
    const int i = std::max(0, int(it - clips.begin()) - 1);
    return driveTime(i, (clockMs - clips.at(i).startMs) / 1000.0);
}

QVector<double> Drive::boundaries() const
{
    QVector<double> marks;
    for (int i = 1; i < clips.size(); ++i)
        marks << clips.at(i).driveStart;
    return marks;
}

QVector<Drive> groupDrives(const QVector<RecordingFacts> &facts)
{
    // Offsets between GPS and camera clock, per camera folder that has GPS at all (all
    // channels: the rear camera has the front's clock but rarely its own GPS).
    QHash<QString, FolderOffsets> offsets;
    for (const RecordingFacts &f : facts) {
        if (!f.hasUsableTime() || !f.gpsStartMs)
            continue;
        FolderOffsets &o = offsets[f.cameraFolder];
        if (f.clockStartMs)
            o.pairs[f.clockSource].push_back(*f.gpsStartMs - *f.clockStartMs);
    }
    for (FolderOffsets &o : offsets)
        o.settle();

    // Each usable clip on its folder's common clock, by camera key.
    QHash<QString, std::vector<Placed>> byCamera;
    QHash<QString, ClockKind> kinds;
    QVector<int> untimed;
    for (int i = 0; i < facts.size(); ++i) {
        const RecordingFacts &f = facts.at(i);
        if (!f.hasUsableTime()) {
            untimed << i;
            continue;
        }
        qint64 start = 0;
        ClockKind kind = ClockKind::Camera;
        if (f.gpsStartMs) {
            start = *f.gpsStartMs;
            kind = ClockKind::Utc;
        } else if (offsets.contains(f.cameraFolder)) {
            start = *f.clockStartMs + offsets[f.cameraFolder].offset(f.clockSource);
            kind = ClockKind::Utc;
        } else {
            start = *f.clockStartMs;
        }
        byCamera[f.cameraKey()].push_back({i, start, start + qRound64(f.duration * 1000)});
        kinds[f.cameraKey()] = kind;
    }

    QVector<Drive> drives;
    for (auto it = byCamera.begin(); it != byCamera.end(); ++it) {
        std::vector<Placed> &clips = *it;
        std::sort(clips.begin(), clips.end(), [&facts](const Placed &a, const Placed &b) {
            return a.startMs != b.startMs ? a.startMs < b.startMs
                                          : facts.at(a.index).path < facts.at(b.index).path;
        });
        const ClockKind kind = kinds.value(it.key());
        Drive open;
        qint64 lastStart = 0;
        qint64 lastEnd = 0;
        for (const Placed &p : clips) {
            const RecordingFacts &f = facts.at(p.index);
            const bool follows = !open.isEmpty() && p.startMs <= lastEnd + kMaxJoinGapMs;
            if (follows && p.startMs > lastStart && p.endMs > lastEnd) {
                DriveClip &last = open.clips.last();
                // Cut an overlap at the end of the earlier clip.
                last.clipOut = std::min(last.clipOut, (p.startMs - last.startMs) / 1000.0);
                open.clips << clipOf(f, p.startMs);
            } else if (follows) {
                Drive single = startDrive(f, kind);
                single.clips << clipOf(f, p.startMs);
                drives << single;
                continue;
            } else {
                if (!open.isEmpty())
                    drives << open;
                open = startDrive(f, kind);
                open.clips << clipOf(f, p.startMs);
            }
            lastStart = p.startMs;
            lastEnd = p.endMs;
        }
        if (!open.isEmpty())
            drives << open;
    }
    for (Drive &drive : drives)
        layOut(drive);
    std::sort(drives.begin(), drives.end(), [](const Drive &a, const Drive &b) {
        const qint64 sa = a.clips.first().startMs;
        const qint64 sb = b.clips.first().startMs;
        return sa != sb ? sa < sb : a.clips.first().facts.path < b.clips.first().facts.path;
    });

    std::sort(untimed.begin(), untimed.end(),
              [&facts](int a, int b) { return facts.at(a).path < facts.at(b).path; });
    for (int i : untimed) {
        Drive single = startDrive(facts.at(i), ClockKind::None);
        single.clips << clipOf(facts.at(i), 0);
        layOut(single);
        drives << single;
    }
    return drives;
}
