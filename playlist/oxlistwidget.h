#pragma once

#include "oxvideoinfo.h"

#include <QHash>
#include <QListWidget>
#include <QSet>
#include <QStringList>

class OxVideoInfoLoadThread;
class OxVideoItemWidget;

// The list of playlist rows. It owns the probing thread and puts the thread's results
// into the rows on the GUI thread. It never keeps the keyboard focus.
class OxListWidget : public QListWidget
{
    Q_OBJECT
public:
    explicit OxListWidget(QWidget *parent = nullptr);
    // Stops the probing thread (within one packet read) and waits for it.
    ~OxListWidget() override;

    // Appends a row showing a copy of info and queues it for probing. playlistFile is
    // the playlist file the entry was read from or saved to (empty for none).
    OxVideoItemWidget *addVideoItem(const OxVideoInfo &info,
                                    const QString &playlistFile = QString());
    // Takes out every row whose entry equals info.
    void removeVideoInfo(const OxVideoInfo &info);
    void removeRow(int row);
    void removeAllRows();

    // True when a row's entry equals info; a hash lookup, not a walk over the rows.
    bool containsVideoInfo(const OxVideoInfo &info) const
    {
        return entryKeys.contains(keyOf(info));
    }
    // The playlist file of a row, empty when it has none.
    QString playlistFile(int row) const;
    void setPlaylistFile(int row, const QString &path);
    // True when a row owns the playlist file at path.
    bool ownsPlaylistFile(const QString &path) const { return files.contains(path); }
    // The rows' playlist files, in row order; rows without one are left out.
    QStringList playlistFiles() const;

    OxVideoItemWidget *rowWidget(int row) const;
    OxVideoItemWidget *rowWidget(QListWidgetItem *item) const;
    // The first recording of a row's entry; empty when it has none.
    QString recordingOf(int row) const;
    // Shows a drive's header line above a row (an empty text takes it away) and makes
    // the row taller to hold it.
    void setRowHeader(int row, const QString &text, bool event);

    // While held, added rows wait for probing until it is released.
    void holdProbing(bool hold);
    // Null until the first row is added.
    OxVideoInfoLoadThread *videoInfoLoadThread() const { return loadThread; }

signals:
    void onContentMenuEvent(QListWidgetItem *item);
    // A double-click on the drive header of a row; a double-click anywhere else on a
    // row is the list's doubleClicked as before.
    void onDoubleClickHeader(int row);
    // Rows were added or taken out.
    void rowsChanged();

protected:
    void contextMenuEvent(QContextMenuEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;

private:
    // What the list keeps for a row besides its widget: everything that identifies its
    // entry (the probe id is the key of this record), kept here and nowhere else.
    struct Row
    {
        OxVideoItemWidget *widget = nullptr;
        QString key; // keyOf(the entry), fixed when the row is added
        QString file;
    };

    void onVideoInfoLoaded(quint64 rowId, const OxVideoInfo &info);
    void forgetRow(OxVideoItemWidget *row);
    const Row *rowRecord(int index) const;
    // What entry equality compares: name and case-folded paths.
    static QString keyOf(const OxVideoInfo &info);

    OxVideoInfoLoadThread *loadThread = nullptr; // owned
    bool probingHeld = false;
    // The live rows by probe id; a probe result whose id is missing belongs to a
    // removed row.
    QHash<quint64, Row> rows;
    quint64 nextRowId = 1;
    // How many rows hold each key, and the playlist files the rows own.
    QHash<QString, int> entryKeys;
    QSet<QString> files;
};
