#pragma once

#include "drive.h"

#include <QMetaType>
#include <QStringList>
#include <QThread>
#include <QVector>

#include <atomic>

// The channels of one camera (front, rear, cabin) recorded at the same time.
//
// A camera of two or three channels writes one file per channel and clip, in sibling
// folders ("Front"/"Rear", "F"/"R", "Movie/F" and "Movie/R") or side by side with a mark
// in the name ("_F"/"_R", "A"/"B", "...0001F"/"...0001R"); some write one file holding
// two video streams. Two clips pair when they come from different channels of one camera
// folder and cover the same time: they start within kPairStartMs of each other, or their
// time spans overlap. A file with two video streams pairs with itself.
//
// The channel shown beside the front (the paired channel) is the rear; the cabin when
// there is no rear; the front when a rear or cabin clip plays.

constexpr qint64 kPairStartMs = 2000;

// True when two clips of these clock spans (ms, one kind) cover the same time.
bool coverSameTime(qint64 startA, qint64 endA, qint64 startB, qint64 endB);

// One piece of the paired channel on the front's timeline: what a second engine plays.
struct PairedSource
{
    QString path;
    // Which video stream of the file to show: -1 the one a player shows of the file alone
    // (its last), else the ordinal among its video streams (0: the first).
    int videoStream = -1;
    double clipIn = 0;        // seconds into the file where the piece starts
    double clipOut = 0;       // seconds into the file where it ends
    double timelineStart = 0; // where clipIn lands on the front's timeline

    double timelineEnd() const { return timelineStart + clipOut - clipIn; }
};

// The paired channel of a front timeline; empty when nothing pairs.
struct ChannelPairing
{
    CameraChannel channel = CameraChannel::Unknown;
    QVector<PairedSource> sources; // in timeline order, never overlapping

    bool isEmpty() const { return sources.isEmpty(); }
};
Q_DECLARE_METATYPE(ChannelPairing)

// A clip alone on its own timeline: the whole file from its first picture, as a player
// plays it when it is opened by itself.
Drive singleClipDrive(const RecordingFacts &clip);

// The paired channel's clips among candidates, laid on the timeline of front (a drive,
// or one clip as singleClipDrive gives it). Clips are placed on one clock as groupDrives
// places them; a paired clip that starts within kPairStartMs of a front clip but barely
// overlaps it still lands where its time says. Parts of the timeline no paired clip
// covers have no source. A front clip with two video streams pairs with its other
// stream. The candidates may hold the front's own clips and anything else: what is not
// of another channel of the same camera folder is left out.
ChannelPairing pairChannel(const Drive &front, const QVector<RecordingFacts> &candidates);

// The paired channel of front among the recordings of its camera folders, found on the
// calling thread (the facts of recordings not in the cache are probed and cached). Nothing
// when stop was set.
ChannelPairing findPairedChannel(const Drive &front, const std::atomic<bool> *stop = nullptr);

// Where a paired channel of the recordings at paths may be: the recordings of their
// camera folders (their own folders and the sibling channel folders), without the paths
// themselves, and without clips whose names say they were recorded far from every path.
QStringList pairCandidates(const QStringList &paths);

// The recordings of the channel folders beside folder when folder is a channel folder
// ("Front" beside "Rear", "Movie/F" beside "Movie/R"); nothing otherwise.
QStringList siblingChannelRecordings(const QString &folder);

// Playlist entries from what the names and folders say, without reading a file: each
// recording of paths alone, or with the clip of another channel it pairs with (from
// paths or partners), front first. Names pair when they differ only in their channel
// mark, or when their times are within kPairStartMs. Every entry holds a recording of
// paths; entries come in the order of paths.
QVector<QStringList> pairRecordingsByName(const QStringList &paths,
                                          const QStringList &partners = {});

// Finds the paired channel of what plays on a thread of its own: lists the candidates,
// reads their facts from the cache or probes them, pairs. A new request replaces the one
// before; found comes once per request that was not replaced, queued to the receiver's
// thread, also when nothing pairs.
class ChannelPairFinder : public QThread
{
    Q_OBJECT
public:
    explicit ChannelPairFinder(QObject *parent = nullptr);
    ~ChannelPairFinder() override;

    // GUI thread. The recording at path, played alone. Returns the request's id.
    quint64 findForClip(const QString &path);
    // GUI thread. A drive on its timeline.
    quint64 findForDrive(const Drive &drive);
    // GUI thread. Forgets the request running (its answer never comes) and waits for it.
    void cancel();

signals:
    void found(quint64 request, const ChannelPairing &pairing);

protected:
    void run() override;

private:
    quint64 start(const Drive &drive, const QString &clip);

    // Written by the GUI thread while the worker is stopped, read by the worker.
    Drive front;
    QString clipPath; // set: front is this clip alone, from its facts
    quint64 request = 0;
    // Set by the GUI thread to end the worker early; read by the worker between steps.
    std::atomic<bool> stopRequested{false};
};
