// A camera's front and rear channels in the finished window: a card with "Front" and
// "Rear" folders of real clips (64 x 48 at 30 fps, 48 x 32 at 25 fps), the rear found,
// played beside the front, laid out, swapped and saved in a screenshot.

#include "configkeys.h"
#include "jtvideoview.h"
#include "language.h"
#include "mainwindow.h"
#include "oxconfigure.h"
#include "oxffplayer.h"
#include "oxlistwidget.h"
#include "oxmapwidget.h"
#include "oxvideoinfo.h"
#include "oxvideolistwidget.h"
#include "oxvideoview.h"
#include "pairedchannel.h"
#include "testhome.h"
#include "testrecordings.h"

#include <QDir>
#include <QImage>
#include <QPushButton>
#include <QtTest>

#include <memory>

namespace {
constexpr int kTimeout = 30000;
}

class tst_mainwindow_dual : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        home = std::make_unique<TestHome>();
        QCoreApplication::setApplicationName(QStringLiteral("tst_mainwindow_dual"));
        setLanguageRoot(QStringLiteral(DASHCAM_RUNTIME_DIR "/language"));
        loadLanguage(QStringLiteral("english"));
        OxMapWidget::setPageRoot(QStringLiteral(DASHCAM_RUNTIME_DIR));
        const QString card = home->path() + QStringLiteral("/card");
        front = requireRecording(card + "/Front", "20260314_080000", frontChannelRecipe(6));
        rear = requireRecording(card + "/Rear", "20260314_080000", rearChannelRecipe(6));
        QVERIFY(!front.isEmpty() && !rear.isEmpty());
        window = std::make_unique<MainWindow>();
        window->resize(1200, 800);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    }

    void cleanupTestCase()
    {
        // Closing while both play: the second engine stops before the views go.
        window->openVideo(front);
        QTRY_VERIFY_WITH_TIMEOUT(window->pairedChannel()->isActive(), kTimeout);
        window.reset();
    }

    void playlistEntryHoldsFrontThenRear()
    {
        window->playlist()->addVideoDir(QFileInfo(front).absolutePath(), false);
        QCOMPARE(window->playlist()->list()->count(), 1);
        const OxVideoInfo *entry = window->playlist()->list()->entry(0);
        QCOMPARE(entry->videos.size(), 2);
        QCOMPARE(QFileInfo(entry->videos[0].path).canonicalFilePath(),
                 QFileInfo(front).canonicalFilePath());
        QCOMPARE(QFileInfo(entry->videos[1].path).canonicalFilePath(),
                 QFileInfo(rear).canonicalFilePath());
    }

    // Through the layouts with V from a fresh configuration: where each picture is, the
    // swap by a click on the small one, the stored setting, the screenshot's size.
    void layoutsSwapAndScreenshot()
    {
        window->openVideo(front);
        PairedChannel *paired = window->pairedChannel();
        QTRY_VERIFY_WITH_TIMEOUT(paired->isActive(), kTimeout);
        QCOMPARE(paired->layout(), int(ChannelLayout::PictureInPicture));
        JtVideoView *area = window->videoArea();
        QTRY_VERIFY_WITH_TIMEOUT(paired->follower()->videoTime() > 0.3, kTimeout);
        window->playButton()->click(); // paused: the pictures stay for the screenshots

        // Picture in picture: the rear small in the top right corner, a quarter of the
        // width, its 3:2 aspect kept (once its first picture has told its size).
        const auto threeByTwo = [](const QRect &r) {
            return !r.isEmpty() && qAbs(r.width() * 2 - r.height() * 3) <= 3;
        };
        QTRY_VERIFY(threeByTwo(area->pairedViewRect()));
        QRect small = area->pairedViewRect();
        QCOMPARE(area->videoViewRect().size(), area->videoView->size());
        QVERIFY(qAbs(small.width() - area->videoViewRect().width() / 4) <= 1);
        QVERIFY(small.right() > area->width() * 9 / 10 && small.top() < area->height() / 10);
        const QString shot = home->path() + QStringLiteral("/pip.jpg");
        QVERIFY(paired->screenshot(shot));
        // At the front's full size; wider where the small picture lies beside it.
        QCOMPARE(QImage(shot).height(), 48);
        QVERIFY(QImage(shot).width() >= 64);

        // A click on the small picture swaps: the rear large, the front small.
        QTest::mouseClick(area->windowHandle() ? area->windowHandle() : window->windowHandle(),
                          Qt::LeftButton, Qt::NoModifier,
                          area->mapTo(window.get(), small.center()));
        QTRY_VERIFY_WITH_TIMEOUT(paired->isSwapped(), 5000);
        QTRY_COMPARE(area->pairedViewRect().width(), area->width());
        QVERIFY(area->videoViewRect().width() < area->width() / 3);
        paired->swap();

        // V: side by side, stored at once; the halves side by side at the front's scale.
        QTest::keyClick(window.get(), Qt::Key_V);
        QCOMPARE(paired->layout(), int(ChannelLayout::SideBySide));
        QCOMPARE(OxConfigure().intValue(ConfigKey::ChannelLayout, -1),
                 int(ChannelLayout::SideBySide));
        QTRY_COMPARE(area->pairedViewRect().left(), area->width() / 2);
        QCOMPARE(area->videoViewRect().width(), area->width() / 2);
        const QString side = home->path() + QStringLiteral("/side.jpg");
        QVERIFY(paired->screenshot(side));
        QCOMPARE(QImage(side).height(), 48);
        QVERIFY(QImage(side).width() >= 128);

        // V: one channel; V: back to picture in picture.
        QTest::keyClick(window.get(), Qt::Key_V);
        QCOMPARE(OxConfigure().intValue(ConfigKey::ChannelLayout, -1),
                 int(ChannelLayout::OneChannel));
        QTRY_VERIFY(area->pairedViewRect().isEmpty());
        QCOMPARE(area->videoViewRect().width(), area->width());
        QTest::keyClick(window.get(), Qt::Key_V);
        QCOMPARE(paired->layout(), int(ChannelLayout::PictureInPicture));

        // Stop stops the second engine too.
        window->stopButton()->click();
        QVERIFY(!paired->follower()->anyThreadRunning());
        QVERIFY(area->pairedViewRect().isEmpty());
    }

private:
    std::unique_ptr<TestHome> home;
    std::unique_ptr<MainWindow> window;
    QString front;
    QString rear;
};

QTEST_MAIN(tst_mainwindow_dual)
#include "tst_mainwindow_dual.moc"
