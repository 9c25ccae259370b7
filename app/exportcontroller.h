#pragma once

#include "driveexport.h"
#include "exportjob.h"

#include <QObject>
#include <QPointer>

class QProgressDialog;
class QWidget;

// The window's evidence export: the in and out marks of the span, the dialog that asks
// where to write it, and the export running in the background (ExportJob) with a progress
// dialog whose Cancel stops it. Playback and the rest of the window stay usable meanwhile.
//
// Positions are seconds on the timeline that plays: one recording, or a drive.
class ExportController : public QObject
{
    Q_OBJECT
public:
    // Without marks the span runs from this long before the playing position...
    static constexpr double kDefaultBefore = 30;
    // ...to this long after it.
    static constexpr double kDefaultAfter = 10;

    explicit ExportController(QWidget *window);
    ~ExportController() override; // cancels a running export and waits for it

    // A new timeline: the marks are cleared.
    void setDuration(double duration);
    // A mark at the position; a mark that would end the span before it starts clears the
    // other one.
    void markIn(double position);
    void markOut(double position);
    bool hasMarks() const { return in >= 0 || out >= 0; }
    // The span that an export at the playing position covers: the marks where set, the
    // default span around the position where not, within the timeline.
    std::pair<double, double> span(double position) const;
    // The span in words: start, end and length.
    QString spanText(double position) const;

    // Asks for the target folder and the options, then starts the export of the span
    // around position. A second export while one runs is refused with a notice.
    // rear: the paired camera shown beside the picture, drawn into the clip as a picture in
    // picture (empty: none).
    void exportSpan(const Drive &drive, const DriveTrack &track, double position, int speedUnit,
                    const ChannelPairing &rear = ChannelPairing());
    // Starts the export of a request made elsewhere, with the progress dialog; false
    // when one is still running.
    bool start(const ExportRequest &request);
    bool isRunning() const { return job.isRunning(); }
    // The folder the dialog offers first: "dashcam-exports" in the user's videos folder.
    static QString defaultFolder();

signals:
    // The marks changed: from and to are negative where no mark is set.
    void marksChanged(double from, double to);
    // A message for the window's notice line.
    void notice(const QString &text);

private:
    void showProgress(double fraction, double secondsLeft);
    void exportFinished(const ExportResult &result);

    QWidget *window;
    ExportJob job;
    QPointer<QProgressDialog> progress;
    double duration = 0;
    double in = -1;
    double out = -1;
    QString lastFolder;
};
