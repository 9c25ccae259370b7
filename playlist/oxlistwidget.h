#pragma once

#include "oxvideoinfo.h"

#include <QHash>
#include <QListWidget>

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

    // Appends a row showing a copy of info and queues it for probing.
    OxVideoItemWidget *addVideoItem(const OxVideoInfo &info);
    // Takes out every row whose entry equals info.
    void removeVideoInfo(const OxVideoInfo &info);
    void removeRow(int row);
    void removeAllRows();

    // True when a row's entry equals info; a hash lookup, not a walk over the rows.
    bool containsVideoInfo(const OxVideoInfo &info) const
    {
        return entryKeys.contains(keyOf(info));
    }

    OxVideoItemWidget *rowWidget(int row) const;
    OxVideoItemWidget *rowWidget(QListWidgetItem *item) const;
    // While held, added rows wait for probing until it is released.
    void holdProbing(bool hold);
    // Null until the first row is added.
    OxVideoInfoLoadThread *videoInfoLoadThread() const { return loadThread; }

signals:
    void onContentMenuEvent(QListWidgetItem *item);

protected:
    void contextMenuEvent(QContextMenuEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;

private:
    void onVideoInfoLoaded(quint64 rowId, const OxVideoInfo &info);
    void forgetRow(OxVideoItemWidget *row);

    OxVideoInfoLoadThread *loadThread = nullptr; // owned
    bool probingHeld = false;
    // The live rows by id; a probe result whose id is missing belongs to a removed row.
    QHash<quint64, OxVideoItemWidget *> rows;
    quint64 nextRowId = 1;
    // What entry equality compares, for every row: name and case-folded paths.
    static QString keyOf(const OxVideoInfo &info);
    QHash<QString, int> entryKeys;
};
