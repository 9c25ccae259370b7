#pragma once

#include "driveheader.h"
#include "drivetrack.h"

#include <QHash>
#include <QObject>
#include <QTimer>
#include <QVector>

#include <optional>

class OxListWidget;
class RecordingFactsProber;

// The drives among a playlist's rows. The facts of every row's first recording are found
// in the background (cached ones at once, the others probed), and the rows are grouped
// into drives again whenever facts arrive or rows come and go. The first row of every
// drive of two or more clips shows the drive's header line; rows of clips the camera
// locked show a badge.
//
// The header belongs to the first clip's row, which grows by the header's height and
// draws it inside its widget whenever it has one: row numbers stay the playlist's
// entries, so selection, play-next and every operation on row numbers keep their meaning.
//
// GUI thread only. Regrouping waits for a short quiet spell, so a card of clips answered
// from the cache is grouped a few times, not once per clip.
class OxPlaylistDrives : public QObject
{
    Q_OBJECT
public:
    struct Entry
    {
        Drive drive;
        DriveTrack track;
    };

    explicit OxPlaylistDrives(OxListWidget *list);

    // The drive whose header row is row; null when the row shows none.
    const Entry *driveAtRow(int row) const;
    // Facts found for a recording so far.
    std::optional<RecordingFacts> factsOf(const QString &path) const;
    // Header texts again: the language or the speed unit changed.
    void relabel();
    // Groups at once what is known now (tests, and a window that needs it).
    void regroupNow();
    // While held, recordings not in the facts cache wait to be probed.
    void holdProbing(bool hold);

signals:
    // The rows' drives were grouped anew.
    void regrouped();

private:
    void onFacts(const RecordingFacts &facts);
    void scheduleRegroup();
    void regroup();
    void showHeaders();

    OxListWidget *list;
    RecordingFactsProber *prober = nullptr; // made with the first row
    QHash<QString, RecordingFacts> known;   // by absolute path
    // The drives of two or more clips, each by the row of its first clip.
    QHash<int, Entry> byHeaderRow;
    // The first row of every recording, by absolute path, as of the last grouping.
    QHash<QString, int> rowOf;
    // Drive tracks kept from the last grouping, by the drive's clip list.
    QHash<QString, DriveTrack> tracks;
    QTimer regroupTimer;
    DistanceUnit unit = DistanceUnit::Kilometres;
    bool probingHeld = false;
};
