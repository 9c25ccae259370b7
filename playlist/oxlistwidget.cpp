#include "oxlistwidget.h"

#include "oxvideoinfoloadthread.h"
#include "oxvideoitemwidget.h"

#include <QContextMenuEvent>
#include <QCursor>
#include <QMouseEvent>
#include <QScrollBar>

OxListWidget::OxListWidget(QWidget *parent) : QListWidget(parent)
{
}

OxListWidget::~OxListWidget()
{
    if (loadThread) {
        loadThread->stopAndWait();
        delete loadThread;
        loadThread = nullptr;
    }
}

OxVideoItemWidget *OxListWidget::addVideoItem(const OxVideoInfo &info, const QString &playlistFile)
{
    auto *item = new QListWidgetItem();
    item->setSizeHint(
        QSize(width() - verticalScrollBar()->width(), OxVideoItemWidget::rowHeight(false)));
    auto *row = new OxVideoItemWidget(this);
    row->setRowId(nextRowId++);
    row->setVideoInfo(info);
    row->showVideoInfo(row->videoInfo());
    addItem(item);
    setItemWidget(item, row);
    const Row record{row, keyOf(info), playlistFile};
    rows.insert(row->rowId(), record);
    ++entryKeys[record.key];
    if (!playlistFile.isEmpty())
        files.insert(playlistFile);

    if (!loadThread) {
        loadThread = new OxVideoInfoLoadThread(this);
        connect(loadThread, &OxVideoInfoLoadThread::videoInfoLoaded, this,
                &OxListWidget::onVideoInfoLoaded);
        loadThread->setHeld(probingHeld);
    }
    loadThread->addItemWidget(row);
    emit rowsChanged();
    return row;
}

void OxListWidget::holdProbing(bool hold)
{
    probingHeld = hold;
    if (loadThread)
        loadThread->setHeld(hold);
}

void OxListWidget::forgetRow(OxVideoItemWidget *row)
{
    if (!row)
        return;
    const Row record = rows.take(row->rowId());
    if (--entryKeys[record.key] <= 0)
        entryKeys.remove(record.key);
    files.remove(record.file);
    if (loadThread)
        loadThread->removeItemWidget(row->rowId());
}

void OxListWidget::removeRow(int index)
{
    QListWidgetItem *item = this->item(index);
    if (!item)
        return;
    forgetRow(rowWidget(item));
    // Deleting the item also releases its row widget.
    delete takeItem(index);
    emit rowsChanged();
}

void OxListWidget::removeVideoInfo(const OxVideoInfo &info)
{
    for (int i = 0; i < count();) {
        OxVideoItemWidget *row = rowWidget(i);
        if (row && row->videoInfo() == info)
            removeRow(i);
        else
            ++i;
    }
}

void OxListWidget::removeAllRows()
{
    rows.clear();
    entryKeys.clear();
    files.clear();
    if (loadThread)
        loadThread->removeAllItemWidgets();
    clear();
    emit rowsChanged();
}

QString OxListWidget::keyOf(const OxVideoInfo &info)
{
    QString key = info.name;
    for (const OxVideoFile &video : info.videos)
        key += QLatin1Char('\0') + video.path.toCaseFolded();
    return key;
}

const OxListWidget::Row *OxListWidget::rowRecord(int index) const
{
    const OxVideoItemWidget *row = rowWidget(index);
    const auto it = row ? rows.constFind(row->rowId()) : rows.constEnd();
    return it == rows.constEnd() ? nullptr : &it.value();
}

QString OxListWidget::playlistFile(int index) const
{
    const Row *record = rowRecord(index);
    return record ? record->file : QString();
}

void OxListWidget::setPlaylistFile(int index, const QString &path)
{
    const Row *record = rowRecord(index);
    if (!record)
        return;
    Row &row = rows[record->widget->rowId()];
    files.remove(row.file);
    row.file = path;
    if (!path.isEmpty())
        files.insert(path);
}

QStringList OxListWidget::playlistFiles() const
{
    QStringList paths;
    for (int i = 0; i < count(); ++i) {
        const QString file = playlistFile(i);
        if (!file.isEmpty())
            paths.append(file);
    }
    return paths;
}

OxVideoItemWidget *OxListWidget::rowWidget(int index) const
{
    return rowWidget(item(index));
}

OxVideoItemWidget *OxListWidget::rowWidget(QListWidgetItem *item) const
{
    return item ? qobject_cast<OxVideoItemWidget *>(itemWidget(item)) : nullptr;
}

void OxListWidget::onVideoInfoLoaded(quint64 rowId, const OxVideoInfo &probed)
{
    OxVideoItemWidget *row = rows.value(rowId).widget;
    if (!row)
        return;
    // Only the values the probe finds; the row's entry stays the row's.
    OxVideoInfo &info = row->videoInfo();
    const int n = std::min(info.videos.size(), probed.videos.size());
    for (int i = 0; i < n; ++i) {
        OxVideoFile &video = info.videos[i];
        const OxVideoFile &result = probed.videos.at(i);
        if (video.path != result.path)
            continue;
        video.thumb = result.thumb;
        video.width = result.width;
        video.height = result.height;
        video.fps = result.fps;
        video.duration = result.duration;
    }
    row->showVideoInfo(info);
}

QString OxListWidget::recordingOf(int index) const
{
    OxVideoItemWidget *row = rowWidget(index);
    if (!row || row->videoInfo().videos.isEmpty())
        return QString();
    return row->videoInfo().videos.first().path;
}

void OxListWidget::setRowHeader(int index, const QString &text, bool event)
{
    QListWidgetItem *item = this->item(index);
    OxVideoItemWidget *row = rowWidget(item);
    if (!row)
        return;
    const bool had = row->hasDriveHeader();
    row->setDriveHeader(text, event);
    if (had != row->hasDriveHeader())
        item->setSizeHint(
            QSize(item->sizeHint().width(), OxVideoItemWidget::rowHeight(!text.isEmpty())));
}

void OxListWidget::mouseDoubleClickEvent(QMouseEvent *event)
{
    QListWidgetItem *item = itemAt(event->pos());
    const OxVideoItemWidget *widget = rowWidget(item);
    if (widget && widget->hasDriveHeader() && event->button() == Qt::LeftButton &&
        event->pos().y() - visualItemRect(item).top() < OxVideoItemWidget::kHeaderHeight) {
        event->accept();
        emit onDoubleClickHeader(row(item));
        return;
    }
    QListWidget::mouseDoubleClickEvent(event);
}

void OxListWidget::contextMenuEvent(QContextMenuEvent *)
{
    emit onContentMenuEvent(itemAt(viewport()->mapFromGlobal(QCursor::pos())));
}

void OxListWidget::focusInEvent(QFocusEvent *)
{
    clearFocus();
}
