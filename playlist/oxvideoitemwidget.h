#pragma once

#include "oxvideoinfo.h"

#include <QWidget>

class QLabel;

// One row of the playlist: the thumbnail and, beside it, name, resolution and frame
// rate, length and size. It holds its own copy of the entry, or shows an entry the list
// keeps (bindVideoInfo). GUI thread only.
class OxVideoItemWidget : public QWidget
{
    Q_OBJECT
public:
    explicit OxVideoItemWidget(QWidget *parent = nullptr);

    void setVideoInfo(const OxVideoInfo &info);
    OxVideoInfo &videoInfo() { return entry ? *entry : info; }
    // Makes the row show and hand out the entry at *kept instead of its own copy; kept
    // must outlive the widget.
    void bindVideoInfo(OxVideoInfo *kept) { entry = kept; }
    void showVideoInfo(const OxVideoInfo &info);
    void layoutLabels(int width, int height);

    // Identifies the row to the probing thread: results for a row that has gone find
    // no row with their id and are dropped.
    quint64 rowId() const { return id; }
    void setRowId(quint64 value) { id = value; }

    // A drive's header line above the row's own lines, with a badge when the drive
    // holds an event clip; an empty text takes it away. The row is then taller by
    // kHeaderHeight; its own lines keep their places below the header.
    void setDriveHeader(const QString &text, bool event);
    QString driveHeader() const { return headerText; }
    bool hasDriveHeader() const { return !headerText.isEmpty(); }
    // The badge of a clip the camera locked (event folder or mark).
    void setEventClip(bool event);
    bool isEventClip() const;
    // The height a row needs, with or without a drive header.
    static int rowHeight(bool withHeader);
    static constexpr int kHeaderHeight = 22;

    static QString resolutionText(const OxVideoInfo &info);
    static QString durationText(double seconds);
    static QString sizeText(double bytes);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void placeHeader();
    QLabel *makeBadge();

    QLabel *thumbLabel = nullptr;
    QLabel *nameLabel = nullptr;
    QLabel *resolutionLabel = nullptr;
    QLabel *durationLabel = nullptr;
    QLabel *sizeLabel = nullptr;
    QLabel *headerLabel = nullptr; // made with the first header
    QLabel *headerBadge = nullptr; // made with the first header
    QLabel *eventBadge = nullptr;  // made with the first event mark
    QString headerText;
    int top = 0; // the header's height while there is one
    OxVideoInfo info;
    OxVideoInfo *entry = nullptr; // the list's entry when bound
    quint64 id = 0;
};
