#pragma once

#include "oxvideoinfo.h"

#include <QList>
#include <QModelIndex>
#include <QUrl>
#include <QWidget>

class OxListWidget;
class OxPlaylistDrives;
class QAction;
class QListWidgetItem;
class QMenu;

// The playlist panel: one row per entry, kept on disk as one playlist file per entry and
// read back in the order the rows had (see oxplaylistorder.h) when the panel is built.
// A context menu shows a recording's folder, removes an entry, removes entries whose
// files are gone, or clears the list. GUI thread only.
class OxVideoListWidget : public QWidget
{
    Q_OBJECT
public:
    explicit OxVideoListWidget(QWidget *parent = nullptr);

    // Reads every playlist file of the playlist folder (called by the constructor). A file
    // that cannot be read, or holds neither a name nor a recording, shows no row.
    void loadPlaylist();
    // Adds the folder's .mp4/.avi/.mov recordings (not those of sub-folders), in natural
    // name order. A clip whose other camera channel is in the folder or a sibling channel
    // folder (see pairRecordingsByName) makes one entry with it, front first.
    void addVideoDir(const QString &dir, bool save);
    // The recordings addVideoDir takes from a folder, as absolute paths in that order.
    static QStringList recordingsIn(const QString &dir);
    // True for a path ending in .mp4, .avi or .mov in any letter case: what a row takes.
    static bool isRecordingPath(const QString &path);
    void addVideoFile(const QString &path, bool save);
    // Adds the local files the URLs name (dropped files).
    void addVideoUrls(const QList<QUrl> &urls, bool save);
    // Adds a row unless a recording is not .mp4/.avi/.mov or an equal entry is listed;
    // with save, writes the entry to a playlist file of its own. A row whose file cannot
    // be written stays for this session.
    void addVideoInfo(const OxVideoInfo &info, bool save);
    // Makes the row whose first recording has exactly this path the current one.
    void selectVideo(const QString &path);
    // The entry after the row whose first recording has exactly this path; false when
    // there is none (no wrap-around). *next points at that row's own entry and stays
    // valid until the row is removed.
    bool nextVideoInfo(const QString &path, OxVideoInfo **next = nullptr);
    // Takes out the row of an entry and deletes its playlist file (the Remove action).
    void removeVideoInfo(const OxVideoInfo &info);
    // Relabels the menu actions from the language table.
    void retranslate();

    OxListWidget *list() const { return listWidget; }
    // While held, the thumbnails and facts of new rows wait: a recording that starts to
    // play has the processor to itself until its first second has played.
    void holdProbingWhilePlaying(bool hold);
    // The drives among the rows, with their header lines.
    OxPlaylistDrives *drives() const { return rowDrives; }
    QAction *openFolderAction() const { return openFolder; }
    QAction *removeAction() const { return remove; }
    QAction *removeMissingAction() const { return removeMissing; }
    QAction *clearAction() const { return clearPlaylist; }

signals:
    void onDoubleClickVideoInfo(OxVideoInfo &info);
    // A double-click on the drive header shown above row.
    void onDoubleClickDriveHeader(int row);
    // A change of the playlist could not be stored in folder (full or read-only disk):
    // rows are kept for this session only. Sent once in the panel's life.
    void onSaveFailed(const QString &folder);

public slots:
    void onDoubleClickListWidgetItem(QModelIndex index);
    void onListWidgetContentMenuEvent(QListWidgetItem *item);
    void onPopMenuTriggered(QAction *action);

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    class Batch;
    friend class Batch;

    void addEntry(const OxVideoInfo &info, bool save, const QString &playlistFile);
    QString freePlaylistFile(const QString &folder, const QString &name) const;
    void deletePlaylistFile(int row);
    void removeMissingEntries();
    void clearEntries();
    // Writes the order file when the rows' playlist files changed; waits for the end of
    // a batch.
    void saveOrder();
    // The names of the rows' playlist files, in row order.
    QStringList rowOrder() const;
    void reportSaveFailure(const QString &folder);

    OxListWidget *listWidget = nullptr;
    OxPlaylistDrives *rowDrives = nullptr;
    QListWidgetItem *contextItem = nullptr;
    QMenu *menu = nullptr;
    QAction *openFolder = nullptr;
    QAction *remove = nullptr;
    QAction *removeMissing = nullptr;
    QAction *clearPlaylist = nullptr;
    int batchDepth = 0;
    // The names the order file holds (as read or last written).
    QStringList savedOrder;
    bool saveFailureReported = false;
};
