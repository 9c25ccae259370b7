#include "recordingsink.h"
#include "testhome.h"
#include "testrecordings.h"

#include "oxaudio.h"
#include "oxffplayer.h"

#include <QAudioDeviceInfo>
#include <QtTest>

#include <memory>

// Run with PULSE_SERVER pointing nowhere: no sound server, so Qt finds no device.
class tst_playernosound : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestHome> home;

private slots:
    void initTestCase() { home = std::make_unique<TestHome>(); }

    void noDeviceMeansNoOutput()
    {
        QVERIFY(QAudioDeviceInfo::defaultOutputDevice().isNull());
        OxAudioOutput output;
        QCOMPARE(output.start(48000, AV_SAMPLE_FMT_S16, 2), -1);
        QVERIFY(!output.isStarted());
        const char bytes[4] = {};
        QCOMPARE(output.write(reinterpret_cast<const uint8_t *>(bytes), 4), -1);
    }

    void playsSilentlyAtThePictureRate()
    {
        const QString path =
            requireRecording(home->path(), QStringLiteral("silent"), smallRecipe(2));
        PlayerRig rig;
        auto &[sink, log, player] = rig;
        QCOMPARE(rig.open(path), 0);
        QVERIFY(!player.hasAudioOutput());
        QTRY_VERIFY_WITH_TIMEOUT(log.endType() != 0, 15000);
        QCOMPARE(log.endType(), int(OxFFPlayer::ReportEnd));
        const auto pictures = sink.snapshot();
        QCOMPARE(pictures.size(), 50);
        // Paced by the picture clock, not as fast as decoding goes (lower bound only).
        const double spanMs = (pictures.last().arrivalUs - pictures.first().arrivalUs) / 1000.0;
        QVERIFY2(spanMs > 49 * 40 * 0.9, qPrintable(QString::number(spanMs)));
        QCOMPARE(player.audioClock(), 0.0);
        player.stop();
    }
};

QTEST_GUILESS_MAIN(tst_playernosound)
#include "tst_playernosound.moc"
