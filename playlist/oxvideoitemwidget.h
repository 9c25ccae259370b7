#pragma once

#include "oxvideoinfo.h"

#include <QWidget>

class QLabel;

// One row of the playlist: the thumbnail and, beside it, name, resolution and frame
// rate, length and size. It owns the row's own copy of the entry. GUI thread only.
class OxVideoItemWidget : public QWidget
{
    Q_OBJECT
public:
    explicit OxVideoItemWidget(QWidget *parent = nullptr);

    void setVideoInfo(const OxVideoInfo &info);
    OxVideoInfo &videoInfo() { return info; }
    void showVideoInfo(const OxVideoInfo &info);
    void layoutLabels(int width, int height);

    // Identifies the row to the probing thread: results for a row that has gone find
    // no row with their id and are dropped.
    quint64 rowId() const { return id; }
    void setRowId(quint64 value) { id = value; }

    static QString resolutionText(const OxVideoInfo &info);
    static QString durationText(double seconds);
    static QString sizeText(double bytes);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    QLabel *thumbLabel = nullptr;
    QLabel *nameLabel = nullptr;
    QLabel *resolutionLabel = nullptr;
    QLabel *durationLabel = nullptr;
    QLabel *sizeLabel = nullptr;
    OxVideoInfo info;
    quint64 id = 0;
};
