#include "oxplaylistdrives.h"

#include "factsprober.h"
#include "oxlistwidget.h"

#include <QFileInfo>
#include <QStringList>

namespace {

// Quiet spell before the rows are grouped again.
constexpr int kRegroupDelayMs = 30;

QString absolute(const QString &path)
{
    return path.isEmpty() ? QString() : QFileInfo(path).absoluteFilePath();
}

// A drive's clip list, to keep its track across groupings.
QString clipsKey(const Drive &drive)
{
    QString key;
    for (const DriveClip &clip : drive.clips) {
        key += clip.facts.path;
        key += QLatin1Char('\n');
    }
    return key;
}

} // namespace

OxPlaylistDrives::OxPlaylistDrives(OxListWidget *list) : QObject(list), list(list)
{
    unit = configuredDistanceUnit();
    regroupTimer.setSingleShot(true);
    regroupTimer.setInterval(kRegroupDelayMs);
    connect(&regroupTimer, &QTimer::timeout, this, &OxPlaylistDrives::regroup);
    connect(list, &OxListWidget::rowsChanged, this, &OxPlaylistDrives::scheduleRegroup);
}

const OxPlaylistDrives::Entry *OxPlaylistDrives::driveAtRow(int row) const
{
    const auto it = byHeaderRow.constFind(row);
    return it == byHeaderRow.constEnd() ? nullptr : &it.value();
}

std::optional<RecordingFacts> OxPlaylistDrives::factsOf(const QString &path) const
{
    const auto it = known.constFind(absolute(path));
    if (it == known.constEnd())
        return std::nullopt;
    return it.value();
}

void OxPlaylistDrives::relabel()
{
    unit = configuredDistanceUnit();
    showHeaders();
}

void OxPlaylistDrives::regroupNow()
{
    regroupTimer.stop();
    regroup();
}

void OxPlaylistDrives::onFacts(const RecordingFacts &facts)
{
    known.insert(absolute(facts.path), facts);
    scheduleRegroup();
}

void OxPlaylistDrives::scheduleRegroup()
{
    if (!regroupTimer.isActive())
        regroupTimer.start();
}

void OxPlaylistDrives::regroup()
{
    // The rows' recordings: those known are grouped, the others asked for.
    QVector<RecordingFacts> facts;
    QStringList unknown;
    rowOf.clear();
    for (int row = 0; row < list->count(); ++row) {
        const QString path = absolute(list->recordingOf(row));
        if (path.isEmpty() || rowOf.contains(path))
            continue;
        rowOf.insert(path, row);
        const auto it = known.constFind(path);
        if (it != known.constEnd())
            facts.append(it.value());
        else
            unknown.append(path);
    }
    if (!unknown.isEmpty()) {
        if (!prober) {
            prober = new RecordingFactsProber(this);
            prober->holdProbing(probingHeld);
            connect(prober, &RecordingFactsProber::factsReady, this, &OxPlaylistDrives::onFacts);
        }
        prober->enqueue(unknown);
    }

    QHash<QString, DriveTrack> keptTracks;
    byHeaderRow.clear();
    for (const Drive &drive : groupDrives(facts)) {
        if (drive.clips.size() < 2)
            continue;
        const QString key = clipsKey(drive);
        // Building a track walks every fix of the drive: kept while its clips stay.
        const auto old = tracks.constFind(key);
        const DriveTrack track = old != tracks.constEnd() ? old.value() : DriveTrack(drive);
        keptTracks.insert(key, track);
        const int row = rowOf.value(absolute(drive.clips.first().facts.path), -1);
        if (row >= 0)
            byHeaderRow.insert(row, Entry{drive, track});
    }
    tracks = keptTracks;
    showHeaders();
    emit regrouped();
}

void OxPlaylistDrives::holdProbing(bool hold)
{
    probingHeld = hold;
    if (prober)
        prober->holdProbing(hold);
}

void OxPlaylistDrives::showHeaders()
{
    for (int row = 0; row < list->count(); ++row) {
        const auto drive = byHeaderRow.constFind(row);
        if (drive != byHeaderRow.constEnd())
            list->setRowHeader(row, driveHeaderText(drive->drive, drive->track, unit),
                               drive->drive.anyEvent());
        else
            list->setRowHeader(row, QString(), false);
        const auto facts = known.constFind(absolute(list->recordingOf(row)));
        list->setRowEventClip(row, facts != known.constEnd() && facts->event);
    }
}
