#pragma once

#include "evidenceexport.h"
#include "oxlocation.h"

#include <QString>
#include <QStringList>
#include <QVector>

// The recordings named on the command line as one drive, until the drive model groups
// them: back to back in natural name order, each with the track the player reads from
// it, its fixes spread evenly over its length as the trip display spreads them.
struct FilesDrive
{
    QVector<ExportSource> sources;
    QVector<OxTrack> tracks; // one per source
    QVector<double> lengths;

    // The recordings of the arguments: files as given, folders as their .mp4, .mov and
    // .avi files. Empty with error set when an argument names nothing readable.
    static QStringList recordings(const QStringList &arguments, QString *error);
    // Opens each recording for its length and track; error set when one cannot be read.
    static FilesDrive backToBack(QStringList files, QString *error);

    BandSample bandAt(double timelineSeconds) const;
    QVector<QPointF> route(double from, double to) const;
    bool writeTrack(const QString &path, bool gpx, double from, double to) const;

private:
    struct Fix
    {
        int source = -1;
        int index = 0;
        double timeline = 0; // where the fix's second starts on the timeline
    };
    Fix fixAt(double timelineSeconds) const;
    QVector<Fix> fixesIn(double from, double to) const;
};
