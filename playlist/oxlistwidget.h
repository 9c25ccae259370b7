#pragma once

#include "oxvideoinfo.h"

#include <QHash>
#include <QListWidget>
#include <QSet>
#include <QStringList>
#include <QTimer>

#include <unordered_map>

class OxVideoInfoLoadThread;
class OxVideoItemWidget;

// The list of playlist rows. It owns the probing thread and puts the thread's results
// into the rows on the GUI thread. It never keeps the keyboard focus.
//
// Every row keeps its item (size, selection) and its entry here; only rows on screen and
// a few pages around them hold an item widget with labels and a thumbnail. Widgets are
// made as rows come into view (scrolling, resizing, showing, adding) and dropped when
// they are far from it, so a long playlist costs a little per row and its start no
// widget work beyond the visible rows.
class OxListWidget : public QListWidget
{
    Q_OBJECT
public:
    explicit OxListWidget(QWidget *parent = nullptr);
    // Stops the probing thread (within one packet read) and waits for it.
    ~OxListWidget() override;

    // Appends a row holding a copy of info and queues it for probing. playlistFile is
    // the playlist file the entry was read from or saved to (empty for none).
    void addVideoItem(const OxVideoInfo &info, const QString &playlistFile = QString());
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

    // The entry a row holds; null for no such row. It stays at its address until the row
    // is removed.
    OxVideoInfo *entry(int row) const;
    OxVideoInfo *entry(QListWidgetItem *item) const;
    // The widget showing a row, made now when the row has none (it is dropped again when
    // the row is far from the view). Null for no such row.
    OxVideoItemWidget *rowWidget(int row);
    OxVideoItemWidget *rowWidget(QListWidgetItem *item);
    // The first recording of a row's entry; empty when it has none.
    QString recordingOf(int row) const;
    // Shows a drive's header line above a row (an empty text takes it away) and makes
    // the row taller to hold it.
    void setRowHeader(int row, const QString &text, bool event);
    // Shows the badge of a clip the camera locked on a row.
    void setRowEventClip(int row, bool event);

    // While held, added rows wait for probing until it is released. A batch of rows
    // holds it, and so does a recording while it starts to play; probing resumes when
    // neither does.
    void holdProbing(bool hold);
    void holdProbingWhilePlaying(bool hold);
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
    void scrollContentsBy(int dx, int dy) override;
    void showEvent(QShowEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void updateGeometries() override;

private:
    // What the list keeps for a row, whether or not it has a widget: its entry and
    // everything shown with it (the probe id is the key of this record).
    struct Row
    {
        OxVideoInfo info;
        QString key; // keyOf(the entry), fixed when the row is added
        QString file;
        QString header;
        bool headerEvent = false;
        bool eventClip = false;
        QListWidgetItem *item = nullptr;
        OxVideoItemWidget *widget = nullptr; // while the row is near the view
    };

    void onVideoInfoLoaded(quint64 rowId, const OxVideoInfo &info);
    void forgetRow(quint64 rowId);
    Row *rowRecord(QListWidgetItem *item) const;
    Row *rowRecord(int index) const { return rowRecord(item(index)); }
    OxVideoItemWidget *makeWidget(quint64 rowId, Row &row);
    // Gives the rows near the view their widgets and takes them from rows far from it.
    void updateRowWidgets();
    // What entry equality compares: name and case-folded paths.
    static QString keyOf(const OxVideoInfo &info);

    OxVideoInfoLoadThread *loadThread = nullptr; // owned
    bool probingHeld = false;
    bool playingHeld = false;
    // The live rows by probe id; a probe result whose id is missing belongs to a
    // removed row. A node map: entries keep their addresses while rows come and go.
    std::unordered_map<quint64, Row> rows;
    // The ids of the rows that hold a widget.
    QSet<quint64> withWidget;
    // Runs updateRowWidgets once the view has laid out its rows again.
    QTimer widgetTimer;
    // Widgets taken from rows, deleted by retireTimer outside the handler that dropped
    // them. The view only asks for their deletion with deleteLater, which waits for an
    // event loop started with exec and so never comes while a caller runs processEvents.
    QList<QWidget *> retired;
    QTimer retireTimer;
    bool updatingWidgets = false;
    quint64 nextRowId = 1;
    // How many rows hold each key, and the playlist files the rows own.
    QHash<QString, int> entryKeys;
    QSet<QString> files;
};
