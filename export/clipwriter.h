#pragma once

#include "evidenceexport.h"

#include <QString>
#include <QVector>

#include <atomic>
#include <functional>

// The part of one source that lies in the span: [timelineFrom, timelineTo) on the
// timeline, which is [fileFrom, fileTo) in the file.
struct SpanPart
{
    int source = 0;
    double timelineFrom = 0;
    double timelineTo = 0;
    double fileFrom = 0;
    double fileTo = 0;
};

// The sources' parts in the request's span, in timeline order; overlaps between sources
// are left as the request gives them (the drive model cuts them).
QVector<SpanPart> spanParts(const ExportRequest &request);

struct ClipOutcome
{
    bool ok = false;
    bool cancelled = false;
    QString error;
    int pictures = 0;
};

// Decodes the span from the sources, burns in the band, and writes it to path as MP4
// (H.264 yuv420p at the first source's picture size and frame rate, AAC at its sound's
// sample rate and channels, moov first). progress gets the fraction of the span done.
ClipOutcome writeClip(const ExportRequest &request, const QString &path,
                      const std::atomic<bool> *stop, const std::function<void(double)> &progress);
