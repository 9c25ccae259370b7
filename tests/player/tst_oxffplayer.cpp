#include "recordingsink.h"
#include "soundserver.h"
#include "testhome.h"
#include "testrecordings.h"

#include "ffmpeg_ptr.h"
#include "oxffplayer.h"
#include "oxmediadata.h"

#include <QDir>
#include <QProcess>
#include <QRandomGenerator>
#include <QtTest>

#include <array>
#include <cmath>
#include <memory>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
}

namespace {

int threadCount()
{
    return QDir(QStringLiteral("/proc/self/task"))
        .entryList(QDir::Dirs | QDir::NoDotAndDotDot)
        .size();
}

} // namespace

class tst_oxffplayer : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestHome> home;
    QString clips; // the test recordings

    // A drive of 25 fps clips told apart by their widths: 3 s of 64 pixels at 0, then each
    // middle source ("clip", "silent", "missing", "garbage") 2 s of 80 pixels cut at
    // 0.4 s by clipIn, then 2 s of 96 pixels with sound at lastRate (mono below 48 kHz).
    std::vector<OxPlaySource> drive(const QStringList &middle, int lastRate = 48000);
    // Three clips of 10 s back to back: 64 pixels wide at 0, 80 at 10 and 96 at 20; a key
    // picture every second.
    std::vector<OxPlaySource> longDrive();

private slots:
    void initTestCase()
    {
        keepSoundServer();
        home = std::make_unique<TestHome>();
        clips = home->path() + QStringLiteral("/clips");
    }

    void playsEveryPictureInOrderThenReportsEnd_data();
    void playsEveryPictureInOrderThenReportsEnd();
    void frameCacheFollowsGopAndBoundsTheQueue_data();
    void frameCacheFollowsGopAndBoundsTheQueue();
    void intervalFromFrameRate_data();
    void intervalFromFrameRate();
    void seekWhilePausedResumesAtKeyFrame();
    void seekOutsideTheRecordingIsIgnored();
    void seekAfterReadingEndedPlaysFromTheTarget_data();
    void seekAfterReadingEndedPlaysFromTheTarget();
    void badFilesLeaveThePlayerClosed();
    void damagedFilePlaysWhatItCanAndReports();
    void soundFollowsThePicture();
    void staysOnTheClockWhenPicturesComeLate_data();
    void staysOnTheClockWhenPicturesComeLate();
    void toYUV420PPacksAnyLayout_data();
    void toYUV420PPacksAnyLayout();
    void randomCommandsLeaveNothingRunning();
    void playsASequenceOnOneTimeline_data();
    void playsASequenceOnOneTimeline();
    void seekLandsInTheRightSource_data();
    void seekLandsInTheRightSource();
    void soundStartsWithTheFirstPicture();
    void rateAndFrameStep_data();
    void rateAndFrameStep();
};

std::vector<OxPlaySource> tst_oxffplayer::drive(const QStringList &middle, int lastRate)
{
    auto clip = [&](int width, double seconds, int rate) {
        RecordingSpec recipe = smallRecipe(seconds, width, 48);
        recipe.audioCodec = rate ? QStringLiteral("aac") : QString();
        recipe.sampleRate = rate;
        recipe.channels = rate < 48000 ? 1 : 2;
        const QString name = QStringLiteral("drive%1_%2").arg(width).arg(rate);
        return requireRecording(clips, name, recipe).toUtf8();
    };
    std::vector<OxPlaySource> sources{{clip(64, 3, 48000), 0, -1, 0}};
    for (const QString &kind : middle + QStringList{"last"}) {
        const double start = sources.back().timelineStart + (sources.size() == 1 ? 3 : 1.6);
        const QString other = clips + QStringLiteral("/drive_%1.mp4").arg(kind);
        if (kind == QLatin1String("garbage"))
            makeGarbage(other, 64 * 1024);
        if (kind == QLatin1String("last"))
            sources.push_back({clip(96, 2, lastRate), 0, -1, start});
        else if (kind == QLatin1String("clip") || kind == QLatin1String("silent"))
            sources.push_back(
                {clip(80, 2, kind == QLatin1String("clip") ? 48000 : 0), 0.4, -1, start});
        else
            sources.push_back({other.toUtf8(), 0.4, -1, start});
    }
    return sources;
}

std::vector<OxPlaySource> tst_oxffplayer::longDrive()
{
    std::vector<OxPlaySource> sources;
    for (int i = 0; i < 3; ++i) {
        const int width = 64 + 16 * i;
        const QString name = QStringLiteral("long%1").arg(width);
        sources.push_back(
            {requireRecording(clips, name, smallRecipe(10, width, 48)).toUtf8(), 0, -1, 10.0 * i});
    }
    return sources;
}

void tst_oxffplayer::playsEveryPictureInOrderThenReportsEnd_data()
{
    QTest::addColumn<QString>("container");
    QTest::addColumn<QString>("codec");
    QTest::addColumn<int>("bFrames");
    QTest::addColumn<QString>("audio");
    // B-frames and frame threads make the decoder hold pictures back: only a drain at the
    // end of the file gets the last ones out.
    QTest::newRow("mp4 h264 b-frames aac") << "mp4"
                                           << "h264" << 2 << "aac";
    QTest::newRow("mkv h264 no sound") << "mkv"
                                       << "h264" << 0 << "";
    QTest::newRow("avi mpeg4 pcm") << "avi"
                                   << "mpeg4" << 0 << "pcm_s16le";
    QTest::newRow("mov h264 b-frames aac") << "mov"
                                           << "h264" << 3 << "aac";
}

void tst_oxffplayer::playsEveryPictureInOrderThenReportsEnd()
{
    QFETCH(QString, container);
    QFETCH(QString, codec);
    QFETCH(int, bFrames);
    QFETCH(QString, audio);
    RecordingSpec recipe = smallRecipe(2, 96, 64);
    recipe.container = container;
    recipe.videoCodec = codec;
    recipe.bFrames = bFrames;
    recipe.audioCodec = audio;
    const QString path =
        requireRecording(clips, QStringLiteral("order_%1_%2").arg(container, codec), recipe);

    PlayerRig rig;
    auto &[sink, log, player] = rig;
    QCOMPARE(rig.open(path), 0);
    QVERIFY(player.isOpened());
    QVERIFY(player.isPlaying());
    QTRY_VERIFY_WITH_TIMEOUT(log.endType() != 0, 15000);

    // Every picture is drawn, or dropped because a busy machine made it late; each one
    // drawn is the picture of its time, in order, and the last one always comes.
    const auto pictures = sink.snapshot();
    QCOMPARE(pictures.size() + player.droppedPictures() + player.skippedPictures(), qint64(50));
    for (int i = 0; i < pictures.size(); ++i) {
        const int number = qRound(pictures[i].time * 25);
        QCOMPARE(frameNumberFromLuma(pictures[i].luma), number % kLumaCycle);
        QVERIFY2(qAbs(pictures[i].time - number / 25.0) < 0.002, qPrintable(QString::number(i)));
        QVERIFY(i == 0 || pictures[i].time > pictures[i - 1].time);
        QCOMPARE(pictures[i].width, 96);
    }
    QCOMPARE(qRound(pictures.last().time * 25), 49);
    const auto reports = log.snapshot();
    QCOMPARE(reports.size(), pictures.size() + 1);
    for (int i = 0; i < pictures.size(); ++i)
        QCOMPARE(reports[i].type, int(OxFFPlayer::ReportPicture));
    QCOMPARE(reports.last().type, int(OxFFPlayer::ReportEnd));
    QCOMPARE(reports.last().picturesBefore, pictures.size());
    QCOMPARE(reports.last().current, pictures.last().time);
    QVERIFY(qAbs(reports.last().duration - 2.0) < 0.05);

    // Drained: the workers are still there until the owner stops.
    QVERIFY(player.isOpened());
    player.stop();
    QVERIFY(!player.isOpened());
    QVERIFY(!player.isPlaying());
    QCOMPARE(player.duration(), 0.0);
}

void tst_oxffplayer::frameCacheFollowsGopAndBoundsTheQueue_data()
{
    QTest::addColumn<int>("gop");
    QTest::addColumn<int>("frameCache");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::newRow("gop 12") << 12 << 30 << 64 << 48;
    QTest::newRow("gop 25") << 25 << 50 << 64 << 48;
    QTest::newRow("gop 45") << 45 << 60 << 64 << 48;
    // Pictures this large fill the queue's bytes long before its count.
    QTest::newRow("gop 25, 2160p") << 25 << 50 << 3840 << 2160;
}

void tst_oxffplayer::frameCacheFollowsGopAndBoundsTheQueue()
{
    QFETCH(int, gop);
    QFETCH(int, frameCache);
    QFETCH(int, width);
    QFETCH(int, height);
    QCOMPARE(OxFFPlayer::frameCacheForGop(gop), frameCache);

    // A second of large pictures is more than the queue holds, and quick to make.
    RecordingSpec recipe = smallRecipe(height > 1000 ? 1 : 4, width, height);
    recipe.gop = gop;
    recipe.bFrames = 2;
    const QString path =
        requireRecording(clips, QStringLiteral("gop%1_%2").arg(gop).arg(height), recipe);
    const qint64 pictureBytes = qint64(width) * height * 3 / 2;
    if ((frameCache + 1) * pictureBytes < OxFFPlayer::kPictureQueueBytes) {
        // Within the byte bound the limit is the gop's.
        QCOMPARE(OxFFPlayer::frameCacheFor(gop, width, height), frameCache);
    }

    PlayerRig rig;
    OxFFPlayer &player = rig.player;
    QCOMPARE(rig.open(path), 0);
    player.pause();
    frameCache = player.frameCacheLimit();
    QVERIFY(frameCache >= OxFFPlayer::kMinQueuedPictures);
    // Only the floor of pictures may go past the bound (a 2160p picture is 12 MB).
    const qint64 bound = std::max(OxFFPlayer::kPictureQueueBytes,
                                  (OxFFPlayer::kMinQueuedPictures + 1) * pictureBytes);
    QVERIFY2((frameCache + 1) * pictureBytes <= bound, qPrintable(QString::number(frameCache)));
    // Paused, the decode thread fills the queue up to its limit and no further.
    qint64 largest = 0;
    QElapsedTimer timer;
    timer.start();
    qint64 full = -1; // when the limit was reached; watched for 600 ms more
    while (timer.elapsed() < (full < 0 ? 20000 : full + 600)) {
        largest = qMax(largest, player.queuedPictures());
        if (full < 0 && largest >= frameCache)
            full = timer.elapsed();
        QTest::qWait(1);
    }
    QVERIFY2(largest >= frameCache, qPrintable(QString::number(largest)));
    QVERIFY2(largest <= frameCache + 1, qPrintable(QString::number(largest)));
    QVERIFY(player.isOpened());
    QVERIFY(!player.isPlaying());
    player.stop();
}

void tst_oxffplayer::intervalFromFrameRate_data()
{
    QTest::addColumn<int>("num");
    QTest::addColumn<int>("den");
    QTest::addColumn<qint64>("interval");
    QTest::newRow("30000/1001") << 30000 << 1001 << qint64(33366);
    QTest::newRow("25/1") << 25 << 1 << qint64(40000);
    QTest::newRow("0/0 unknown") << 0 << 0 << qint64(33000);
    QTest::newRow("30/0 unknown") << 30 << 0 << qint64(33000);
}

void tst_oxffplayer::intervalFromFrameRate()
{
    QFETCH(int, num);
    QFETCH(int, den);
    QFETCH(qint64, interval);
    QCOMPARE(OxFFPlayer::intervalFor(num, den), interval);
    if (num == 0 || den == 0)
        return;
    RecordingSpec recipe = smallRecipe(0.5);
    recipe.fpsNum = num;
    recipe.fpsDen = den;
    recipe.audioCodec.clear();
    const QString path =
        requireRecording(clips, QStringLiteral("rate%1_%2").arg(num).arg(den), recipe);
    OxFFPlayer player;
    QCOMPARE(player.open(path.toUtf8().constData()), 0);
    QCOMPARE(player.frameInterval(), interval);
    player.stop();
}

void tst_oxffplayer::seekWhilePausedResumesAtKeyFrame()
{
    const QString path = requireRecording(clips, QStringLiteral("seek"), smallRecipe(4));

    PlayerRig rig;
    auto &[sink, log, player] = rig;
    QCOMPARE(rig.open(path), 0);
    QTRY_VERIFY(sink.count() >= 3);
    player.pause();
    const int before = sink.count();
    player.requestSeek(2.5);
    QVERIFY(player.isOpened());
    // Carried out by the still-running decode thread; the clocks hold the target.
    QTRY_COMPARE(player.videoTime(), 2.5);
    QCOMPARE(player.audioClock(), 2.5);
    QTRY_VERIFY(player.queuedPictures() > 0);
    QCOMPARE(sink.count(), before);
    player.resume();
    QTRY_VERIFY(sink.count() > before + 5);
    const auto pictures = sink.snapshot();
    QCOMPARE(pictures[before].time, 2.0);
    QCOMPARE(frameNumberFromLuma(pictures[before].luma), 50 % kLumaCycle);
    for (int i = before + 1; i < pictures.size(); ++i)
        QVERIFY(pictures[i].time > pictures[i - 1].time);
    player.stop();
}

void tst_oxffplayer::seekOutsideTheRecordingIsIgnored()
{
    const QString path = requireRecording(clips, QStringLiteral("seekout"), smallRecipe(3));

    PlayerRig rig;
    auto &[sink, log, player] = rig;
    QCOMPARE(rig.open(path), 0);
    QTRY_VERIFY(sink.count() >= 5);
    player.requestSeek(player.duration() + 5);
    player.requestSeek(-1);
    QTRY_VERIFY_WITH_TIMEOUT(log.endType() != 0, 15000);
    // Nothing was cleared: every picture came, in order.
    const auto pictures = sink.snapshot();
    QCOMPARE(pictures.size(), 75);
    for (int i = 1; i < pictures.size(); ++i)
        QVERIFY(pictures[i].time > pictures[i - 1].time);
    QCOMPARE(log.endType(), int(OxFFPlayer::ReportEnd));
    player.stop();
}

// The decode thread runs up to two seconds ahead of the picture, so it has read the whole
// file while the last pictures are still to come; a seek then must still be carried out,
// whether playing or paused, and the end report must wait for the pictures after it.
void tst_oxffplayer::seekAfterReadingEndedPlaysFromTheTarget_data()
{
    QTest::addColumn<bool>("paused");
    QTest::addColumn<double>("target");
    QTest::addColumn<bool>("restarts");
    QTest::newRow("playing") << false << 0.5 << true;
    QTest::newRow("paused, then resumed") << true << 1.5 << true;
    QTest::newRow("outside the recording") << false << 10.0 << false;
}

void tst_oxffplayer::seekAfterReadingEndedPlaysFromTheTarget()
{
    QFETCH(bool, paused);
    QFETCH(double, target);
    QFETCH(bool, restarts);
    // 75 pictures; the queue holds 50 of them, so reading ends while 25 are still shown.
    const QString path = requireRecording(clips, QStringLiteral("seekend"), smallRecipe(3));
    PlayerRig rig;
    auto &[sink, log, player] = rig;
    QCOMPARE(rig.open(path), 0);
    QTRY_VERIFY_WITH_TIMEOUT(sink.count() >= 55, 10000);
    QCOMPARE(log.endType(), 0);
    if (paused)
        player.pause();
    const int before = sink.count();
    player.requestSeek(target);
    if (paused)
        player.resume();
    QTRY_VERIFY_WITH_TIMEOUT(log.endType() != 0, 15000);
    QCOMPARE(log.endType(), int(OxFFPlayer::ReportEnd));

    const auto pictures = sink.snapshot();
    // Where the pictures went back in time, if they did.
    int back = -1;
    for (int i = before; i < pictures.size(); ++i) {
        if (pictures[i].time < pictures[i - 1].time)
            back = i;
    }
    if (!restarts) {
        QCOMPARE(back, -1);
        QCOMPARE(pictures.size(), 75);
    } else {
        QVERIFY2(back >= before, "the seek was not carried out");
        // From the key frame at or before the target, then every picture to the end.
        QCOMPARE(pictures[back].time, std::floor(target));
        const int fromKey = 25 * int(std::floor(target));
        QCOMPARE(pictures.size() - back, 75 - fromKey);
        QCOMPARE(frameNumberFromLuma(pictures[back].luma), fromKey % kLumaCycle);
    }
    // The end report came after the last picture.
    QCOMPARE(log.snapshot().last().picturesBefore, pictures.size());
    QCOMPARE(log.snapshot().last().current, pictures.last().time);
    player.stop();
}

void tst_oxffplayer::badFilesLeaveThePlayerClosed()
{
    const QString dir = home->path() + QStringLiteral("/bad");
    QDir().mkpath(dir);
    RecordingSpec soundOnly;
    soundOnly.videoCodec.clear();
    soundOnly.container = QStringLiteral("mp4");
    const QStringList paths = {
        makeGarbage(dir + QStringLiteral("/garbage.mp4"), 64 * 1024),
        makeEmpty(dir + QStringLiteral("/empty.mp4")),
        dir + QStringLiteral("/missing.mp4"),
        requireRecording(clips, QStringLiteral("soundonly"), soundOnly),
    };
    const int baseline = threadCount();
    for (const QString &path : paths) {
        PlayerRig rig;
        auto &[sink, log, player] = rig;
        QVERIFY2(rig.open(path) < 0, qPrintable(path));
        QVERIFY(!player.isOpened());
        QVERIFY(!player.isPlaying());
        QVERIFY(!player.anyThreadRunning());
        QCOMPARE(player.duration(), 0.0);
        // Commands on a closed player do nothing.
        player.requestSeek(1);
        player.resume();
        player.pause();
        QVERIFY(!player.isPlaying());
        player.stop();
        QCOMPARE(sink.count(), 0);
        QVERIFY(log.snapshot().isEmpty());
    }
    // The OS thread ends just after QThread reports it finished.
    QTRY_COMPARE_WITH_TIMEOUT(threadCount(), baseline, 2000);
}

void tst_oxffplayer::damagedFilePlaysWhatItCanAndReports()
{
    RecordingSpec recipe = smallRecipe(3);
    recipe.container = QStringLiteral("mkv");
    const QString whole = requireRecording(clips, QStringLiteral("whole"), recipe);
    const QString cut = makeTruncated(whole, home->path() + QStringLiteral("/clips/cut.mkv"));
    QVERIFY(!cut.isEmpty());

    PlayerRig rig;
    auto &[sink, log, player] = rig;
    QCOMPARE(rig.open(cut), 0);
    QTRY_VERIFY_WITH_TIMEOUT(log.endType() != 0, 15000);
    const auto pictures = sink.snapshot();
    QVERIFY(pictures.size() > 10);
    QVERIFY(pictures.size() < 75);
    for (int i = 0; i < pictures.size(); ++i)
        QCOMPARE(frameNumberFromLuma(pictures[i].luma), i % kLumaCycle);
    QCOMPARE(log.snapshot().last().picturesBefore, pictures.size());
    player.stop();
}

void tst_oxffplayer::soundFollowsThePicture()
{
    const QString path = requireRecording(clips, QStringLiteral("sound"), smallRecipe(6));

    PlayerRig rig;
    auto &[sink, log, player] = rig;
    QCOMPARE(rig.open(path), 0);
    if (!player.hasAudioOutput()) {
        player.stop();
        QSKIP("no sound device here (the test services start a null sink)");
    }
    double ahead = 0;
    double behind = 0;
    while (log.endType() == 0) {
        const double offset = player.audioClock() - player.videoTime();
        ahead = qMax(ahead, offset);
        if (player.videoTime() > 4.0)
            behind = qMax(behind, -offset);
        QTest::qWait(2);
    }
    // Sound is written only once the picture has reached its time, so it is never more
    // than a chunk and a picture ahead.
    QVERIFY2(ahead < 0.07, qPrintable(QString::number(ahead)));
    // The null sink holds a new stream back for up to about two seconds before it plays;
    // that stall must not leave the sound behind for good: once the device runs, the
    // sound trails by no more than the device's buffer and a chunk.
    QVERIFY2(behind < 0.6, qPrintable(QString::number(behind)));
    QTRY_VERIFY_WITH_TIMEOUT(player.audioClock() > 5.0, 5000);
    QCOMPARE(sink.count(), 150);
    player.stop();
}

void tst_oxffplayer::staysOnTheClockWhenPicturesComeLate_data()
{
    // The sink's delay in frame intervals of the recording (25 pictures a second).
    QTest::addColumn<double>("sinkIntervals");
    QTest::addColumn<bool>("drops");
    QTest::newRow("fast sink") << 0.0 << false;
    QTest::newRow("sink half again slower than the pictures") << 1.5 << true;
    QTest::newRow("sink three times slower") << 3.0 << true;
}

void tst_oxffplayer::staysOnTheClockWhenPicturesComeLate()
{
    QFETCH(double, sinkIntervals);
    QFETCH(bool, drops);
    RecordingSpec recipe = smallRecipe(5, 160, 120);
    recipe.bFrames = 2; // pictures that nothing refers to, for the decoder to skip
    const QString path = requireRecording(clips, QStringLiteral("late"), recipe);
    const qint64 interval = OxFFPlayer::intervalFor(recipe.fpsNum, recipe.fpsDen);

    PlayerRig rig(int(sinkIntervals * interval));
    auto &[sink, log, player] = rig;
    QElapsedTimer wall;
    wall.start();
    QCOMPARE(rig.open(path), 0);
    const bool sound = player.hasAudioOutput();
    // Sound moves on: the longest time its clock stood still once the sound server has
    // let the new stream start (it holds one back for up to two seconds).
    double lastAudio = -1;
    qint64 lastAudioChange = 0;
    qint64 longestStill = 0;
    while (log.endType() == 0 && wall.elapsed() < 15000) {
        const double audio = player.audioClock();
        if (audio != lastAudio) {
            if (lastAudio > 2.5)
                longestStill = qMax(longestStill, wall.elapsed() - lastAudioChange);
            lastAudio = audio;
            lastAudioChange = wall.elapsed();
        }
        QTest::qWait(2);
    }
    QCOMPARE(log.endType(), int(OxFFPlayer::ReportEnd));

    // The pictures that were drawn kept up with wall time, whatever the sink cost.
    const auto pictures = sink.snapshot();
    QVERIFY(pictures.size() > 10);
    for (int i = 1; i < pictures.size(); ++i) {
        QVERIFY(pictures[i].time > pictures[i - 1].time);
        const double behindUs = double(pictures[i].arrivalUs - pictures[0].arrivalUs) -
                                (pictures[i].time - pictures[0].time) * 1e6;
        QVERIFY2(behindUs < 3 * interval && behindUs > -2 * interval,
                 qPrintable(QStringLiteral("picture %1 at %2 s: %3 us behind")
                                .arg(i)
                                .arg(pictures[i].time)
                                .arg(behindUs)));
    }
    // Every picture is either drawn, dropped or skipped.
    const int total = int(recipe.seconds * recipe.fpsNum);
    QCOMPARE(pictures.size() + player.droppedPictures() + player.skippedPictures(), qint64(total));
    if (drops) {
        QVERIFY(player.droppedPictures() > 0);
    } else {
        QCOMPARE(player.droppedPictures(), qint64(0));
        QCOMPARE(player.skippedPictures(), qint64(0));
        QCOMPARE(pictures.size(), total);
    }
    if (sound) {
        QVERIFY2(longestStill < 250, qPrintable(QString::number(longestStill)));
        QVERIFY2(lastAudio > recipe.seconds - 0.5, qPrintable(QString::number(lastAudio)));
    }
    player.stop();
}

void tst_oxffplayer::toYUV420PPacksAnyLayout_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    // Planar sources get a different value in each plane, so swapped or repeated planes
    // show. The packed RGB source is mid grey, the one colour whose Y, U and V do not
    // hang on the conversion's matrix.
    QTest::addColumn<QList<int>>("yuv");
    QTest::newRow("yuv420p padded rows")
        << int(AV_PIX_FMT_YUV420P) << 100 << 60 << QList<int>{0x50, 0x90, 0x30};
    QTest::newRow("yuv420p odd size")
        << int(AV_PIX_FMT_YUV420P) << 41 << 31 << QList<int>{0x20, 0xc0, 0x60};
    QTest::newRow("rgb24 odd size")
        << int(AV_PIX_FMT_RGB24) << 41 << 31 << QList<int>{0x80, 0x80, 0x80};
    QTest::newRow("yuv422p") << int(AV_PIX_FMT_YUV422P) << 64 << 48 << QList<int>{0x70, 0x40, 0xb0};
    // Rows exactly as wide as the picture: queued by reference, not copied.
    QTest::newRow("yuv420p packed rows")
        << int(AV_PIX_FMT_YUV420P) << 128 << 64 << QList<int>{0x40, 0x70, 0xa0};
}

void tst_oxffplayer::toYUV420PPacksAnyLayout()
{
    QFETCH(int, format);
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(QList<int>, yuv);
    AVFramePtr frame = makeFrame();
    frame->format = format;
    frame->width = width;
    frame->height = height;
    QVERIFY(av_frame_get_buffer(frame.get(), 64) >= 0);
    // Each plane flat, including the padding, which must not leak through. (One buffer
    // may hold all planes: each is filled through its own rows.)
    const AVPixFmtDescriptor *desc = av_pix_fmt_desc_get(AVPixelFormat(format));
    for (int p = 0; p < 3 && frame->data[p]; ++p) {
        const int rows = p == 0 ? height : AV_CEIL_RSHIFT(height, desc->log2_chroma_h);
        memset(frame->data[p], format == AV_PIX_FMT_RGB24 ? 0x80 : yuv.at(p),
               size_t(frame->linesize[p]) * rows);
    }
    for (int row = 0; row < height && format == AV_PIX_FMT_YUV420P; ++row)
        memset(frame->data[0] + row * frame->linesize[0] + width, 0xff, frame->linesize[0] - width);

    std::unique_ptr<OxYUV420P> picture(OxFFPlayer::toYUV420P(frame.get()));
    QVERIFY(picture);
    // The decoder lets go of its frame and fills new ones: the picture keeps its own.
    frame.reset();
    std::vector<AVFramePtr> others;
    for (int i = 0; i < 4; ++i) {
        others.push_back(makeFrame());
        others.back()->format = format;
        others.back()->width = width;
        others.back()->height = height;
        QVERIFY(av_frame_get_buffer(others.back().get(), 64) >= 0);
        for (int p = 0; p < 3 && others.back()->data[p]; ++p)
            memset(others.back()->data[p], 0xee, size_t(others.back()->linesize[p]) * (height / 2));
    }
    QCOMPARE(picture->width, width);
    QCOMPARE(picture->height, height);
    for (int i = 0; i < width * height; ++i)
        QVERIFY2(qAbs(picture->y[i] - yuv.at(0)) <= 3, qPrintable(QString::number(i)));
    for (int i = 0; i < (width / 2) * (height / 2); ++i) {
        QVERIFY2(qAbs(picture->u[i] - yuv.at(1)) <= 2, qPrintable(QString::number(i)));
        QVERIFY2(qAbs(picture->v[i] - yuv.at(2)) <= 2, qPrintable(QString::number(i)));
    }
}

void tst_oxffplayer::randomCommandsLeaveNothingRunning()
{
    RecordingSpec recipe = smallRecipe(3, 96, 64);
    recipe.bFrames = 2;
    const QString path = requireRecording(clips, QStringLiteral("random"), recipe);
    const QByteArray utf8 = path.toUtf8();

    PlayerRig rig;
    auto &[sink, log, player] = rig;
    // Warm up once so that threads the libraries keep for the process are counted.
    QCOMPARE(player.open(utf8.constData()), 0);
    QTRY_VERIFY(sink.count() > 0);
    player.stop();
    const int baseline = threadCount();

    QRandomGenerator random(20240307);
    for (int i = 0; i < 200; ++i) {
        switch (random.bounded(6)) {
        case 0:
            player.stop();
            QVERIFY(!player.isOpened());
            QVERIFY(!player.anyThreadRunning());
            // The OS thread ends just after QThread reports it finished.
            QTRY_COMPARE_WITH_TIMEOUT(threadCount(), baseline, 2000);
            QCOMPARE(player.open(utf8.constData()), 0);
            break;
        case 1:
            player.requestSeek(random.bounded(3.0));
            break;
        case 2:
            player.pause();
            QVERIFY(!player.isPlaying());
            break;
        case 3:
            player.resume();
            break;
        case 4:
            player.stop();
            QVERIFY(!player.isOpened());
            QVERIFY(!player.anyThreadRunning());
            QTRY_COMPARE_WITH_TIMEOUT(threadCount(), baseline, 2000);
            break;
        default:
            if (player.isOpened() && !player.isPlaying())
                player.resume();
            break;
        }
        QTest::qWait(int(random.bounded(15)));
    }
    player.stop();
    QVERIFY(!player.anyThreadRunning());
    QTRY_COMPARE_WITH_TIMEOUT(threadCount(), baseline, 2000);
    // Still playable afterwards, from the start to the end.
    log.clear();
    QCOMPARE(player.open(utf8.constData()), 0);
    QTRY_VERIFY_WITH_TIMEOUT(log.endType() == OxFFPlayer::ReportEnd, 15000);
    player.stop();
}

void tst_oxffplayer::playsASequenceOnOneTimeline_data()
{
    QTest::addColumn<QStringList>("middle");
    QTest::addColumn<int>("lastRate");
    QTest::addColumn<bool>("soundThroughout");
    QTest::newRow("overlap cut by clipIn") << QStringList{"clip"} << 48000 << true;
    QTest::newRow("silent clip, then mono at 22.05 kHz") << QStringList{"silent"} << 22050 << false;
    QTest::newRow("missing and garbage skipped")
        << QStringList{"missing", "garbage"} << 48000 << true;
}

// Every picture of every clip that opens, from its clipIn on, once, in order, on the
// timeline; the sound goes on across the boundaries.
void tst_oxffplayer::playsASequenceOnOneTimeline()
{
    QFETCH(QStringList, middle);
    QFETCH(int, lastRate);
    QFETCH(bool, soundThroughout);
    const std::vector<OxPlaySource> sources = drive(middle, lastRate);
    QVector<std::array<double, 3>> expected; // time, width, frame number
    for (const OxPlaySource &source : sources) {
        const int width = QFileInfo(QString::fromUtf8(source.path)).baseName().mid(5, 2).toInt();
        for (int n = qRound(source.clipIn * 25); width && n < (width == 64 ? 75 : 50); ++n)
            expected.append(
                {source.timelineStart + n / 25.0 - source.clipIn, double(width), double(n)});
    }
    PlayerRig rig;
    auto &[sink, log, player] = rig;
    QElapsedTimer wall;
    wall.start();
    QCOMPARE(player.openSequence(sources), 0);
    double lastAudio = -1;
    qint64 lastAudioChange = 0;
    qint64 longestStill = 0;
    while (log.endType() == 0 && wall.elapsed() < 30000) {
        if (const double audio = player.audioClock(); audio != lastAudio) {
            if (lastAudio > 2.5)
                longestStill = qMax(longestStill, wall.elapsed() - lastAudioChange);
            lastAudio = audio;
            lastAudioChange = wall.elapsed();
        }
        QTest::qWait(2);
    }
    QCOMPARE(log.endType(), int(OxFFPlayer::ReportEnd));
    // In order, each once; a loaded machine may leave out a late picture, and says so.
    const auto pictures = sink.snapshot();
    QCOMPARE(pictures.size() + player.droppedPictures() + player.skippedPictures(),
             qint64(expected.size()));
    for (int i = 0, next = 0; i < pictures.size(); ++i, ++next) {
        while (next + 1 < expected.size() && expected[next][0] < pictures[i].time - 0.001)
            ++next;
        QVERIFY2(qAbs(pictures[i].time - expected[next][0]) < 0.001 &&
                     pictures[i].width == expected[next][1] &&
                     frameNumberFromLuma(pictures[i].luma) == int(expected[next][2]) % kLumaCycle,
                 qPrintable(QStringLiteral("picture %1 at %2").arg(i).arg(pictures[i].time)));
    }
    QCOMPARE(log.snapshot().last().picturesBefore, pictures.size());
    QCOMPARE(player.currentSource(), int(sources.size()) - 1);
    QVERIFY(qAbs(player.duration() - (sources.back().timelineStart + 2)) < 0.01);
    if (player.hasAudioOutput()) {
        if (soundThroughout)
            QVERIFY2(longestStill < 250, qPrintable(QString::number(longestStill)));
        // The last clip's sound was played, whatever came before it.
        QVERIFY2(lastAudio > player.duration() - 0.5, qPrintable(QString::number(lastAudio)));
    }
}

void tst_oxffplayer::seekLandsInTheRightSource_data()
{
    QTest::addColumn<double>("startAt");
    QTest::addColumn<double>("firstTime");
    QTest::addColumn<double>("target");
    // The first picture after the seek: its time, width and frame number.
    QTest::addColumn<double>("seekTime");
    QTest::addColumn<int>("seekWidth");
    QTest::addColumn<int>("seekFrame");
    // Clips at 0 (64 pixels), 3 (80, from 0.4 s in) and 4.6 (96); key frames every second.
    QTest::newRow("into the last clip") << 0.0 << 0.0 << 5.9 << 5.6 << 96 << 25;
    QTest::newRow("into the cut clip, before its key frame")
        << 0.0 << 0.0 << 3.1 << 3.0 << 80 << 10;
    QTest::newRow("opened in the last clip, back into the first")
        << 5.0 << 4.6 << 1.5 << 1.0 << 64 << 25;
}

void tst_oxffplayer::seekLandsInTheRightSource()
{
    QFETCH(double, startAt);
    QFETCH(double, firstTime);
    QFETCH(double, target);
    QFETCH(double, seekTime);
    QFETCH(int, seekWidth);
    QFETCH(int, seekFrame);
    PlayerRig rig;
    auto &[sink, log, player] = rig;
    // Nothing that opens: nothing runs.
    QVERIFY(player.openSequence({{"/nonexistent.mp4", 0, -1, 0}, {clips.toUtf8(), 0, -1, 1}}) < 0);
    QVERIFY(!player.anyThreadRunning());

    QCOMPARE(player.openSequence(drive({"clip"}), startAt), 0);
    QTRY_VERIFY(sink.count() >= 3);
    QCOMPARE(sink.snapshot().first().time, firstTime);
    player.pause();
    const int before = sink.count();
    player.requestSeek(target);
    QTRY_COMPARE(player.videoTime(), target); // carried out while paused
    player.resume();
    QTRY_VERIFY(sink.count() > before);
    const RecordingSink::Entry first = sink.snapshot().at(before);
    QCOMPARE(first.time, seekTime);
    QCOMPARE(first.width, seekWidth);
    QCOMPARE(frameNumberFromLuma(first.luma), seekFrame % kLumaCycle);
    QCOMPARE(player.currentSource(), (seekWidth - 64) / 16);
}

// The tone is heard from the first picture on, not before it and not long after, as
// recorded from the null sink.
void tst_oxffplayer::soundStartsWithTheFirstPicture()
{
    const QString path = requireRecording(clips, QStringLiteral("tone"), smallRecipe(3));
    QProcess parec;
    QByteArray recorded;
    QVector<QPair<int64_t, int>> arrivals; // when, bytes recorded by then
    connect(&parec, &QProcess::readyReadStandardOutput, [&] {
        recorded += parec.readAllStandardOutput();
        arrivals.append({av_gettime(), recorded.size()});
    });
    parec.start(QStringLiteral("parec"), {"-d", "@DEFAULT_MONITOR@", "--raw", "--format=s16le",
                                          "--rate=48000", "--channels=2", "--latency-msec=10"});
    if (!parec.waitForStarted(5000))
        QSKIP("no parec here (the test services bring it)");
    QTRY_VERIFY_WITH_TIMEOUT(!recorded.isEmpty() || parec.state() != QProcess::Running, 5000);
    if (recorded.isEmpty())
        QSKIP("no sound server to record from");

    // A view slow to take its pictures: the sound must still wait for the first one.
    PlayerRig rig(150000);
    auto &[sink, log, player] = rig;
    QCOMPARE(rig.open(path), 0);
    if (!player.hasAudioOutput()) {
        player.stop();
        QSKIP("no sound device here (the test services start a null sink)");
    }
    QTRY_VERIFY_WITH_TIMEOUT(sink.count() > 0, 10000);
    const int64_t firstPicture = sink.snapshot().first().arrivalUs;
    QTRY_VERIFY_WITH_TIMEOUT(av_gettime() - firstPicture > 1000000, 5000);
    player.stop();
    parec.kill();
    parec.waitForFinished(5000);

    // The first sample of the tone (its peak is an eighth of full scale).
    const auto *samples = reinterpret_cast<const qint16 *>(recorded.constData());
    int first = 0;
    while (first < recorded.size() / 2 && qAbs(samples[first]) < 1000)
        ++first;
    QVERIFY2(first < recorded.size() / 2, "no sound was heard");
    // It was recorded after the piece before the one that brought it, and by the time
    // that one came.
    int piece = 0;
    while (arrivals[piece].second <= first * 2)
        ++piece;
    const double lateBy = (arrivals[piece].first - firstPicture) / 1e6;
    const double earlyBy = piece > 0 ? (firstPicture - arrivals[piece - 1].first) / 1e6 : 1;
    QVERIFY2(lateBy < 0.4, qPrintable(QString::number(lateBy)));
    QVERIFY2(earlyBy < 0.05, qPrintable(QString::number(earlyBy)));
}

void tst_oxffplayer::rateAndFrameStep_data()
{
    QTest::addColumn<double>("rate");
    QTest::addColumn<double>("startAt");
    // Playing until this timeline time, then paused and stepped (+1 forward, -1 back).
    QTest::addColumn<double>("playUntil");
    QTest::addColumn<QList<int>>("steps");
    QTest::newRow("quarter speed, back from the key picture and forward")
        << 0.25 << 5.0 << 5.3 << QList<int>{-1, -1, -1, 1};
    QTest::newRow("half speed into the last clip") << 0.5 << 19.5 << 20.2 << QList<int>{};
    QTest::newRow("double speed, stepping back and forth over a boundary")
        << 2.0 << 8.0 << 10.02 << QList<int>{-1, -1, -1, -1, 1, 1, 1, 1, 1, 1};
    QTest::newRow("eight times, key pictures only") << 8.0 << 0.0 << 12.0 << QList<int>{};
    QTest::newRow("sixteen times across the clips, then back")
        << 16.0 << 0.0 << 25.0 << QList<int>{-1, -1, 1};
}

// The pictures shown are those their times say (size and frame number drawn in), the
// position moves at the rate by the pictures' own times, and each frame step shows the
// picture next to the one on screen.
void tst_oxffplayer::rateAndFrameStep()
{
    QFETCH(double, rate);
    QFETCH(double, startAt);
    QFETCH(double, playUntil);
    QFETCH(QList<int>, steps);
    // What the drive shows at a timeline time: its width and frame number.
    const auto expected = [](double time) {
        const int n = qRound(time * 25);
        return qMakePair(64 + 16 * (n / 250), (n % 250) % kLumaCycle);
    };
    const auto identify = [](const RecordingSink::Entry &e) {
        return qMakePair(e.width, frameNumberFromLuma(e.luma));
    };

    PlayerRig rig;
    auto &[sink, log, player] = rig;
    player.setRate(rate);
    QCOMPARE(player.rate(), rate);
    QCOMPARE(player.openSequence(longDrive(), startAt), 0);
    QTRY_VERIFY_WITH_TIMEOUT(player.videoTime() >= playUntil, 15000);
    player.pause();

    const auto pictures = sink.snapshot();
    QVERIFY(pictures.size() > 3);
    for (const RecordingSink::Entry &e : pictures) {
        QCOMPARE(identify(e), expected(e.time));
        if (rate >= OxFFPlayer::kKeyOnlyRate)
            QCOMPARE(identify(e).second, 0); // a key picture
    }
    const RecordingSink::Entry &from = pictures[1]; // the clock starts with the first
    const RecordingSink::Entry &to = pictures.last();
    const double speed = (to.time - from.time) / ((to.arrivalUs - from.arrivalUs) / 1e6);
    QVERIFY2(qAbs(speed / rate - 1) < 0.2, qPrintable(QString::number(speed)));

    QSet<int> widths;
    for (int direction : steps) {
        const int before = sink.count();
        const double shown = player.videoTime();
        QVERIFY(direction > 0 ? player.stepForward() : player.stepBackward());
        QTRY_COMPARE(sink.count(), before + 1);
        const RecordingSink::Entry e = sink.snapshot().last();
        QCOMPARE(e.time, shown + direction / 25.0);
        QCOMPARE(identify(e), expected(e.time));
        QCOMPARE(player.videoTime(), e.time);
        QCOMPARE(log.snapshot().last().type, int(OxFFPlayer::ReportPicture));
        QCOMPARE(log.snapshot().last().current, e.time);
        widths.insert(e.width);
    }
    if (playUntil == 10.02)
        QCOMPARE(widths.size(), 2); // stepped over the boundary both ways
    QVERIFY(!player.isPlaying());
    player.stop();
}

QTEST_GUILESS_MAIN(tst_oxffplayer)
#include "tst_oxffplayer.moc"
