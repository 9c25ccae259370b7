// The finished window: the playlist fed by the open dialog, drops and the command
// line, play-through to the next row, double-click, and the settings dialog's changes.
// Real recordings, the real engine, real map pages, a real window (Xvfb).

#include "fulldisk.h"
#include "jtvideoview.h"
#include "language.h"
#include "mainwindow.h"
#include "oxffplayer.h"
#include "oxfileutils.h"
#include "oxmapwidget.h"
#include "oxsettingdialog.h"
#include "oxvideoinfo.h"
#include "oxvideoitemwidget.h"
#include "oxvideolistwidget.h"
#include "oxvideoview.h"
#include "testhome.h"
#include "testrecordings.h"
#include "videoinfoview.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QListWidget>
#include <QMimeData>
#include <QPushButton>
#include <QTcpServer>
#include <QWebEngineView>
#include <QtTest>

#include <memory>
#include <sys/stat.h>

namespace {

constexpr int kTimeout = 20000;

} // namespace

class tst_mainwindow_playlist : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestHome> home;
    QString drive;          // clip1, clip2 and clip10.mp4, one second each
    QStringList driveClips; // in the order of the drive
    QString other;          // a.mp4 and b.mov in another folder
    std::unique_ptr<MainWindow> window;

    QListWidget *list() const { return window->playlist()->findChild<QListWidget *>(); }
    QStringList rows() const
    {
        QStringList paths;
        for (int i = 0; i < list()->count(); ++i) {
            auto *row = qobject_cast<OxVideoItemWidget *>(list()->itemWidget(list()->item(i)));
            paths.append(row && !row->videoInfo().videos.isEmpty()
                             ? row->videoInfo().videos.first().path
                             : QString());
        }
        return paths;
    }
    QString selectedRow() const
    {
        const int i = list()->currentRow();
        return i < 0 ? QString() : rows().value(i);
    }
    int thumbnails() const
    {
        int made = 0;
        for (int i = 0; i < list()->count(); ++i) {
            auto *row = qobject_cast<OxVideoItemWidget *>(list()->itemWidget(list()->item(i)));
            made += row && !row->videoInfo().videos.value(0).thumb.isEmpty() ? 1 : 0;
        }
        return made;
    }
    bool playing(const QString &path) const
    {
        return window->currentVideoPath() == path && window->engine()->isPlaying();
    }
    // Sends a drag carrying urls and then its drop to a widget, as the window system
    // does; returns whether the drag was accepted.
    bool drop(QWidget *target, const QList<QUrl> &urls)
    {
        QMimeData data;
        data.setUrls(urls);
        const QPoint at = target->rect().center();
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &enter);
        if (!enter.isAccepted())
            return false;
        QDropEvent dropped(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &dropped);
        return true;
    }

private slots:
    void initTestCase()
    {
        home = std::make_unique<TestHome>();
        QCoreApplication::setApplicationName("tst_mainwindow_playlist");
        setLanguageRoot(QStringLiteral(DASHCAM_RUNTIME_DIR "/language"));
        loadLanguage("english");
        OxMapWidget::setPageRoot(QStringLiteral(DASHCAM_RUNTIME_DIR));

        RecordingSpec recipe;
        recipe.width = 160;
        recipe.height = 120;
        recipe.seconds = 1;
        drive = home->path() + "/drive";
        other = home->path() + "/other";
        QVERIFY(QDir().mkpath(drive) && QDir().mkpath(other));
        for (const char *name : {"clip1", "clip2", "clip10"}) {
            driveClips.append(makeRecording(drive, name, recipe));
            QVERIFY(!driveClips.last().isEmpty());
        }
        QVERIFY(!makeRecording(other, "a", recipe).isEmpty());
        recipe.container = "mov";
        QVERIFY(!makeRecording(other, "b", recipe).isEmpty());
    }

    void init()
    {
        // Every case starts with an empty playlist.
        QDir(home->dataLocation() + "/playlist").removeRecursively();
        window = std::make_unique<MainWindow>();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        QCOMPARE(list()->count(), 0);
    }
    void cleanup() { window.reset(); }

    // Choosing a file adds every recording of its folder, in the drive's order, and
    // selects and plays the chosen one.
    void openDialogAddsTheFolder()
    {
        QTimer::singleShot(0, this, [&] {
            QTRY_VERIFY(qobject_cast<QFileDialog *>(QApplication::activeModalWidget()));
            auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            dialog->setDirectory(drive);
            dialog->selectFile("clip2.mp4");
            QMetaObject::invokeMethod(dialog, "accept");
        });
        window->openButton()->click();
        QCOMPARE(rows(), driveClips);
        QCOMPARE(selectedRow(), driveClips.at(1));
        QVERIFY(playing(driveClips.at(1)));
    }

    // At the end of a row the next plays; at the end of the last, playback stays stopped
    // with play enabled, and play starts that last recording again. The rows' pictures
    // are made once the first recording is under way, not beside its first pictures.
    void playsThroughTheDrive()
    {
        window->openPaths({drive});
        QVERIFY(playing(driveClips.at(0)));
        QTRY_VERIFY(window->engine()->videoTime() >= 0.5);
        QCOMPARE(thumbnails(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(playing(driveClips.at(1)), kTimeout);
        QCOMPARE(selectedRow(), driveClips.at(1));
        QTRY_VERIFY_WITH_TIMEOUT(playing(driveClips.at(2)), kTimeout);
        QTRY_VERIFY_WITH_TIMEOUT(!window->engine()->isOpened(), kTimeout);
        QTest::qWait(300);
        QVERIFY(!window->engine()->isOpened());
        QCOMPARE(window->currentVideoPath(), driveClips.at(2));
        QTRY_COMPARE(thumbnails(), driveClips.size());
        QVERIFY(window->playButton()->isEnabled());
        QVERIFY(!window->stopButton()->isEnabled());
        window->playButton()->click();
        QVERIFY(playing(driveClips.at(2)));
    }

    // An entry whose recording is gone is not played: playback stops there.
    void missingNextEntryStops()
    {
        const QString gone = home->path() + "/gone";
        QVERIFY(QDir().mkpath(gone));
        QVERIFY(QFile::copy(driveClips.at(0), gone + "/clip1.mp4"));
        QVERIFY(QFile::copy(driveClips.at(1), gone + "/clip2.mp4"));
        window->openPaths({gone});
        QVERIFY(QFile::remove(gone + "/clip2.mp4"));
        QTRY_VERIFY_WITH_TIMEOUT(!window->engine()->isOpened(), kTimeout);
        QTest::qWait(300);
        QCOMPARE(window->currentVideoPath(), gone + "/clip1.mp4");
        QVERIFY(window->playButton()->isEnabled());
    }

    void doubleClickPlaysTheRow()
    {
        window->openPaths({drive});
        window->playButton()->click(); // pause
        QListWidgetItem *item = list()->item(2);
        const QPoint at = list()->visualItemRect(item).center();
        QTest::mousePress(list()->viewport(), Qt::LeftButton, Qt::NoModifier, at);
        QTest::mouseRelease(list()->viewport(), Qt::LeftButton, Qt::NoModifier, at);
        QTest::mouseDClick(list()->viewport(), Qt::LeftButton, Qt::NoModifier, at);
        QTRY_VERIFY(playing(driveClips.at(2)));
    }

    // Drops anywhere, the map's web view included, reach the window: files in the order
    // dropped, a folder like the open dialog, and web links are ignored.
    void drops_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QStringList>("dropped");
        QTest::addColumn<QStringList>("expectedRows");
        QTest::addColumn<int>("playedRow"); // -1: what played before goes on
        const QStringList files = {drive + "/clip10.mp4", other + "/b.mov", other + "/a.mp4"};
        QTest::newRow("three files") << "window" << files << files << 0;
        QTest::newRow("on the map") << "map" << files << files << 0;
        QTest::newRow("on the playlist") << "playlist" << files << files << 0;
        QTest::newRow("a folder") << "window" << QStringList{drive} << driveClips << 0;
        QTest::newRow("web link") << "map" << QStringList{"https://example.org/clip.mp4"}
                                  << QStringList{} << -1;
    }
    void drops()
    {
        QFETCH(QString, target);
        QFETCH(QStringList, dropped);
        QFETCH(QStringList, expectedRows);
        QFETCH(int, playedRow);
        const QString before = other + "/a.mp4";
        QWidget *to = window.get();
        if (target == "map") {
            // The page is made once the window is on screen, and waits while a recording
            // starts: it must be there before the short recording plays.
            QTRY_VERIFY_WITH_TIMEOUT(to = window->map()->findChild<QWebEngineView *>("googleView"),
                                     kTimeout);
        } else if (target == "playlist") {
            to = list()->viewport();
        }
        window->openVideo(before);
        QVERIFY(playing(before));
        QVERIFY(to);
        auto *page = qobject_cast<QWebEngineView *>(to);
        if (page)
            QTRY_VERIFY_WITH_TIMEOUT(!page->url().isEmpty(), kTimeout);
        const QUrl mapPage = page ? page->url() : QUrl();
        QList<QUrl> urls;
        for (const QString &d : dropped)
            urls.append(d.contains("://") ? QUrl(d) : QUrl::fromLocalFile(d));
        QVERIFY(drop(to, urls));

        QCOMPARE(rows(), expectedRows);
        QVERIFY(playing(playedRow < 0 ? before : expectedRows.at(playedRow)));
        if (page) {
            QTest::qWait(200);
            QCOMPARE(page->url(), mapPage);
        }
    }

    // A language picked in the settings dialog relabels the dialog, the playlist menu,
    // the trip panel and the buttons while the dialog is still open.
    void languageChangeRelabelsAtOnce()
    {
        const auto texts = [this] {
            QStringList buttons, menu, panel;
            for (QPushButton *b :
                 window->findChildren<QPushButton *>(QString(), Qt::FindDirectChildrenOnly))
                buttons.append(b->text());
            for (QAction *a : window->playlist()->findChildren<QAction *>())
                menu.append(a->text());
            for (QLabel *l : window->tripPanel()->findChildren<QLabel *>())
                panel.append(l->text());
            return QVector<QStringList>{buttons, menu, panel};
        };
        const QVector<QStringList> english = texts();
        QVector<QStringList> german;
        QString dialogBefore, dialogAfter;
        QTimer::singleShot(0, this, [&] {
            QTRY_VERIFY(qobject_cast<OxSettingDialog *>(QApplication::activeModalWidget()));
            auto *dialog = qobject_cast<OxSettingDialog *>(QApplication::activeModalWidget());
            dialogBefore = dialog->languageLabel()->text();
            dialog->languageBox()->setCurrentIndex(dialog->languageKeys().indexOf("german"));
            german = texts();
            dialogAfter = dialog->languageLabel()->text();
            dialog->close();
        });
        window->settingsButton()->click();
        loadLanguage("english");
        QCOMPARE(german.size(), 3);
        QVERIFY(dialogAfter != dialogBefore);
        for (int group = 0; group < 3; ++group)
            QVERIFY2(german.at(group) != english.at(group), qPrintable(german.at(group).join('|')));
    }

    // A new map page or correction reopens the recording from its beginning.
    void mapChangeReopensFromTheStart_data()
    {
        QTest::addColumn<bool>("correction");
        QTest::newRow("map") << false;
        QTest::newRow("correction") << true;
    }
    void mapChangeReopensFromTheStart()
    {
        QFETCH(bool, correction);
        RecordingSpec recipe;
        recipe.width = 160;
        recipe.height = 120;
        recipe.seconds = 4;
        const QString longer = makeRecording(home->path(), "longer", recipe);
        window->openVideo(longer);
        QTRY_VERIFY_WITH_TIMEOUT(window->engine()->videoTime() > 1.0, kTimeout);
        if (correction)
            window->onGPSCorrectionChanged(1);
        else
            window->onMapChanged(1);
        QVERIFY(playing(longer));
        QVERIFY(window->engine()->videoTime() < 1.0);
    }

    // A path that is not a local regular file, in a playlist file found at start (from an
    // earlier run or someone else's card) and given on the command line: it is refused
    // with a notice, nothing blocks and nothing reaches the network, and exit is prompt.
    void hostilePaths_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("fifo") << "fifo";
        QTest::newRow("http url") << "http";
    }
    void hostilePaths()
    {
        QFETCH(QString, kind);
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        const QString path = kind == "fifo"
                                 ? home->path() + "/pipe.mp4"
                                 : QString("http://127.0.0.1:%1/x.mp4").arg(server.serverPort());
        if (kind == "fifo")
            QCOMPARE(mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        OxVideoInfo entry;
        entry.setVideoFile(path);
        QVERIFY(entry.save(OxFileUtils().playlistDir() + "/hostile.xml"));

        window = std::make_unique<MainWindow>();
        window->show();
        QCOMPARE(rows(), QStringList{path});
        auto *row = qobject_cast<OxVideoItemWidget *>(list()->itemWidget(list()->item(0)));
        QTRY_VERIFY(!row->videoInfo().videos[0].thumb.isEmpty()); // the probe is done with it
        window->openPaths({path});
        QVERIFY(window->noticeText().contains(path));
        QVERIFY(!window->engine()->isOpened());
        QVERIFY(window->playButton()->isEnabled());
        window.reset();
        QVERIFY(!server.waitForNewConnection(100));
        QFile::remove(path);
    }

    // A read that fails (a card pulled out) ends that recording with a notice naming it,
    // and nothing more: the next row does not play.
    void readErrorEndsTheRecording()
    {
        window->openPaths({drive});
        QVERIFY(playing(driveClips.at(0)));
        emit window->_playerPlaying(OxFFPlayer::ReportError, 0.5, 1.0, window->playbackId());
        QTRY_VERIFY(!window->engine()->isOpened());
        QTest::qWait(300);
        QVERIFY(!window->engine()->isOpened());
        QCOMPARE(window->currentVideoPath(), driveClips.at(0));
        QVERIFY(window->noticeText().contains(driveClips.at(0)));
    }

    // A full disk loses nothing that is shown, and the user is told what was not saved
    // where.
    void fullDisk_data()
    {
        QTest::addColumn<QString>("what");
        QTest::newRow("playlist") << "playlist";
        QTest::newRow("screenshot") << "screenshot";
    }
    void fullDisk()
    {
        QFETCH(QString, what);
        QString folder = QDir(OxFileUtils().playlistDir()).absolutePath();
        if (what == "screenshot") {
            folder = OxFileUtils().captureDir();
            window->openVideo(driveClips.at(0));
            QTRY_VERIFY(window->videoArea()->videoView->screenshot(home->path() + "/shown.jpg"));
        }
        {
            const FullDisk disk;
            if (what == "playlist")
                window->openPaths({other});
            else
                window->screenshotButton()->click();
        }
        if (what == "playlist")
            QCOMPARE(list()->count(), 2);
        QVERIFY2(window->noticeText().contains(QDir::toNativeSeparators(folder)),
                 qPrintable(window->noticeText()));
    }

    void dragWithoutUrlsRefused()
    {
        QMimeData data;
        data.setText("no urls");
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton,
                              Qt::NoModifier);
        QCoreApplication::sendEvent(window.get(), &enter);
        QVERIFY(!enter.isAccepted());
    }
};

QTEST_MAIN(tst_mainwindow_playlist)
#include "tst_mainwindow_playlist.moc"
