#pragma once

// The parts of the GPS step behind gpsextract.h: the recording as the sources see it,
// the source interface and the table of sources. Only the step itself, its sources and
// their tests and fuzz targets include this.
#include "gpsextract.h"
#include "oxlocation.h"

#include <QByteArray>
#include <QIODevice>
#include <QString>
#include <QVector>

#include <optional>

// Appends fix unless it repeats the date and time of the track's last fix.
void appendFix(OxTrack &track, const OxLocation &fix);

// One box of the recording's structure: where it starts, its whole size and
// where its payload starts. Sizes come from the file but never reach past the
// box that holds them (or the end of the file at the top level).
struct GpsBox
{
    qint64 offset = 0;
    qint64 size = 0;
    qint64 headerSize = 8;
    QByteArray type; // four characters

    qint64 payloadOffset() const { return offset + headerSize; }
    qint64 payloadSize() const { return size - headerSize; }
    qint64 end() const { return offset + size; }
};

// The recording as the GPS sources see it: a device, its path (empty for a
// device without a file behind it) and the few things several sources need.
// Every read is capped by what the file holds, so no size field taken from the
// file decides an allocation on its own.
//
// Its box walk is one of two: the "gps " box text source keeps its own (findBox in
// boxtextsource.cpp), because that one must keep the original rules exactly (a second
// level that runs on past the end of "moov", sizes of 2 GiB and more or 64-bit sizes
// ending the search, a debug line per header), so that every recording that gave a
// track still gives the same one. This walk follows the container rules the other
// sources need: 64-bit sizes, every box bounded by its parent.
class GpsRecording
{
public:
    GpsRecording(QIODevice &device, const QString &path = QString());

    const QString &path() const { return filePath; }
    QIODevice &device() { return io; }
    qint64 size() const { return fileSize; }

    // At most length bytes at offset, and never more than maxBytes or than the
    // file holds; empty when the offset lies outside the file.
    QByteArray read(qint64 offset, qint64 length, qint64 maxBytes = kMaxRead);

    // The boxes at the top level, and the children of a box; a header that
    // cannot be read, has a size below 8 or overruns its parent ends the level.
    const QVector<GpsBox> &topLevel();
    QVector<GpsBox> children(const GpsBox &parent);
    std::optional<GpsBox> topLevelBox(const char *type);
    std::optional<GpsBox> moovChild(const char *type);

    // The "mvhd" creation time as seconds since 1970 (UTC), or nothing.
    std::optional<qint64> creationTime();

    static constexpr qint64 kMaxRead = qint64(1) << 20;

private:
    QVector<GpsBox> walk(qint64 from, qint64 to);

    QIODevice &io;
    QString filePath;
    qint64 fileSize = 0;
    std::optional<QVector<GpsBox>> top;
};

// What a source counts while it reads: records it dropped because their status
// was void or their bytes did not make a possible fix; and whether it kept sentences
// whose checksums were all wrong (see GpsTextFilter).
struct GpsReadStats
{
    int skipped = 0;
    bool keptBadChecksums = false;
};

// One place where a recording can carry its track. detect is cheap and tells
// whether the source's data is there at all; read appends the fixes it finds,
// in time order and without two neighbours of the same date and time. A new
// layout is a new source in a file of its own plus its entry in gpsSources().
class GpsSource
{
public:
    virtual ~GpsSource() = default;
    virtual const char *name() const = 0;
    virtual bool detect(GpsRecording &recording) = 0;
    virtual void read(GpsRecording &recording, OxTrack &track, GpsReadStats &stats) = 0;
};

// Every source, in the order they are tried: the first one that gives a fix
// gives the track.
const QVector<GpsSource *> &gpsSources();

// The GPS step on a device: every source in order, the first non-empty track.
// Sources that need a file path (the subtitle stream) are passed over when the
// recording has none.
OxTrack loadTrackFrom(GpsRecording &recording, GpsReport *report = nullptr);
