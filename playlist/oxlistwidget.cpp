#include "oxlistwidget.h"

#include "oxvideoinfoloadthread.h"
#include "oxvideoitemwidget.h"

#include <QContextMenuEvent>
#include <QCursor>
#include <QMouseEvent>
#include <QScrollBar>

namespace {

// Rows beyond the screen's that get a widget ahead of scrolling, on either side; widgets
// of rows more than twice as far away are dropped.
constexpr int kRowsAround = 12;

} // namespace

OxListWidget::OxListWidget(QWidget *parent) : QListWidget(parent)
{
    widgetTimer.setSingleShot(true);
    widgetTimer.setInterval(0);
    connect(&widgetTimer, &QTimer::timeout, this, &OxListWidget::updateRowWidgets);
    retireTimer.setSingleShot(true);
    retireTimer.setInterval(0);
    connect(&retireTimer, &QTimer::timeout, this, [this] {
        qDeleteAll(retired);
        retired.clear();
    });
}

OxListWidget::~OxListWidget()
{
    if (loadThread) {
        loadThread->stopAndWait();
        delete loadThread;
        loadThread = nullptr;
    }
}

void OxListWidget::addVideoItem(const OxVideoInfo &info, const QString &playlistFile)
{
    const quint64 id = nextRowId++;
    auto *item = new QListWidgetItem();
    item->setSizeHint(
        QSize(width() - verticalScrollBar()->width(), OxVideoItemWidget::rowHeight(false)));
    item->setData(Qt::UserRole, id);
    addItem(item);
    Row &record = rows[id];
    record.info = info;
    record.key = keyOf(info);
    record.file = playlistFile;
    record.item = item;
    ++entryKeys[record.key];
    if (!playlistFile.isEmpty())
        files.insert(playlistFile);

    if (!loadThread) {
        loadThread = new OxVideoInfoLoadThread(this);
        connect(loadThread, &OxVideoInfoLoadThread::videoInfoLoaded, this,
                &OxListWidget::onVideoInfoLoaded);
        loadThread->setHeld(probingHeld || playingHeld);
    }
    loadThread->addRow(id, info);
    // A row added to a list on screen is drawn with its widget at once.
    if (isVisible())
        updateRowWidgets();
    emit rowsChanged();
}

void OxListWidget::holdProbing(bool hold)
{
    probingHeld = hold;
    if (loadThread)
        loadThread->setHeld(probingHeld || playingHeld);
}

void OxListWidget::holdProbingWhilePlaying(bool hold)
{
    playingHeld = hold;
    if (loadThread)
        loadThread->setHeld(probingHeld || playingHeld);
}

void OxListWidget::forgetRow(quint64 rowId)
{
    const auto it = rows.find(rowId);
    if (it == rows.end())
        return;
    const Row &record = it->second;
    if (--entryKeys[record.key] <= 0)
        entryKeys.remove(record.key);
    files.remove(record.file);
    withWidget.remove(rowId);
    rows.erase(it);
    if (loadThread)
        loadThread->removeItemWidget(rowId);
}

void OxListWidget::removeRow(int index)
{
    QListWidgetItem *item = this->item(index);
    if (!item)
        return;
    forgetRow(item->data(Qt::UserRole).toULongLong());
    // Deleting the item also releases its row widget.
    delete takeItem(index);
    emit rowsChanged();
}

void OxListWidget::removeVideoInfo(const OxVideoInfo &info)
{
    for (int i = 0; i < count();) {
        const OxVideoInfo *kept = entry(i);
        if (kept && *kept == info)
            removeRow(i);
        else
            ++i;
    }
}

void OxListWidget::removeAllRows()
{
    rows.clear();
    withWidget.clear();
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

OxListWidget::Row *OxListWidget::rowRecord(QListWidgetItem *item) const
{
    if (!item)
        return nullptr;
    const auto it = rows.find(item->data(Qt::UserRole).toULongLong());
    return it == rows.end() ? nullptr : const_cast<Row *>(&it->second);
}

OxVideoInfo *OxListWidget::entry(int index) const
{
    Row *record = rowRecord(index);
    return record ? &record->info : nullptr;
}

OxVideoInfo *OxListWidget::entry(QListWidgetItem *item) const
{
    Row *record = rowRecord(item);
    return record ? &record->info : nullptr;
}

QString OxListWidget::playlistFile(int index) const
{
    const Row *record = rowRecord(index);
    return record ? record->file : QString();
}

void OxListWidget::setPlaylistFile(int index, const QString &path)
{
    Row *row = rowRecord(index);
    if (!row)
        return;
    files.remove(row->file);
    row->file = path;
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

OxVideoItemWidget *OxListWidget::rowWidget(int index)
{
    return rowWidget(item(index));
}

OxVideoItemWidget *OxListWidget::rowWidget(QListWidgetItem *item)
{
    Row *record = rowRecord(item);
    if (!record)
        return nullptr;
    return record->widget ? record->widget
                          : makeWidget(item->data(Qt::UserRole).toULongLong(), *record);
}

OxVideoItemWidget *OxListWidget::makeWidget(quint64 rowId, Row &row)
{
    auto *widget = new OxVideoItemWidget(this);
    widget->setRowId(rowId);
    widget->bindVideoInfo(&row.info);
    widget->showVideoInfo(row.info);
    if (!row.header.isEmpty())
        widget->setDriveHeader(row.header, row.headerEvent);
    widget->setEventClip(row.eventClip);
    row.widget = widget;
    withWidget.insert(rowId);
    setItemWidget(row.item, widget);
    return widget;
}

void OxListWidget::updateRowWidgets()
{
    if (updatingWidgets || !isVisible() || count() == 0)
        return;
    updatingWidgets = true;
    // The rows that can be on screen: from the top one, as many as the shortest rows
    // fill the view with. The top row comes from the last layout, which may lag behind
    // rows just added; a wrong guess is put right after the next layout.
    const QModelIndex top = indexAt(QPoint(1, 1));
    const int first = top.isValid() ? top.row() : 0;
    const int last = first + viewport()->height() / OxVideoItemWidget::rowHeight(false) + 1;
    const int from = std::max(0, first - kRowsAround);
    const int to = std::min(count() - 1, last + kRowsAround);
    for (int i = from; i <= to; ++i) {
        QListWidgetItem *rowItem = item(i);
        Row *record = rowRecord(rowItem);
        if (record && !record->widget)
            makeWidget(rowItem->data(Qt::UserRole).toULongLong(), *record);
    }
    const QSet<quint64> held = withWidget;
    for (const quint64 id : held) {
        const auto it = rows.find(id);
        if (it == rows.end())
            continue;
        const int index = row(it->second.item);
        if (index >= first - 2 * kRowsAround && index <= last + 2 * kRowsAround)
            continue;
        retired.append(it->second.widget);
        it->second.widget->hide();
        it->second.widget = nullptr;
        withWidget.remove(id);
        removeItemWidget(it->second.item);
    }
    if (!retired.isEmpty())
        retireTimer.start();
    updatingWidgets = false;
}

void OxListWidget::scrollContentsBy(int dx, int dy)
{
    QListWidget::scrollContentsBy(dx, dy);
    updateRowWidgets();
}

void OxListWidget::showEvent(QShowEvent *event)
{
    QListWidget::showEvent(event);
    updateRowWidgets();
}

void OxListWidget::resizeEvent(QResizeEvent *event)
{
    QListWidget::resizeEvent(event);
    updateRowWidgets();
}

void OxListWidget::updateGeometries()
{
    QListWidget::updateGeometries();
    widgetTimer.start();
}

void OxListWidget::onVideoInfoLoaded(quint64 rowId, const OxVideoInfo &probed)
{
    const auto it = rows.find(rowId);
    if (it == rows.end())
        return;
    // Only the values the probe finds; the row's entry stays the row's.
    OxVideoInfo &info = it->second.info;
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
    if (it->second.widget)
        it->second.widget->showVideoInfo(info);
}

QString OxListWidget::recordingOf(int index) const
{
    const OxVideoInfo *kept = entry(index);
    if (!kept || kept->videos.isEmpty())
        return QString();
    return kept->videos.first().path;
}

void OxListWidget::setRowHeader(int index, const QString &text, bool event)
{
    Row *row = rowRecord(index);
    if (!row)
        return;
    const bool had = !row->header.isEmpty();
    row->header = text;
    row->headerEvent = event;
    if (row->widget)
        row->widget->setDriveHeader(text, event);
    if (had != !text.isEmpty())
        row->item->setSizeHint(
            QSize(row->item->sizeHint().width(), OxVideoItemWidget::rowHeight(!text.isEmpty())));
}

void OxListWidget::setRowEventClip(int index, bool event)
{
    Row *row = rowRecord(index);
    if (!row)
        return;
    row->eventClip = event;
    if (row->widget)
        row->widget->setEventClip(event);
}

void OxListWidget::mouseDoubleClickEvent(QMouseEvent *event)
{
    QListWidgetItem *item = itemAt(event->pos());
    const Row *record = rowRecord(item);
    if (record && !record->header.isEmpty() && event->button() == Qt::LeftButton &&
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
