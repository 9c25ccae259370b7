// A drive in the finished window: a folder of real clips whose names carry their times
// and whose subtitle tracks carry GPS fixes, grouped in the playlist and played as one
// recording through the real engine (Xvfb, time zone UTC).

#include "configkeys.h"
#include "language.h"
#include "mainwindow.h"
#include "oxconfigure.h"
#include "oxffplayer.h"
#include "oxlistwidget.h"
#include "oxmapwidget.h"
#include "oxslider.h"
#include "oxvideoitemwidget.h"
#include "oxvideolistwidget.h"
#include "testhome.h"
#include "testrecordings.h"
#include "timelinestrip.h"
#include "videoinfoview.h"

#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QtTest>

#include <memory>

namespace {
constexpr int kTimeout = 30000;
}

class tst_mainwindow_drive : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        home = std::make_unique<TestHome>();
        QCoreApplication::setApplicationName(QStringLiteral("tst_mainwindow_drive"));
        setLanguageRoot(QStringLiteral(DASHCAM_RUNTIME_DIR "/language"));
        loadLanguage(QStringLiteral("english"));
        OxMapWidget::setPageRoot(QStringLiteral(DASHCAM_RUNTIME_DIR));
        const QString dir = home->path() + QStringLiteral("/card");
        QVERIFY(QDir().mkpath(dir));
        // Three clips of two seconds, one after the other, then a lone event clip an
        // hour later.
        RecordingSpec recipe = smallRecipe(2);
        recipe.audioCodec.clear();
        const QDateTime start(QDate(2026, 3, 14), QTime(8, 0), Qt::UTC);
        for (int k = 0; k < 3; ++k) {
            const QDateTime at = start.addSecs(2 * k);
            recipe.subtitles = nmeaDriveCues(at, 2, 31.2 + 0.01 * k, 121.4, 36, 0);
            clips << requireRecording(dir, at.toString(QStringLiteral("yyyyMMdd_HHmmss")), recipe);
        }
        recipe.subtitles.clear();
        lone = requireRecording(dir, QStringLiteral("20260314_090000_EV"), recipe);
        window = std::make_unique<MainWindow>();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        window->playlist()->addVideoDir(dir, false);
    }

    void cleanupTestCase() { window.reset(); }

    void drivePlaysAsOneRecording()
    {
        OxListWidget *list = window->playlist()->list();
        QCOMPARE(list->count(), 4);
        QTRY_VERIFY_WITH_TIMEOUT(list->rowWidget(0)->hasDriveHeader(), kTimeout);
        QTRY_VERIFY_WITH_TIMEOUT(list->rowWidget(3)->isEventClip(), kTimeout);
        for (int row = 1; row < 4; ++row)
            QVERIFY(!list->rowWidget(row)->hasDriveHeader());
        QVERIFY(list->rowWidget(0)->driveHeader().contains(QStringLiteral("3 clips")));
        QVERIFY(!list->rowWidget(0)->isEventClip());
        // The header follows the speed unit and the language at once.
        QVERIFY(OxConfigure().setIntValue(ConfigKey::Speed, SpeedUnit::Kmh));
        window->onSpeedUnitChanged(SpeedUnit::Kmh);
        QVERIFY(list->rowWidget(0)->driveHeader().contains(QStringLiteral(" km ")));
        window->onLanguageChanged(QStringLiteral("german"));
        QVERIFY(list->rowWidget(0)->driveHeader().contains(QStringLiteral("3 Clips")));
        window->onLanguageChanged(QStringLiteral("english"));

        doubleClickHeader();
        OxFFPlayer *engine = window->engine();
        QTRY_VERIFY_WITH_TIMEOUT(engine->videoTime() > 0.5, kTimeout);
        QCOMPARE(window->currentDrive().clips.size(), 3);
        QCOMPARE(label("lengthLabel")->text(), VideoInfoView::formatTime(6));
        const auto *slider = window->tripPanel()->findChild<OxSlider *>(QStringLiteral("slider"));
        QCOMPARE(slider->marks().size(), 2);
        QVERIFY(qAbs(slider->marks().at(0) - 1.0 / 3) < 0.02);
        QVERIFY(qAbs(slider->marks().at(1) - 2.0 / 3) < 0.02);
        QVERIFY(label("clockLabel")->isVisible());
        QVERIFY(label("clockLabel")->text().startsWith(QStringLiteral("08:00:0")));
        // The whole route, not the first clip's two fixes.
        QCOMPARE(window->map()->routeSize(), 6);
        QVERIFY(window->timelineStrip()->isVisible());

        // Into the second clip by playing, into the third by the slider.
        QTRY_COMPARE_WITH_TIMEOUT(engine->currentSource(), 1, kTimeout);
        QTRY_VERIFY_WITH_TIMEOUT(label("clockLabel")->text() >= QStringLiteral("08:00:02"),
                                 kTimeout);
        QTest::mouseClick(const_cast<OxSlider *>(slider), Qt::LeftButton, Qt::NoModifier,
                          QPoint(slider->width() * 9 / 10, slider->height() / 2));
        QTRY_COMPARE_WITH_TIMEOUT(engine->currentSource(), 2, kTimeout);
        QTRY_VERIFY_WITH_TIMEOUT(window->timelineStrip()->position() >= 4, kTimeout);

        // After the drive, the row after its last clip (not the clip after the first).
        QTRY_VERIFY_WITH_TIMEOUT(window->currentVideoPath() != clips.first(), kTimeout);
        QCOMPARE(window->currentVideoPath(), lone);
        QVERIFY(window->currentDrive().isEmpty());
        QVERIFY(!label("clockLabel")->isVisible());
    }

    // A clip gone from the middle is left out; the drive plays on to its end.
    void missingClipInTheMiddle()
    {
        QVERIFY(QFile::remove(clips.at(1)));
        doubleClickHeader();
        QCOMPARE(window->currentDrive().clips.size(), 3);
        QTRY_COMPARE_WITH_TIMEOUT(window->engine()->currentSource(), 2, kTimeout);
        QTRY_COMPARE_WITH_TIMEOUT(window->currentVideoPath(), lone, kTimeout);
        QVERIFY(window->playButton()->isEnabled());
    }

private:
    QLabel *label(const char *name) const
    {
        return window->tripPanel()->findChild<QLabel *>(QLatin1String(name));
    }
    void doubleClickHeader()
    {
        OxListWidget *list = window->playlist()->list();
        const QRect row = list->visualItemRect(list->item(0));
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, Qt::NoModifier,
                           row.topLeft() + QPoint(40, OxVideoItemWidget::kHeaderHeight / 2));
    }

    std::unique_ptr<TestHome> home;
    std::unique_ptr<MainWindow> window;
    QStringList clips;
    QString lone;
};

QTEST_MAIN(tst_mainwindow_drive)
#include "tst_mainwindow_drive.moc"
