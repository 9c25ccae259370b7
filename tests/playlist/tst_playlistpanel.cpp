#include "damagedrecording.h"
#include "factscache.h"
#include "ffmpeg_ptr.h"
#include "language.h"
#include "localfiles.h"
#include "oxfileutils.h"
#include "oxjpeg.h"
#include "oxlistwidget.h"
#include "oxplaylistdrives.h"
#include "oxvideoinfoloadthread.h"
#include "oxvideoitemwidget.h"
#include "oxvideolistwidget.h"
#include "testhome.h"
#include "testrecordings.h"

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QSemaphore>
#include <QtTest>

#include <atomic>
#include <cstdio>
#include <memory>

namespace {

QString labelText(OxVideoItemWidget *row, const char *name)
{
    auto *label = row->findChild<QLabel *>(QLatin1String(name));
    return label ? label->text() : QStringLiteral("<no label>");
}

bool hasThumbnail(OxVideoItemWidget *row)
{
    auto *label = row->findChild<QLabel *>(QStringLiteral("thumbnail"));
    return label && !label->pixmap(Qt::ReturnByValue).isNull();
}

QStringList rowNames(OxVideoListWidget &panel)
{
    QStringList names;
    for (int i = 0; i < panel.list()->count(); ++i)
        names << panel.list()->rowWidget(i)->videoInfo().name;
    return names;
}

QStringList rowPaths(OxVideoListWidget &panel)
{
    QStringList paths;
    for (int i = 0; i < panel.list()->count(); ++i)
        paths << panel.list()->rowWidget(i)->videoInfo().videos.value(0).path;
    return paths;
}

bool allProbed(OxVideoListWidget &panel)
{
    for (int i = 0; i < panel.list()->count(); ++i) {
        if (labelText(panel.list()->rowWidget(i), "resolution").startsWith(QLatin1String("0x0")))
            return false;
    }
    return true;
}

// The playlist files (the order file beside them is not one).
QStringList playlistFiles()
{
    QStringList names;
    for (const QString &name :
         QDir(OxFileUtils().playlistDir()).entryList(QDir::Files | QDir::Hidden, QDir::Name)) {
        if (name.endsWith(QLatin1String(".xml")))
            names << name;
    }
    return names;
}

bool writeAll(const QString &path, const QByteArray &data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Starts like a JPEG: a thumbnail the probe keeps rather than decodes again.
const QByteArray kKeptJpeg("\xFF\xD8\xFF kept", 8);

// Set by the hand-over test: the worker's "ended" line then signals and waits.
std::atomic<bool> holdWorkerEnd{false};
QSemaphore workerEnding;

} // namespace

class tst_PlaylistPanel : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestHome> home;
    QString clips; // a.mp4 320x240 25 fps 2 s, b.mov 160x120 10 fps 3 s
    QString front; // front/FILE0001.MP4, 320x240
    QString rear;  // rear/FILE0001.MP4, 160x120
    QList<QUrl> opened;

    QString clip(const QString &dir, const QString &name, int w, int h, int fps, double s,
                 const QString &container = QStringLiteral("mp4"))
    {
        RecordingSpec recipe;
        recipe.container = container;
        recipe.width = w;
        recipe.height = h;
        recipe.fpsNum = fps;
        recipe.gop = fps;
        recipe.seconds = s;
        recipe.audioCodec.clear();
        const QString path = makeRecording(dir, name, recipe);
        if (path.isEmpty())
            qFatal("could not make %s", qPrintable(name));
        return path;
    }

    // A panel as the window shows it, built from the playlist folder.
    std::unique_ptr<OxVideoListWidget> makePanel()
    {
        auto panel = std::make_unique<OxVideoListWidget>();
        panel->resize(360, 640);
        panel->show();
        return panel;
    }

    // Closes the context menu as soon as it is shown, recording its entries.
    QList<QAction *> runContextMenu(OxVideoListWidget &panel, QListWidgetItem *item)
    {
        QList<QAction *> actions;
        QTimer::singleShot(0, [&] {
            if (auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget())) {
                actions = menu->actions();
                menu->close();
            }
        });
        panel.onListWidgetContentMenuEvent(item);
        return actions;
    }

private slots:
    void openedUrl(const QUrl &url) { opened << url; }

    void initTestCase()
    {
        home = std::make_unique<TestHome>();
        clips = home->path() + QStringLiteral("/clips");
        clip(clips, QStringLiteral("a"), 320, 240, 25, 2);
        clip(clips, QStringLiteral("b"), 160, 120, 10, 3, QStringLiteral("mov"));
        front = clip(home->path() + QStringLiteral("/card/front"), QStringLiteral("FILE0001"), 320,
                     240, 25, 1);
        rear = clip(home->path() + QStringLiteral("/card/rear"), QStringLiteral("FILE0001"), 160,
                    120, 25, 1);
        QFile::rename(front, front.chopped(4) + QStringLiteral(".MP4"));
        QFile::rename(rear, rear.chopped(4) + QStringLiteral(".MP4"));
        front = front.chopped(4) + QStringLiteral(".MP4");
        rear = rear.chopped(4) + QStringLiteral(".MP4");
        QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "openedUrl");
        installFileNameCodec(); // as the program does
        av_log_set_level(AV_LOG_QUIET);
        // The worker's debug lines (one per queued row) stay out of the test log; the
        // line it writes when it ends can hold it there, widening the hand-over window.
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &text) {
            if (type != QtDebugMsg)
                std::fprintf(stderr, "%s\n", qPrintable(text));
            if (holdWorkerEnd && text.startsWith(QLatin1String("OxVideoInfoLoadThread")) &&
                text.endsWith(QLatin1String(" ended")) &&
                !text.contains(QLatin1String("addItemWidget"))) {
                workerEnding.release();
                QThread::msleep(300);
            }
        });
    }

    void init()
    {
        OxFileUtils::deleteRecursively(OxFileUtils().playlistDir());
        OxFileUtils::deleteRecursively(OxFileUtils::thumbnailLocation());
        opened.clear();
    }

    void rowTexts_data()
    {
        QTest::addColumn<QVariantList>("first");  // width, height, fps, duration, size
        QTest::addColumn<QVariantList>("second"); // empty: one recording
        QTest::addColumn<QString>("resolution");
        QTest::addColumn<QString>("duration");
        QTest::addColumn<QString>("size");
        const QVariantList one;
        QTest::newRow("full hd, an hour")
            << QVariantList{1920, 1080, 29.97, 3599.5, 52428800.0} << one << "1920x1080 30fps"
            << "01:00:00"
            << "50MB";
        QTest::newRow("59.4 s") << QVariantList{0, 0, 0.0, 59.4, 1023.0} << one << "0x0 0fps"
                                << "00:00:59"
                                << "1023B";
        QTest::newRow("59.5 s, 1 KB") << QVariantList{0, 0, 0.0, 59.5, 1024.0} << one << "0x0 0fps"
                                      << "00:01:00"
                                      << "1KB";
        QTest::newRow("100 hours, just under a MB")
            << QVariantList{0, 0, 0.0, 360000.0, 1048575.0} << one << "0x0 0fps"
            << "100:00:00"
            << "1023KB";
        QTest::newRow("1 MB") << QVariantList{0, 0, 0.0, 0.0, 1048576.0} << one << "0x0 0fps"
                              << "00:00:00"
                              << "1MB";
        QTest::newRow("read back from a file")
            << QVariantList{0, 0, 0.0, 0.0, 1073740000.0} << one << "0x0 0fps"
            << "00:00:00"
            << "1023MB";
        QTest::newRow("1 G") << QVariantList{0, 0, 0.0, 0.0, 1073741824.0} << one << "0x0 0fps"
                             << "00:00:00"
                             << "1.00G";
        QTest::newRow("two recordings show both resolutions, the first's rest")
            << QVariantList{1920, 1080, 30.0, 10.0, 3221225472.0}
            << QVariantList{1280, 720, 25.0, 99.0, 5.0} << "1920x1080 30fps+1280x720 25fps"
            << "00:00:10"
            << "3.00G";
        QTest::newRow("damaged values stay defined")
            << QVariantList{1, 1, 1e300, -5.0, 1e300} << one << "1x1 1000000fps"
            << "00:00:00"
            << "931322574.62G";
    }

    void rowTexts()
    {
        QFETCH(QVariantList, first);
        QFETCH(QVariantList, second);
        QFETCH(QString, resolution);
        QFETCH(QString, duration);
        QFETCH(QString, size);
        OxVideoInfo info;
        info.name = QStringLiteral("entry");
        for (const QVariantList &values : {first, second}) {
            if (values.isEmpty())
                continue;
            OxVideoFile video;
            video.width = values[0].toInt();
            video.height = values[1].toInt();
            video.fps = values[2].toDouble();
            video.duration = values[3].toDouble();
            video.size = values[4].toDouble();
            info.videos << video;
        }
        OxVideoItemWidget row;
        row.resize(300, 60);
        row.show();
        row.setVideoInfo(info);
        row.showVideoInfo(row.videoInfo());
        QCOMPARE(labelText(&row, "name"), QStringLiteral("entry"));
        QCOMPARE(labelText(&row, "resolution"), resolution);
        QCOMPARE(labelText(&row, "duration"), duration);
        QCOMPARE(labelText(&row, "size"), size);
        QCOMPARE(row.findChild<QLabel *>(QStringLiteral("size"))->geometry(),
                 QRect(169, 39, 45, 19));
    }

    // The worker fills in both clips with their thumbnails; after a restart their values
    // come back without decoding again.
    void probesRealClips()
    {
        {
            auto panel = makePanel();
            panel->addVideoDir(clips, true);
            QCOMPARE(rowNames(*panel), (QStringList{"a", "b"}));
            QTRY_VERIFY_WITH_TIMEOUT(allProbed(*panel), 20000);
            OxVideoItemWidget *a = panel->list()->rowWidget(0);
            OxVideoItemWidget *b = panel->list()->rowWidget(1);
            QCOMPARE(labelText(a, "resolution"), QStringLiteral("320x240 25fps"));
            QCOMPARE(labelText(a, "duration"), QStringLiteral("00:00:02"));
            QCOMPARE(labelText(b, "resolution"), QStringLiteral("160x120 10fps"));
            QCOMPARE(labelText(b, "duration"), QStringLiteral("00:00:03"));
            QVERIFY(hasThumbnail(a));
            QVERIFY(hasThumbnail(b));
            // Thumbnails live in the user's own cache folder, closed to other accounts.
            const QString thumbs = OxFileUtils::thumbnailLocation();
            QVERIFY(thumbs.startsWith(
                QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation)));
            QCOMPARE(QFileInfo(a->videoInfo().videos[0].thumb).path(), thumbs);
            QCOMPARE(QFile::permissions(thumbs) & 0x0077, QFile::Permissions());
            for (OxVideoItemWidget *row : {a, b})
                QVERIFY(writeAll(row->videoInfo().videos[0].thumb, kKeptJpeg));
        }
        auto panel = makePanel();
        QCOMPARE(rowNames(*panel), (QStringList{"a", "b"}));
        QTRY_VERIFY_WITH_TIMEOUT(allProbed(*panel), 20000);
        for (int i = 0; i < 2; ++i)
            QCOMPARE(readAll(panel->list()->rowWidget(i)->videoInfo().videos[0].thumb), kKeptJpeg);
    }

    // A recording starting to play holds the thumbnails and facts of new rows back until
    // it lets go.
    void probingWaitsWhileARecordingStarts()
    {
        auto panel = makePanel();
        panel->holdProbingWhilePlaying(true);
        panel->addVideoDir(clips, true);
        const QString first = rowPaths(*panel).value(0);
        QFile::remove(factsCachePath(first)); // cached facts are answered while held
        QTest::qWait(500);
        QVERIFY(!hasThumbnail(panel->list()->rowWidget(0)));
        QVERIFY(!panel->drives()->factsOf(first));
        panel->holdProbingWhilePlaying(false);
        QTRY_VERIFY_WITH_TIMEOUT(allProbed(*panel), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(panel->drives()->factsOf(first).has_value(), 20000);
    }

    // FILE0001.MP4 of the front and of the rear camera: two rows, two playlist files,
    // two pictures; both come back after a restart and Remove deletes only its own file.
    void equalNamesKeepTheirOwnFilesAndPictures()
    {
        {
            auto panel = makePanel();
            panel->addVideoFile(front, true);
            panel->addVideoFile(rear, true);
            panel->addVideoFile(rear, true); // already listed: no row, no file
            QCOMPARE(playlistFiles(), (QStringList{"FILE0001 (2).xml", "FILE0001.xml"}));
            QTRY_VERIFY_WITH_TIMEOUT(allProbed(*panel), 20000);
            const QString frontThumb = panel->list()->rowWidget(0)->videoInfo().videos[0].thumb;
            const QString rearThumb = panel->list()->rowWidget(1)->videoInfo().videos[0].thumb;
            QVERIFY(frontThumb != rearThumb);
            QCOMPARE(QImage(frontThumb).size(), QSize(320, 240));
            QCOMPARE(QImage(rearThumb).size(), QSize(160, 120));
        }
        auto panel = makePanel();
        QCOMPARE(panel->list()->count(), 2);
        OxVideoInfo rearEntry;
        rearEntry.setVideoFile(rear);
        panel->removeVideoInfo(rearEntry);
        QCOMPARE(panel->list()->count(), 1);
        QCOMPARE(panel->list()->rowWidget(0)->videoInfo().videos[0].path, front);
        QCOMPARE(playlistFiles().size(), 1);
        QCOMPARE(OxVideoInfo(OxFileUtils().playlistDir() + "/" + playlistFiles()[0]).videos[0].path,
                 front);

        // A name reused for a new recording (a reformatted card) gets a fresh picture.
        OxVideoFile before;
        before.path = rear;
        const QString oldThumb = OxVideoInfoLoadThread::thumbnailPath("/t", before);
        clip(QFileInfo(rear).path(), QStringLiteral("FILE0001"), 64, 48, 25, 2);
        QFile::remove(rear);
        QFile::rename(QFileInfo(rear).path() + QStringLiteral("/FILE0001.mp4"), rear);
        QVERIFY(OxVideoInfoLoadThread::thumbnailPath("/t", before) != oldThumb);
    }

    // What cannot be read as an entry shows no row (a blank one would be of no use), and
    // a file nested deep enough to overflow a recursive parser is read without harm.
    void unreadableFilesShowNothing_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("not XML") << QByteArray("\x01not xml");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("neither name nor recording")
            << QByteArray("<OxVideoInfo><Videos/></OxVideoInfo>");
        QTest::newRow("nested 149000 deep") << QByteArray("<a>").repeated(149000);
        QTest::newRow("over the size cap")
            << QByteArray("<r><Name>big</Name></r>") + QByteArray(2 << 20, ' ');
    }
    void unreadableFilesShowNothing()
    {
        QFETCH(QByteArray, content);
        const QString dir = OxFileUtils().playlistDir();
        QVERIFY(writeAll(dir + QStringLiteral("/bad.xml"), content));
        OxVideoInfo good;
        good.setVideoFile(clips + QStringLiteral("/a.mp4"));
        QVERIFY(good.save(dir + QStringLiteral("/good.xml")));
        auto panel = makePanel();
        QCOMPARE(rowNames(*panel), QStringList{"a"});
    }

    // File names are bytes: control characters, bytes that are not UTF-8 and names near
    // the 255-byte limit are listed, opened, given a thumbnail, and come back exactly
    // after a restart, still present for remove-missing.
    void namesSurviveARestart_data()
    {
        QTest::addColumn<QByteArray>("name"); // without the extension
        QTest::newRow("control character") << QByteArray("a\x01b");
        QTest::newRow("carriage return") << QByteArray("a\rb");
        QTest::newRow("not UTF-8") << QByteArray("caf\xe9");
        QTest::newRow("250 bytes") << QByteArray(246, 'n');
    }
    void namesSurviveARestart()
    {
        QFETCH(QByteArray, name);
        const QString dir = home->path() + QStringLiteral("/names/") + QTest::currentDataTag();
        const QByteArray path = QFile::encodeName(dir) + '/' + name + ".mp4";
        QCOMPARE(std::rename(QFile::encodeName(clip(dir, "made", 64, 48, 25, 1)).constData(),
                             path.constData()),
                 0);
        {
            auto panel = makePanel();
            panel->addVideoDir(dir, true);
            QCOMPARE(panel->list()->count(), 1);
        }
        auto panel = makePanel();
        QCOMPARE(panel->list()->count(), 1);
        QCOMPARE(QFile::encodeName(rowPaths(*panel).first()), path);
        QTRY_VERIFY_WITH_TIMEOUT(allProbed(*panel), 20000);
        QVERIFY(hasThumbnail(panel->list()->rowWidget(0)));
        panel->onPopMenuTriggered(panel->removeMissingAction());
        QCOMPARE(panel->list()->count(), 1);
        QCOMPARE(playlistFiles().size(), 1);
    }

    // Rows come back in the order they were added, not in the order of their names.
    void orderSurvivesARestart_data()
    {
        QTest::addColumn<QStringList>("added"); // folder/name, in the order added
        QTest::newRow("the second folder's names sort first")
            << QStringList{"x/b1", "x/b2", "y/a1"};
        QTest::newRow("equal names, \"NAME (2).xml\" sorts first")
            << QStringList{"front/FILE0001", "rear/FILE0001"};
    }
    void orderSurvivesARestart()
    {
        QFETCH(QStringList, added);
        QStringList paths;
        {
            auto panel = makePanel();
            for (const QString &name : added) {
                const QString path =
                    home->path() +
                    QStringLiteral("/added/%1/%2.mp4").arg(QTest::currentDataTag(), name);
                QDir().mkpath(QFileInfo(path).path());
                paths << makeGarbage(path, 10);
                panel->addVideoFile(path, true);
            }
        }
        // One modification time for all, as a copy of the folder or a coarse clock leaves
        // them: the files' times tell nothing.
        const QDateTime copied = QDateTime::currentDateTime().addDays(-1);
        for (const QString &name : playlistFiles()) {
            QFile file(OxFileUtils().playlistDir() + QLatin1Char('/') + name);
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.setFileTime(copied, QFileDevice::FileModificationTime));
        }
        auto panel = makePanel();
        QCOMPARE(rowPaths(*panel), paths);
    }

    void naturalOrder_data()
    {
        QTest::addColumn<QStringList>("created");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("counters") << QStringList{"10.mp4", "2.mp4", "1.mp4", "100.mp4", "20.mp4"}
                                  << QStringList{"1", "2", "10", "20", "100"};
        QTest::newRow("dates") << QStringList{"20240307_0959.MP4", "20240307_1000.MP4",
                                              "20240306_2359.MP4", "20240307_0001.MP4"}
                               << QStringList{"20240306_2359", "20240307_0001", "20240307_0959",
                                              "20240307_1000"};
        QTest::newRow("extensions, letter case as the camera writes it")
            << QStringList{"c.Mp4", "b.MOV", "d.txt", "a.mp4", "e.avi"}
            << QStringList{"a", "b", "e"};
        QTest::newRow("prefix and counter")
            << QStringList{"FILE9.MOV", "FILE11.MOV", "FILE10.MOV", "NOTE.txt", "file010.mp4"}
            << QStringList{"FILE9", "FILE10", "file010", "FILE11"};
    }

    // A folder is added, and the playlist comes back, in the order of the drive.
    void naturalOrder()
    {
        QFETCH(QStringList, created);
        QFETCH(QStringList, expected);
        const QString dir = home->path() + QStringLiteral("/order/") + QTest::currentDataTag();
        QDir().mkpath(dir);
        for (const QString &name : created)
            QVERIFY(!makeGarbage(dir + QLatin1Char('/') + name, 100).isEmpty());
        {
            auto panel = makePanel();
            panel->addVideoDir(dir, true);
            QCOMPARE(rowNames(*panel), expected);
        }
        auto panel = makePanel();
        QCOMPARE(rowNames(*panel), expected);
    }

    // What the window asks of the panel: select the opened file and the entry after the
    // one that ended. (Double-click and relabelling are checked through the window.)
    void selectAndNext()
    {
        const QString dir = home->path() + QStringLiteral("/window");
        QDir().mkpath(dir);
        QStringList paths;
        for (const char *name : {"a.mp4", "b.mp4", "c.mp4"})
            paths << makeGarbage(dir + QLatin1Char('/') + QLatin1String(name), 10);
        auto panel = makePanel();
        panel->addVideoDir(dir, false);
        OxListWidget *list = panel->list();

        panel->selectVideo(paths[1]);
        QCOMPARE(list->currentRow(), 1);
        panel->selectVideo(paths[2].toUpper());
        QCOMPARE(list->currentRow(), 1);

        OxVideoInfo *next = nullptr;
        QVERIFY(panel->nextVideoInfo(paths[0], &next));
        QCOMPARE(next, &list->rowWidget(1)->videoInfo());
        QVERIFY(!panel->nextVideoInfo(paths[2], &next));
        QVERIFY(!panel->nextVideoInfo(dir + QStringLiteral("/none.mp4"), &next));
    }

    void showFolder_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::newRow("plain") << "plain";
        QTest::newRow("hash") << "trip #2";
        QTest::newRow("percent") << "100% done";
        QTest::newRow("question mark") << "what?";
    }

    void showFolder()
    {
        QFETCH(QString, folder);
        const QString dir = home->path() + QStringLiteral("/show/") + folder;
        QDir().mkpath(dir);
        const QString file = makeGarbage(dir + QStringLiteral("/c.mp4"), 10);
        auto panel = makePanel();
        panel->addVideoFile(file, false);
        panel->addVideoInfo(OxVideoInfo(), false);
        QCOMPARE(panel->list()->count(), 2);

        const QList<QAction *> actions = runContextMenu(*panel, panel->list()->item(0));
        QCOMPARE(actions, (QList<QAction *>{panel->openFolderAction(), panel->removeAction(),
                                            panel->removeMissingAction(), panel->clearAction()}));
        panel->onPopMenuTriggered(panel->openFolderAction());
        QCOMPARE(opened.size(), 1);
        QCOMPARE(opened[0].toLocalFile(), dir);

        // An entry without recordings has no folder to show.
        runContextMenu(*panel, panel->list()->item(1));
        panel->onPopMenuTriggered(panel->openFolderAction());
        QCOMPARE(opened.size(), 1);
        QCOMPARE(runContextMenu(*panel, nullptr),
                 (QList<QAction *>{panel->removeMissingAction(), panel->clearAction()}));
    }

    // Remove-missing keeps the present entries and their files; Clear empties everything.
    void removeMissingAndClear()
    {
        const QString dir = home->path() + QStringLiteral("/missing");
        QDir().mkpath(dir);
        for (const char *name : {"1.mp4", "2.mp4", "3.mp4"})
            makeGarbage(dir + QLatin1Char('/') + QLatin1String(name), 10);
        auto panel = makePanel();
        panel->addVideoDir(dir, true);
        QFile::remove(dir + QStringLiteral("/2.mp4"));
        runContextMenu(*panel, nullptr);
        panel->onPopMenuTriggered(panel->removeMissingAction());
        QCOMPARE(rowNames(*panel), (QStringList{"1", "3"}));
        QCOMPARE(playlistFiles(), (QStringList{"1.xml", "3.xml"}));
        panel->onPopMenuTriggered(panel->clearAction());
        QCOMPARE(panel->list()->count(), 0);
        QCOMPARE(playlistFiles(), QStringList());
    }

    // A long playlist: only rows near the view hold a widget; a row scrolled to shows its
    // texts and thumbnail, plays on double-click and keeps the selection and row order.
    void longPlaylistKeepsWidgetsNearTheView_data()
    {
        QTest::addColumn<int>("target");
        QTest::newRow("last") << 299;
        QTest::newRow("middle") << 150;
    }
    void longPlaylistKeepsWidgetsNearTheView()
    {
        QFETCH(int, target);
        const QString thumb = OxFileUtils().thumbnailDir() + QStringLiteral("/long.jpg");
        QImage(320, 180, QImage::Format_RGB32).save(thumb, "JPEG");
        QStringList names;
        for (int i = 0; i < 300; ++i) {
            OxVideoInfo info;
            info.setVideoFile(clips + QStringLiteral("/a.mp4"));
            names << (info.name = QStringLiteral("e%1").arg(i));
            info.videos[0] = {thumb, "a.mp4", info.videos[0].path, 25, 2, 1000, 320, 240};
            QVERIFY(info.save(OxFileUtils().playlistDir() + '/' + info.name + ".xml"));
        }
        auto panel = makePanel();
        OxListWidget *list = panel->list();
        const auto widgets = [list] {
            int n = 0;
            for (int i = 0; i < list->count(); ++i)
                n += list->itemWidget(list->item(i)) != nullptr;
            return n;
        };
        QVERIFY(list->itemWidget(list->item(0)));
        QVERIFY2(widgets() < 60, qPrintable(QString::number(widgets())));
        QString played;
        connect(panel.get(), &OxVideoListWidget::onDoubleClickVideoInfo,
                [&](OxVideoInfo &info) { played = info.name; });

        list->scrollToItem(list->item(target));
        QTRY_VERIFY(list->itemWidget(list->item(target)) && !list->itemWidget(list->item(0)));
        QVERIFY2(widgets() < 60, qPrintable(QString::number(widgets())));
        auto *row = qobject_cast<OxVideoItemWidget *>(list->itemWidget(list->item(target)));
        QCOMPARE(labelText(row, "name"), names[target]);
        QCOMPARE(labelText(row, "resolution"), QStringLiteral("320x240 25fps"));
        QVERIFY(hasThumbnail(row));
        const QPoint centre = list->visualItemRect(list->item(target)).center();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, centre);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, centre);
        QCOMPARE(played, names[target]);

        list->scrollToTop();
        QTRY_VERIFY(list->itemWidget(list->item(0)) && !list->itemWidget(list->item(target)));
        QCOMPARE(list->currentRow(), target);
        QCOMPARE(rowNames(*panel), names);
    }

    // A row added just after the worker found its queue empty, while it is on its way
    // out (held there by the log line it writes when it ends), is still probed.
    void rowAddedWhileTheWorkerEndsIsProbed()
    {
        const QString dir = home->path() + QStringLiteral("/handover");
        QDir().mkpath(dir);
        auto panel = makePanel();
        holdWorkerEnd = true;
        panel->addVideoFile(makeGarbage(dir + QStringLiteral("/first.mp4"), 10), false);
        QVERIFY(workerEnding.tryAcquire(1, 10000));
        holdWorkerEnd = false;
        panel->addVideoFile(makeGarbage(dir + QStringLiteral("/second.mp4"), 10), false);
        // The worker gives every recording it reaches a thumbnail path, even one it
        // cannot open.
        QTRY_VERIFY_WITH_TIMEOUT(
            !panel->list()->rowWidget(1)->videoInfo().videos[0].thumb.isEmpty(), 10000);
    }

    // Rows removed while they wait or are probed, and the panel destroyed while a long
    // undecodable recording is searched for its first picture.
    void removeAndDestroyWhileProbing()
    {
        const QString dir = home->path() + QStringLiteral("/long");
        const QString longClip = makeUndecodableRecording(dir, QStringLiteral("long"), 1200);
        QVERIFY(!longClip.isEmpty());
        auto panel = makePanel();
        panel->addVideoFile(longClip, false);
        panel->addVideoDir(clips, false);
        panel->list()->removeRow(1); // a.mp4, queued behind the long recording
        panel->list()->removeRow(0); // the long recording, being probed
        QCOMPARE(rowNames(*panel), QStringList{"b"});
        QTRY_VERIFY_WITH_TIMEOUT(allProbed(*panel), 20000);

        panel->addVideoFile(longClip, false);
        QTest::qWait(50); // the worker is inside the search
        QVERIFY(panel->list()->videoInfoLoadThread()->isRunning());
        QElapsedTimer timer;
        timer.start();
        panel.reset();
        const qint64 stopMs = timer.elapsed();

        // The whole search, for comparison: stopping must cut it short.
        ProbeResult result;
        result.thumb = dir + QStringLiteral("/never.jpg");
        timer.restart();
        probeVideo(longClip.toUtf8().constData(), result, nullptr);
        const qint64 searchMs = timer.elapsed();
        qInfo("stop %lld ms, whole search %lld ms", stopMs, searchMs);
        QVERIFY(!QFile::exists(result.thumb));
        QVERIFY2(stopMs * 4 < searchMs, "destroying the panel waited for the search");
    }
};

QTEST_MAIN(tst_PlaylistPanel)
#include "tst_playlistpanel.moc"
