#pragma once

#include <QByteArray>
#include <QMetaType>
#include <QString>
#include <QVector>

// Writes binary GPS data into an mp4 made by makeRecording (ftyp, free, mdat, moov,
// moov last): blocks and metadata samples go into "mdat" right after its header
// (the video's chunk offsets are moved by as much), a "gps " index goes after "mvhd"
// and a metadata track at the end of "moov", other boxes at the top level after
// "ftyp".
struct GpsMetaTrackSpec
{
    QByteArray format; // "gpmd" or "camm"; empty for none
    quint32 timescale = 1000;
    quint32 sampleDuration = 1000;
    QVector<QByteArray> samples;
    quint32 sizeOverride = 0; // non-zero: every sample size in the table says this
};

struct GpsLayoutSpec
{
    QVector<QByteArray> blocks; // one slot each; its offset is absolute and a multiple of 0x8000
    qint64 slot = 0x10000;      // bytes from one block to the next; a sample sits half-way
    qint64 blockShift = 0;      // blocks this many bytes after their slot's start (off the grid)
    bool index = true;          // a "gps " index of the blocks after "mvhd" (if any)
    qint64 indexCount = -1;     // >= 0: the entry count written, whatever the entries
    QVector<QPair<quint32, quint32>> extraEntries; // more (offset, size) index entries
    QVector<QByteArray> topLevelBoxes;             // whole boxes, after "ftyp"
    GpsMetaTrackSpec track;
    quint32 creationTime = 0; // "mvhd" creation, seconds since 1904; 0 keeps FFmpeg's
    qint64 regionSize = 0;    // grows the bytes put into "mdat" to this size (zeros)
};
Q_DECLARE_METATYPE(GpsLayoutSpec)

// Rewrites source into dest; false when source is not laid out as expected.
bool writeGpsLayout(const QString &source, const QString &dest, const GpsLayoutSpec &recipe);

// Byte helpers for the fixtures: hex text written at an offset of a zero block,
// boxes, and a big-endian 32-bit value.
QByteArray gpsBlock(int size, const QVector<QPair<int, const char *>> &hexAt);
QByteArray gpsBox(const char *type, const QByteArray &payload);
QByteArray gpsBe32(quint32 v);

// One known sample of each layout as a recording recipe, with its first fix and the
// accelerometer readings of that fix, if the layout has them.
struct GpsLayoutCase
{
    QString name;
    GpsLayoutSpec recipe;
    QString source; // the source that must give the track
    int fixes = 1;
    QString date; // yyyy-MM-dd hh:mm:ss (UTC, or the camera clock where the layout says)
    double latitude = 0;
    double longitude = 0;
    double speed = 0; // km/h
    bool hasGsensor = false;
    double gsensor[3] = {}; // g
};
QVector<GpsLayoutCase> gpsLayoutCases();

// 2024-03-15 12:30:44 UTC as seconds since 1904: the creation time of the recordings
// whose layouts take their date from it.
constexpr quint32 kGpsLayoutCreation = 3793350644u;
