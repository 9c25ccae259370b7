#include "oxvideolistwidget.h"

#include "channelpairs.h"
#include "language.h"
#include "localfiles.h"
#include "oxfileutils.h"
#include "oxlistwidget.h"
#include "oxplaylistdrives.h"
#include "oxplaylistorder.h"

#include <QAction>
#include <QCursor>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QtDebug>

namespace {

// The files of a folder, no sub-folders and no symbolic links, in natural name order.
QStringList filesOf(const QString &folder)
{
    QStringList names =
        QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::NoSymLinks, QDir::NoSort);
    sortNaturally(names);
    return names;
}

QString playlistFolder()
{
    return QDir(OxFileUtils().playlistDir()).absolutePath();
}

} // namespace

// Many rows at once. A visible view lays out every row widget again after each
// inserted row, which makes adding n rows cost n squared; a hidden one does it once
// when it is shown again, before anything is painted. Probing waits for the batch, so
// it does not compete with it for the disk, and the order file is written once at its
// end.
class OxVideoListWidget::Batch
{
public:
    explicit Batch(OxVideoListWidget *panel)
        : panel(panel), list(panel->listWidget), shown(list->isVisible())
    {
        if (shown)
            list->hide();
        list->holdProbing(true);
        ++panel->batchDepth;
    }
    ~Batch()
    {
        --panel->batchDepth;
        panel->saveOrder();
        list->holdProbing(false);
        if (shown)
            list->show();
    }
    Batch(const Batch &) = delete;
    Batch &operator=(const Batch &) = delete;

private:
    OxVideoListWidget *panel;
    OxListWidget *list;
    bool shown;
};

OxVideoListWidget::OxVideoListWidget(QWidget *parent) : QWidget(parent)
{
    listWidget = new OxListWidget(this);
    listWidget->setStyleSheet(
        QStringLiteral("QListView::item {border: 1px solid #dddddd; background:#dddddd;}"
                       "QListView::item:hover {background:#eeeeee;}"
                       "QListView::item:selected {border: 1px solid #eeeeee; background:#eeeeee;}"
                       "QListView::item:selected:!active {background:#eeeeee;}"
                       "QListView::item:selected:active {background:#eeeeee;}"));
    openFolder = new QAction(languageText(QStringLiteral("open_in_explore")), this);
    remove = new QAction(languageText(QStringLiteral("remove")), this);
    removeMissing = new QAction(languageText(QStringLiteral("remove_invalid_files")), this);
    clearPlaylist = new QAction(languageText(QStringLiteral("clear_playlist")), this);
    listWidget->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    listWidget->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    connect(listWidget, &QListWidget::doubleClicked, this,
            &OxVideoListWidget::onDoubleClickListWidgetItem);
    connect(listWidget, &OxListWidget::onContentMenuEvent, this,
            &OxVideoListWidget::onListWidgetContentMenuEvent);
    rowDrives = new OxPlaylistDrives(listWidget);
    connect(listWidget, &OxListWidget::onDoubleClickHeader, this,
            &OxVideoListWidget::onDoubleClickDriveHeader);
    loadPlaylist();
}

void OxVideoListWidget::loadPlaylist()
{
    const QString folder = playlistFolder();
    qDebug("%s", qPrintable(folder));
    const Batch batch(this);
    for (const QString &name : OxPlaylistOrder::playlistFiles(folder, &savedOrder)) {
        const QString path = QDir(folder).absoluteFilePath(name);
        bool readable = false;
        const OxVideoInfo info = OxVideoInfo::fromFile(path, &readable);
        // A damaged, foreign or empty file would only show as a blank row.
        if (readable && (!info.name.isEmpty() || !info.videos.isEmpty()))
            addEntry(info, false, path);
    }
    // Nothing is written at start: the order file is brought up to date with the next
    // change, so a playlist on a read-only disk is read without complaint.
    savedOrder = rowOrder();
}

bool OxVideoListWidget::isRecordingPath(const QString &path)
{
    for (const char *extension : {".mp4", ".avi", ".mov"}) {
        if (path.endsWith(QLatin1String(extension), Qt::CaseInsensitive))
            return true;
    }
    return false;
}

QStringList OxVideoListWidget::recordingsIn(const QString &dir)
{
    QStringList recordings;
    if (!QFileInfo(dir).isDir())
        return recordings;
    const QDir folder(dir);
    for (const QString &name : filesOf(dir)) {
        for (const char *extension : {".mp4", ".MP4", ".avi", ".AVI", ".mov", ".MOV"}) {
            if (name.endsWith(QLatin1String(extension))) {
                recordings.append(folder.absoluteFilePath(name));
                break;
            }
        }
    }
    return recordings;
}

void OxVideoListWidget::addVideoDir(const QString &dir, bool save)
{
    const QStringList recordings = recordingsIn(dir);
    if (recordings.isEmpty())
        return;
    const Batch batch(this);
    // A clip of a camera of several channels and its other channel (from this folder or
    // a sibling channel folder) make one entry, the front first.
    for (const QStringList &entry : pairRecordingsByName(recordings, siblingChannelRecordings(dir))) {
        OxVideoInfo info;
        for (const QString &path : entry) {
            OxVideoInfo one;
            one.setVideoFile(path);
            if (info.videos.isEmpty())
                info = one;
            else
                info.videos.append(one.videos.first());
        }
        addVideoInfo(info, save);
    }
}

void OxVideoListWidget::addVideoFile(const QString &path, bool save)
{
    OxVideoInfo info;
    info.setVideoFile(path);
    addVideoInfo(info, save);
}

void OxVideoListWidget::addVideoUrls(const QList<QUrl> &urls, bool save)
{
    const Batch batch(this);
    for (const QUrl &url : urls)
        addVideoFile(url.isLocalFile() ? localPathOfUrl(url) : url.path(QUrl::FullyDecoded), save);
}

void OxVideoListWidget::addVideoInfo(const OxVideoInfo &info, bool save)
{
    addEntry(info, save, QString());
    saveOrder();
}

void OxVideoListWidget::addEntry(const OxVideoInfo &info, bool save, const QString &playlistFile)
{
    for (const OxVideoFile &video : info.videos) {
        if (!isRecordingPath(video.path))
            return;
    }
    if (listWidget->containsVideoInfo(info))
        return;
    QString file = playlistFile;
    if (save && file.isEmpty()) {
        const QString folder = playlistFolder();
        const QString candidate = freePlaylistFile(folder, info.name);
        if (info.save(candidate))
            file = candidate;
        else
            reportSaveFailure(folder);
    }
    listWidget->addVideoItem(info, file);
    qDebug("playlist row: %s",
           qUtf8Printable(info.videos.isEmpty() ? info.name : info.videos.first().path));
}

QString OxVideoListWidget::freePlaylistFile(const QString &folder, const QString &name) const
{
    // A name from a hand-edited file must not lead out of the playlist folder.
    QString base = name;
    base.replace(QLatin1Char('/'), QLatin1Char('_'));
    QString path = QStringLiteral("%1/%2.xml").arg(folder, base);
    for (int n = 2; listWidget->ownsPlaylistFile(path) || QFileInfo::exists(path); ++n)
        path = QStringLiteral("%1/%2 (%3).xml").arg(folder, base, QString::number(n));
    return path;
}

void OxVideoListWidget::saveOrder()
{
    if (batchDepth > 0)
        return;
    const QStringList names = rowOrder();
    if (names == savedOrder)
        return;
    const QString folder = playlistFolder();
    if (OxPlaylistOrder::write(folder, names))
        savedOrder = names;
    else
        reportSaveFailure(folder);
}

QStringList OxVideoListWidget::rowOrder() const
{
    QStringList names;
    for (const QString &path : listWidget->playlistFiles())
        names.append(QFileInfo(path).fileName());
    return names;
}

void OxVideoListWidget::reportSaveFailure(const QString &folder)
{
    qDebug("playlist not saved in %s", qUtf8Printable(folder));
    if (saveFailureReported)
        return;
    saveFailureReported = true;
    emit onSaveFailed(folder);
}

void OxVideoListWidget::holdProbingWhilePlaying(bool hold)
{
    listWidget->holdProbingWhilePlaying(hold);
    rowDrives->holdProbing(hold);
}

void OxVideoListWidget::selectVideo(const QString &path)
{
    for (int i = 0; i < listWidget->count(); ++i) {
        const OxVideoInfo *row = listWidget->entry(i);
        if (row && !row->videos.isEmpty() && row->videos.first().path == path) {
            listWidget->setCurrentRow(i);
            return;
        }
    }
}

bool OxVideoListWidget::nextVideoInfo(const QString &path, OxVideoInfo **next)
{
    for (int i = 0; i + 1 < listWidget->count(); ++i) {
        const OxVideoInfo *row = listWidget->entry(i);
        if (row && !row->videos.isEmpty() && row->videos.first().path == path) {
            OxVideoInfo *following = listWidget->entry(i + 1);
            if (!following)
                return false;
            if (next)
                *next = following;
            return true;
        }
    }
    return false;
}

void OxVideoListWidget::deletePlaylistFile(int row)
{
    const QString file = listWidget->playlistFile(row);
    if (file.isEmpty())
        return;
    // A file that stays would bring the row back at the next start.
    if (!OxFileUtils::removeFile(file) && QFileInfo::exists(file))
        reportSaveFailure(QFileInfo(file).absolutePath());
    listWidget->setPlaylistFile(row, QString());
}

void OxVideoListWidget::removeVideoInfo(const OxVideoInfo &info)
{
    for (int i = 0; i < listWidget->count(); ++i) {
        const OxVideoInfo *row = listWidget->entry(i);
        if (row && *row == info) {
            deletePlaylistFile(i);
            listWidget->removeRow(i);
            saveOrder();
            return;
        }
    }
}

void OxVideoListWidget::retranslate()
{
    openFolder->setText(languageText(QStringLiteral("open_in_explore")));
    remove->setText(languageText(QStringLiteral("remove")));
    removeMissing->setText(languageText(QStringLiteral("remove_invalid_files")));
    clearPlaylist->setText(languageText(QStringLiteral("clear_playlist")));
    rowDrives->relabel();
}

void OxVideoListWidget::onDoubleClickListWidgetItem(QModelIndex index)
{
    if (OxVideoInfo *row = listWidget->entry(index.row()))
        emit onDoubleClickVideoInfo(*row);
}

void OxVideoListWidget::onListWidgetContentMenuEvent(QListWidgetItem *item)
{
    delete menu;
    menu = new QMenu(this);
    connect(menu, &QMenu::triggered, this, &OxVideoListWidget::onPopMenuTriggered);
    menu->setStyleSheet(
        QStringLiteral("QMenu{background-color: #989898;border: 0px solid white;color:white;}\n"
                       "QMenu::item{background-color: transparent;padding:4px "
                       "20px;margin:0px 0px;border-bottom:1px solid #DBDBDB;}\n"
                       "QMenu::item:selected { background-color: #2dabf9;}"));
    if (item) {
        menu->addAction(openFolder);
        menu->addAction(remove);
    }
    menu->addAction(removeMissing);
    menu->addAction(clearPlaylist);
    contextItem = item;
    menu->exec(QCursor::pos());
}

void OxVideoListWidget::onPopMenuTriggered(QAction *action)
{
    if (action == openFolder) {
        const OxVideoInfo *row = listWidget->entry(contextItem);
        if (!row || row->videos.isEmpty())
            return;
        const QString folder = QFileInfo(row->videos.first().path).absolutePath();
        QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
    } else if (action == remove) {
        if (const OxVideoInfo *row = listWidget->entry(contextItem)) {
            const OxVideoInfo info = *row;
            removeVideoInfo(info);
        }
        contextItem = nullptr;
    } else if (action == removeMissing) {
        removeMissingEntries();
        contextItem = nullptr;
    } else if (action == clearPlaylist) {
        clearEntries();
        contextItem = nullptr;
    }
}

void OxVideoListWidget::removeMissingEntries()
{
    QList<QPair<OxVideoInfo, QString>> keep;
    for (int i = 0; i < listWidget->count(); ++i) {
        const OxVideoInfo *row = listWidget->entry(i);
        if (!row)
            continue;
        if (row->filesExist())
            keep.append({*row, listWidget->playlistFile(i)});
        else
            deletePlaylistFile(i);
    }
    const Batch batch(this);
    listWidget->removeAllRows();
    for (const auto &entry : keep)
        addEntry(entry.first, false, entry.second);
}

void OxVideoListWidget::clearEntries()
{
    const QString folder = playlistFolder();
    OxFileUtils::deleteRecursively(folder);
    if (QFileInfo::exists(folder))
        reportSaveFailure(folder);
    listWidget->removeAllRows();
    savedOrder.clear();
}

void OxVideoListWidget::resizeEvent(QResizeEvent *)
{
    listWidget->setGeometry(0, 0, width(), height());
}
