#include "damagedrecording.h"
#include "ffmpeg_ptr.h"
#include "fulldisk.h"
#include "oxjpeg.h"
#include "testhome.h"
#include "testrecordings.h"

#include <QFile>
#include <QHash>
#include <QImage>
#include <QProcess>
#include <QtTest>

#include <memory>

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace {

// What a JPEG reader shows for a flat limited-range luma.
int fullRange(int luma)
{
    return qBound(0, qRound((luma - 16) * 255.0 / 219.0), 255);
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool isJpeg(const QByteArray &data)
{
    return data.startsWith("\xFF\xD8") && data.endsWith("\xFF\xD9");
}

} // namespace

class tst_jpeg : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestHome> home;
    QString dir;

private slots:
    void initTestCase()
    {
        home = std::make_unique<TestHome>();
        dir = home->path() + QStringLiteral("/jpeg");
        QDir().mkpath(dir);
        av_log_set_level(AV_LOG_ERROR);
    }

    void yuvPictureAtFullSize_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("y");
        QTest::addColumn<int>("u");
        QTest::addColumn<int>("v");
        QTest::addColumn<QColor>("colour");
        QTest::newRow("grey 320x240") << 320 << 240 << 126 << 128 << 128
                                      << QColor(fullRange(126), fullRange(126), fullRange(126));
        QTest::newRow("full hd is not scaled")
            << 1920 << 1080 << 200 << 128 << 128
            << QColor(fullRange(200), fullRange(200), fullRange(200));
        // BT.601 limited-range red: the limited-to-full conversion must happen.
        QTest::newRow("red") << 64 << 48 << 81 << 90 << 240 << QColor(255, 0, 0);
        QTest::newRow("odd size") << 33 << 17 << 145 << 54 << 34 << QColor(0, 255, 0);
        QTest::newRow("one pixel") << 1 << 1 << 16 << 128 << 128 << QColor(0, 0, 0);
    }

    void yuvPictureAtFullSize()
    {
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(int, y);
        QFETCH(int, u);
        QFETCH(int, v);
        QFETCH(QColor, colour);
        // Exactly the packed planes an OxYUV420P holds, allocated to size so that any
        // read past them is caught under AddressSanitizer.
        std::vector<uint8_t> luma(size_t(width * height), uint8_t(y));
        std::vector<uint8_t> cb(size_t((width / 2) * (height / 2)) + 0, uint8_t(u));
        std::vector<uint8_t> cr(cb.size(), uint8_t(v));
        const QString path = dir + QStringLiteral("/shot-%1x%2.jpg").arg(width).arg(height);
        QCOMPARE(saveYUV420PAsJpeg(luma.data(), cb.empty() ? luma.data() : cb.data(),
                                   cr.empty() ? luma.data() : cr.data(), width, height, path),
                 0);
        QVERIFY(isJpeg(readAll(path)));
        QImage image(path);
        QCOMPARE(image.size(), QSize(width, height));
        if (width == 1) // no chroma at all: grey
            colour = QColor(fullRange(y), fullRange(y), fullRange(y));
        const QColor got = image.pixelColor(width / 2, height / 2);
        QVERIFY2(qAbs(got.red() - colour.red()) <= 6 && qAbs(got.green() - colour.green()) <= 6 &&
                     qAbs(got.blue() - colour.blue()) <= 6,
                 qPrintable(QStringLiteral("got %1").arg(got.name())));
    }

    void replacesLongerFile()
    {
        const QString path = dir + QStringLiteral("/over.jpg");
        {
            QFile old(path);
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write(QByteArray(2 * 1024 * 1024, 'x'));
        }
        std::vector<uint8_t> luma(64 * 48, 100), chroma(32 * 24, 128);
        QCOMPARE(saveYUV420PAsJpeg(luma.data(), chroma.data(), chroma.data(), 64, 48, path), 0);
        const QByteArray data = readAll(path);
        QVERIFY(data.size() < 100000);
        QVERIFY(isJpeg(data));
        QCOMPARE(QImage(path).size(), QSize(64, 48));
        // Nothing is left beside it.
        QCOMPARE(QDir(dir).entryList({"over.jpg*"}, QDir::Files), QStringList{"over.jpg"});
    }

    void failureIsReported()
    {
        std::vector<uint8_t> luma(16 * 16, 100), chroma(8 * 8, 128);
        const QString missingFolder = dir + QStringLiteral("/no/such/folder/shot.jpg");
        QVERIFY(saveYUV420PAsJpeg(luma.data(), chroma.data(), chroma.data(), 16, 16,
                                  missingFolder) < 0);
        QVERIFY(!QFile::exists(missingFolder));
        QVERIFY(saveYUV420PAsJpeg(nullptr, chroma.data(), chroma.data(), 16, 16,
                                  dir + "/null.jpg") < 0);
        QVERIFY(saveYUV420PAsJpeg(luma.data(), chroma.data(), chroma.data(), 0, 16,
                                  dir + "/zero.jpg") < 0);
        QVERIFY(!QFile::exists(dir + "/null.jpg"));
        QVERIFY(!QFile::exists(dir + "/zero.jpg"));
        // A full disk leaves no empty or cut picture that would pass for a thumbnail.
        const QString full = dir + QStringLiteral("/full.jpg");
        {
            const FullDisk disk;
            QVERIFY(saveYUV420PAsJpeg(luma.data(), chroma.data(), chroma.data(), 16, 16, full) < 0);
        }
        QVERIFY(!QFile::exists(full));
    }

    void frameFormats_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<int>("expected"); // grey level read back from the file
        // Full-range input goes to the encoder as it is: no range change.
        QTest::newRow("yuvj420p") << int(AV_PIX_FMT_YUVJ420P) << 100;
        QTest::newRow("yuvj444p") << int(AV_PIX_FMT_YUVJ444P) << 100;
        QTest::newRow("yuv420p") << int(AV_PIX_FMT_YUV420P) << fullRange(100);
        QTest::newRow("nv12") << int(AV_PIX_FMT_NV12) << fullRange(100);
        QTest::newRow("yuv420p10") << int(AV_PIX_FMT_YUV420P10LE) << fullRange(100);
    }

    void frameFormats()
    {
        QFETCH(int, format);
        QFETCH(int, expected);
        AVFramePtr frame = makeFrame();
        frame->width = 80;
        frame->height = 60;
        frame->format = format;
        QVERIFY(av_frame_get_buffer(frame.get(), 0) >= 0);
        // Flat luma 100, neutral chroma, whatever the layout.
        const AVPixFmtDescriptor *desc = av_pix_fmt_desc_get(AVPixelFormat(format));
        const int depth = desc->comp[0].depth;
        for (int plane = 0; plane < 4 && frame->data[plane]; ++plane) {
            const bool lumaPlane = plane == 0;
            const int rows =
                lumaPlane ? frame->height : AV_CEIL_RSHIFT(frame->height, desc->log2_chroma_h);
            for (int r = 0; r < rows; ++r) {
                uint8_t *row = frame->data[plane] + r * frame->linesize[plane];
                const int value = lumaPlane ? 100 : 128;
                if (depth > 8) {
                    auto *wide = reinterpret_cast<uint16_t *>(row);
                    for (int i = 0; i < frame->linesize[plane] / 2; ++i)
                        wide[i] = uint16_t(value << (depth - 8));
                } else {
                    memset(row, value, size_t(frame->linesize[plane]));
                }
            }
        }
        const QString path = dir + QStringLiteral("/format-%1.jpg").arg(format);
        QCOMPARE(saveFrameAsJpeg(frame.get(), path), 0);
        QImage image(path);
        QCOMPARE(image.size(), QSize(80, 60));
        QVERIFY2(qAbs(qGray(image.pixel(40, 30)) - expected) <= 3,
                 qPrintable(QString::number(qGray(image.pixel(40, 30)))));
    }

    void probeKnownClips_data()
    {
        QTest::addColumn<RecordingSpec>("recipe");
        QTest::addColumn<double>("fps");
        QTest::addColumn<double>("duration");
        RecordingSpec mp4;
        QTest::newRow("mp4 h264 25") << mp4 << 25.0 << 2.0;
        RecordingSpec avi;
        avi.container = "avi";
        avi.videoCodec = "mpeg4";
        avi.width = 176;
        avi.height = 144;
        avi.fpsNum = 30000;
        avi.fpsDen = 1001;
        avi.seconds = 1;
        avi.audioCodec = "pcm_s16le";
        QTest::newRow("avi mpeg4 29.97") << avi << 30000 / 1001.0 << 30 * 1001 / 30000.0;
        RecordingSpec late;
        late.container = "mov";
        late.startTime = 3;
        late.bFrames = 2;
        late.width = 160;
        late.height = 90;
        late.fpsNum = 30;
        QTest::newRow("mov late start b-frames") << late << 30.0 << 2.0;
        // Fewer pictures than decoding threads: the picture only comes out when draining.
        RecordingSpec single;
        single.seconds = 0.04;
        single.audioCodec.clear();
        QTest::newRow("one picture") << single << 25.0 << 0.04;
    }

    void probeKnownClips()
    {
        QFETCH(RecordingSpec, recipe);
        QFETCH(double, fps);
        QFETCH(double, duration);
        const QString path = requireRecording(
            dir, QString("probe%1").arg(qHash(QByteArray(QTest::currentDataTag()))), recipe);
        ProbeResult result;
        result.thumb =
            dir + QStringLiteral("/thumb%1.jpg").arg(qHash(QByteArray(QTest::currentDataTag())));
        // An empty file left there by a full disk is no thumbnail: it is written again.
        QVERIFY(QFile(result.thumb).open(QIODevice::WriteOnly));
        QVERIFY(probeVideo(path.toUtf8().constData(), result, nullptr) >= 0);
        QVERIFY2(qAbs(result.duration - duration) < 0.03,
                 qPrintable(QString::number(result.duration)));
        QVERIFY(qAbs(result.fps - fps) < 0.001);
        QCOMPARE(result.width, recipe.width);
        QCOMPARE(result.height, recipe.height);

        QImage thumb(result.thumb);
        QCOMPARE(thumb.size(), QSize(recipe.width, recipe.height));
        const int grey = qGray(thumb.pixel(recipe.width / 2, recipe.height / 2));
        QVERIFY2(qAbs(grey - fullRange(frameLuma(0))) <= 6, qPrintable(QString::number(grey)));

        // An existing thumbnail is kept; the values are refreshed all the same.
        const QByteArray before = readAll(result.thumb);
        ProbeResult again;
        again.thumb = result.thumb;
        QVERIFY(probeVideo(path.toUtf8().constData(), again) >= 0);
        QCOMPARE(readAll(result.thumb), before);
        QCOMPARE(again.width, recipe.width);
        QCOMPARE(again.duration, result.duration);
    }

    void probeWithoutPicture()
    {
        RecordingSpec sound;
        sound.container = "mov";
        sound.videoCodec.clear();
        sound.audioCodec = "pcm_s16le";
        sound.seconds = 1.5;
        const QString path = requireRecording(dir, "soundonly", sound);
        ProbeResult result;
        result.fps = 99;
        result.width = 99;
        result.thumb = dir + "/nothumb.jpg";
        QVERIFY(probeVideo(path.toUtf8().constData(), result) >= 0);
        QVERIFY(qAbs(result.duration - 1.5) < 0.03);
        QCOMPARE(result.fps, 0.0);
        QCOMPARE(result.width, 0);
        QCOMPARE(result.height, 0);
        QVERIFY(!QFile::exists(result.thumb));
    }

    void probeStopsAndFails()
    {
        const QString path = requireRecording(dir, "stopped", RecordingSpec());
        // A thread asked to stop opens nothing: the stop ends the open as it ends a read.
        ProbeResult result;
        result.thumb = dir + "/stopped.jpg";
        const std::atomic<bool> stop{true};
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^avformat_open_input"));
        QCOMPARE(probeVideo(path.toUtf8().constData(), result, &stop), AVERROR_EXIT);
        QCOMPARE(result.width, 0);
        QVERIFY(!QFile::exists(result.thumb));

        ProbeResult untouched;
        untouched.thumb = dir + "/missing.jpg";
        untouched.duration = 7;
        untouched.width = 7;
        const QString missing = dir + "/missing.mp4";
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^avformat_open_input"));
        QVERIFY(probeVideo(missing.toUtf8().constData(), untouched) < 0);
        QCOMPARE(untouched.duration, 7.0);
        QCOMPARE(untouched.width, 7);
        QVERIFY(!QFile::exists(untouched.thumb));
    }

    void probeTool()
    {
        const QString tool = QStringLiteral(DASHCAM_RUNTIME_DIR "/dashcam-probe");
        if (!QFile::exists(tool))
            QSKIP("dashcam-probe is not built");
        const QString path = requireRecording(dir, "tool", RecordingSpec());
        const QString thumb = dir + "/tool.jpg";
        QProcess process;
        process.start(tool, {path, thumb});
        QVERIFY(process.waitForFinished(60000));
        QCOMPARE(process.exitCode(), 0);
        QCOMPARE(QString::fromUtf8(process.readAllStandardOutput()).trimmed(),
                 QStringLiteral("duration=2.000 fps=25.000 width=320 height=240"));
        QCOMPARE(QImage(thumb).size(), QSize(320, 240));

        const QString garbage = makeGarbage(dir + "/garbage.mp4", 4096);
        process.start(tool, {garbage});
        QVERIFY(process.waitForFinished(60000));
        QCOMPARE(process.exitCode(), 2);
        QVERIFY(process.readAllStandardOutput().isEmpty());
        QVERIFY(!process.readAllStandardError().trimmed().isEmpty());

        // A recording that opens but has no picture to decode: the picture asked for is
        // not written, and that is a failure.
        const QString blank = makeUndecodableRecording(dir, "blank", 2);
        process.start(tool, {blank, dir + "/blank.jpg"});
        QVERIFY(process.waitForFinished(60000));
        QCOMPARE(process.exitCode(), 3);
        QVERIFY(process.readAllStandardOutput().isEmpty());
        QVERIFY(!process.readAllStandardError().trimmed().isEmpty());
        QVERIFY(!QFile::exists(dir + "/blank.jpg"));
    }
};

QTEST_GUILESS_MAIN(tst_jpeg)
#include "tst_jpeg.moc"
