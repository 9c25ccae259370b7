#include "ffmpeg_ptr.h"
#include "streamreader.h"
#include "testhome.h"
#include "testrecordings.h"

#include <QRegularExpression>
#include <QTcpServer>
#include <QtTest>

#include <memory>
#include <sys/stat.h>

namespace {

// The flat luma (centre pixel) and pts of the next picture from the reader's current
// position, or -1.
int nextPictureLuma(StreamReader &reader, int64_t *pts = nullptr)
{
    AVFramePtr frame = makeFrame();
    if (reader.decodeNextPicture(frame.get()) < 0)
        return -1;
    if (pts)
        *pts = frame->pts;
    return frame->data[0][(frame->height / 2) * frame->linesize[0] + frame->width / 2];
}

} // namespace

class tst_streamreader : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestHome> home;
    QString dir;

private slots:
    void initTestCase()
    {
        home = std::make_unique<TestHome>();
        dir = home->path() + QStringLiteral("/clips");
        QDir().mkpath(dir);
        av_log_set_level(AV_LOG_ERROR);
    }

    void selectsStreamsAndDuration_data()
    {
        QTest::addColumn<RecordingSpec>("recipe");
        QTest::addColumn<bool>("video");
        QTest::addColumn<bool>("audio");
        QTest::addColumn<bool>("subtitle");
        QTest::addColumn<double>("duration");

        RecordingSpec mp4;
        mp4.seconds = 2;
        QTest::newRow("mp4 h264 aac: from the video stream") << mp4 << true << true << false << 2.0;

        // Sound outlasting the picture must not stretch the length.
        RecordingSpec longSound;
        longSound.container = "mov";
        longSound.seconds = 1;
        longSound.audioCodec = "pcm_s16le";
        longSound.sampleRate = 22050;
        longSound.channels = 1;
        QTest::newRow("mov pcm") << longSound << true << true << false << 1.0;

        RecordingSpec avi;
        avi.container = "avi";
        avi.videoCodec = "mpeg4";
        avi.fpsNum = 30000;
        avi.fpsDen = 1001;
        avi.audioCodec = "pcm_s16le";
        avi.seconds = 1.5;
        QTest::newRow("avi mpeg4 29.97") << avi << true << true << false << 45 * 1001 / 30000.0;

        RecordingSpec audioOnly;
        audioOnly.videoCodec.clear();
        audioOnly.container = "mov";
        audioOnly.audioCodec = "pcm_s16le";
        audioOnly.seconds = 1.25;
        QTest::newRow("audio only: from the audio stream")
            << audioOnly << false << true << false << 1.25;

        // Matroska streams carry no duration of their own: the container's is used.
        RecordingSpec mkv;
        mkv.container = "mkv";
        mkv.audioCodec.clear();
        mkv.seconds = 1.2;
        QTest::newRow("mkv: container fallback") << mkv << true << false << false << 1.2;

        RecordingSpec subtitles;
        subtitles.seconds = 2;
        subtitles.subtitles = {{0, 1, "$GPRMC,080000.000,A"}, {1, 2, "$GPRMC,080001.000,A"}};
        QTest::newRow("mp4 with mov_text") << subtitles << true << true << true << 2.0;

        RecordingSpec subtitleOnly;
        subtitleOnly.container = "mkv";
        subtitleOnly.videoCodec.clear();
        subtitleOnly.audioCodec.clear();
        subtitleOnly.subtitles = {{0, 1.5, "one"}, {1.5, 3, "two"}};
        QTest::newRow("neither video nor audio") << subtitleOnly << false << false << true << 3.0;
    }

    void selectsStreamsAndDuration()
    {
        QFETCH(RecordingSpec, recipe);
        QFETCH(bool, video);
        QFETCH(bool, audio);
        QFETCH(bool, subtitle);
        QFETCH(double, duration);
        const QString path = requireRecording(
            dir, QString("select%1").arg(QTest::currentDataTag()).remove(' '), recipe);

        StreamReader reader;
        QVERIFY(reader.open(path.toUtf8().constData()) >= 0);
        QCOMPARE(reader.videoStream() != nullptr, video);
        QCOMPARE(reader.audioStream() != nullptr, audio);
        QCOMPARE(reader.subtitleStream() != nullptr, subtitle);
        QCOMPARE(reader.videoContext() != nullptr, video);
        QCOMPARE(reader.audioContext() != nullptr, audio);
        QCOMPARE(reader.subtitleContext() != nullptr, subtitle);
        QVERIFY2(qAbs(reader.duration() - duration) < 0.03,
                 qPrintable(QString::number(reader.duration())));
        if (video) {
            AVCodecContext *context = reader.videoContext();
            QVERIFY(avcodec_is_open(context));
            QCOMPARE(context->width, recipe.width);
            QCOMPARE(context->height, recipe.height);
            QCOMPARE(av_cmp_q(context->pkt_timebase, reader.videoStream()->time_base), 0);
        }
        if (audio) {
            QVERIFY(avcodec_is_open(reader.audioContext()));
            QCOMPARE(reader.audioContext()->sample_rate, recipe.sampleRate);
            QCOMPARE(reader.audioContext()->ch_layout.nb_channels, recipe.channels);
        }
        if (subtitle)
            QVERIFY(avcodec_is_open(reader.subtitleContext()));

        // Every packet is attributed to at most one selected stream, and the end of file
        // is reported as such.
        AVPacketPtr packet = makePacket();
        int packets = 0;
        int r = 0;
        while ((r = reader.readFrame(packet.get())) >= 0) {
            const int kinds = int(reader.isVideoPacket(packet.get())) +
                              int(reader.isAudioPacket(packet.get())) +
                              int(reader.isSubtitlePacket(packet.get()));
            QCOMPARE(kinds, 1);
            ++packets;
            av_packet_unref(packet.get());
        }
        QCOMPARE(r, AVERROR_EOF);
        QVERIFY(packets > 0);
        QCOMPARE(reader.close(), 0);
        QCOMPARE(reader.videoStream(), nullptr);
        QCOMPARE(reader.formatContext(), nullptr);
        QCOMPARE(reader.fileName(), nullptr);
    }

    void timestampsStartAtZero_data()
    {
        QTest::addColumn<double>("startTime");
        QTest::addColumn<int>("bFrames");
        QTest::addColumn<QString>("container");
        QTest::newRow("zero start") << 0.0 << 0 << "mp4";
        QTest::newRow("late start") << 1.5 << 0 << "mp4";
        QTest::newRow("late start, b-frames") << 1.5 << 2 << "mp4";
        QTest::newRow("b-frames") << 0.0 << 2 << "mov";
        QTest::newRow("mkv late start, b-frames") << 2.0 << 2 << "mkv";
    }

    void timestampsStartAtZero()
    {
        QFETCH(double, startTime);
        QFETCH(int, bFrames);
        QFETCH(QString, container);
        RecordingSpec recipe;
        recipe.container = container;
        recipe.startTime = startTime;
        recipe.bFrames = bFrames;
        recipe.seconds = 2;
        const QString path = requireRecording(
            dir,
            QString("start%1").arg(QTest::currentDataTag()).remove(QRegularExpression("[^a-z0-9]")),
            recipe);
        StreamReader reader;
        QVERIFY(reader.open(path.toUtf8().constData()) >= 0);
        // Matroska keeps no stream durations, and its container duration counts the lead-in.
        if (container != "mkv")
            QVERIFY2(qAbs(reader.duration() - 2.0) < 0.03,
                     qPrintable(QString::number(reader.duration())));

        AVPacketPtr packet = makePacket();
        bool firstVideo = true, firstAudio = true;
        int64_t lastDts = AV_NOPTS_VALUE;
        while (reader.readFrame(packet.get()) >= 0) {
            if (reader.isVideoPacket(packet.get())) {
                if (firstVideo) {
                    QCOMPARE(packet->pts, 0);
                    // Matroska leaves dts unset when pictures are reordered; unset stays unset.
                    if (container != "mkv" || packet->dts != AV_NOPTS_VALUE)
                        QCOMPARE(packet->dts, 0);
                    firstVideo = false;
                }
                QVERIFY(packet->pts >= 0);
                if (packet->dts != AV_NOPTS_VALUE) {
                    QVERIFY(lastDts == AV_NOPTS_VALUE || packet->dts > lastDts);
                    lastDts = packet->dts;
                }
            } else if (reader.isAudioPacket(packet.get()) && firstAudio) {
                // AAC priming may put the first sound packet a little before the stream's start.
                const double t = packet->pts * av_q2d(reader.audioStream()->time_base);
                QVERIFY2(qAbs(t) < 0.05, qPrintable(QString::number(t)));
                firstAudio = false;
            }
            av_packet_unref(packet.get());
        }
        QVERIFY(!firstVideo);
        QVERIFY(!firstAudio);

        // The picture decoded at a normalised time is the one the encoder numbered so.
        QVERIFY(reader.seek(0, AVSEEK_FLAG_BACKWARD) >= 0);
        int64_t pts = -1;
        const int luma = nextPictureLuma(reader, &pts);
        QCOMPARE(pts, 0);
        QVERIFY2(qAbs(luma - frameLuma(0)) <= 4, qPrintable(QString::number(luma)));
    }

    void normalisesTimestamps()
    {
        RecordingSpec recipe;
        recipe.startTime = 1.0;
        recipe.seconds = 1;
        const QString path = requireRecording(dir, "normalise", recipe);
        StreamReader reader;
        QVERIFY(reader.open(path.toUtf8().constData()) >= 0);
        AVStream *video = reader.videoStream();
        QVERIFY(video && video->start_time != AV_NOPTS_VALUE && video->start_time > 0);
        const int64_t start = video->start_time;

        AVPacketPtr onlyDts = makePacket();
        onlyDts->stream_index = video->index;
        onlyDts->pts = AV_NOPTS_VALUE;
        onlyDts->dts = start + 512;
        reader.normalizeTimestamps(onlyDts.get());
        QCOMPARE(onlyDts->pts, 512);

        AVPacketPtr unset = makePacket();
        unset->stream_index = video->index;
        unset->pts = unset->dts = AV_NOPTS_VALUE;
        reader.normalizeTimestamps(unset.get());
        QCOMPARE(unset->pts, AV_NOPTS_VALUE);
        QCOMPARE(unset->dts, AV_NOPTS_VALUE);

        AVPacketPtr foreign = makePacket();
        foreign->stream_index = 99;
        foreign->pts = foreign->dts = 1234;
        reader.normalizeTimestamps(foreign.get());
        QCOMPARE(foreign->pts, 1234);
        QCOMPARE(foreign->dts, 1234);

        // With normalisation off the demuxer's own times come through.
        reader.normalize = false;
        AVPacketPtr packet = makePacket();
        do {
            av_packet_unref(packet.get());
            QVERIFY(reader.readFrame(packet.get()) >= 0);
        } while (!reader.isVideoPacket(packet.get()));
        QCOMPARE(packet->pts, start);
    }

    void seekBounds()
    {
        RecordingSpec recipe;
        recipe.seconds = 3;
        recipe.gop = 25;
        recipe.startTime = 0.5;
        const QString path = requireRecording(dir, "seek", recipe);
        StreamReader reader;
        QCOMPARE(reader.seek(0, 0), -1); // nothing open
        QVERIFY(reader.open(path.toUtf8().constData()) >= 0);
        const double duration = reader.duration();
        QVERIFY(qAbs(duration - 3.0) < 0.03);
        QCOMPARE(reader.seek(-0.5, 0), -1);
        QCOMPARE(reader.seek(duration + 1, 0), -1);
        QCOMPARE(reader.seek(duration + 0.001, 0), -1);
        QVERIFY(reader.seek(duration, AVSEEK_FLAG_BACKWARD) >= 0);

        // Seek positions count from the start of the recording, not of the container: the
        // key picture at or before 2.2 s is picture 50.
        QVERIFY(reader.seek(2.2, AVSEEK_FLAG_BACKWARD) >= 0);
        int64_t pts = -1;
        const int luma = nextPictureLuma(reader, &pts);
        QCOMPARE(pts * av_q2d(reader.videoStream()->time_base), 2.0);
        QCOMPARE(frameNumberFromLuma(luma), 50 % kLumaCycle);

        QVERIFY(reader.seek(0, AVSEEK_FLAG_BACKWARD) >= 0);
        QCOMPARE(frameNumberFromLuma(nextPictureLuma(reader, &pts)), 0);
        QCOMPARE(pts, 0);
    }

    void badInput_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("missing") << "missing";
        QTest::newRow("empty") << "empty";
        QTest::newRow("garbage") << "garbage";
        QTest::newRow("truncated") << "truncated";
        // Not a local regular file: refused before FFmpeg sees it, so nothing blocks (a
        // FIFO without a writer) and nothing reaches the network.
        QTest::newRow("fifo") << "fifo";
        QTest::newRow("http url") << "http";
        QTest::newRow("tcp url") << "tcp";
    }

    void badInput()
    {
        QFETCH(QString, kind);
        QString path = dir + "/bad-" + kind + ".mp4";
        if (kind == "empty")
            QVERIFY(!makeEmpty(path).isEmpty());
        else if (kind == "garbage")
            QVERIFY(!makeGarbage(path, 64 * 1024).isEmpty());
        else if (kind == "truncated")
            QVERIFY(
                !makeTruncated(requireRecording(dir, "whole", RecordingSpec()), path).isEmpty());
        else if (kind == "fifo")
            QCOMPARE(mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        QTcpServer server; // must never see a connection
        QVERIFY(server.listen(QHostAddress::LocalHost));
        if (kind == "http" || kind == "tcp")
            path = QStringLiteral("%1://127.0.0.1:%2/x.mp4").arg(kind).arg(server.serverPort());

        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^avformat_open_input\\(" +
                                                            QRegularExpression::escape(path) +
                                                            "\\) = [0-9a-f]+, .+"));
        StreamReader reader;
        const int r = reader.open(path.toUtf8().constData());
        QVERIFY(r < 0);
        QCOMPARE(reader.formatContext(), nullptr);
        QCOMPARE(reader.videoStream(), nullptr);
        QCOMPARE(reader.videoContext(), nullptr);
        QCOMPARE(reader.duration(), 0.0);
        AVPacketPtr packet = makePacket();
        QVERIFY(reader.readFrame(packet.get()) < 0);
        QCOMPARE(reader.seek(0, 0), -1);
        QCOMPARE(reader.close(), 0);
        QCOMPARE(reader.close(), 0);
        QVERIFY(!server.waitForNewConnection(100));
    }

    void reopenAndDestroyOpen()
    {
        RecordingSpec small;
        small.seconds = 0.5;
        small.width = 64;
        small.height = 48;
        const QString a = requireRecording(dir, "reopen-a", small);
        small.audioCodec.clear();
        small.width = 96;
        const QString b = requireRecording(dir, "reopen-b", small);

        auto reader = std::make_unique<StreamReader>();
        QVERIFY(reader->open(a.toUtf8().constData()) >= 0);
        QVERIFY(reader->audioStream());
        QVERIFY(reader->open(b.toUtf8().constData()) >= 0);
        QCOMPARE(QByteArray(reader->fileName()), b.toUtf8());
        QCOMPARE(reader->audioStream(), nullptr);
        QCOMPARE(reader->videoContext()->width, 96);
        AVPacketPtr packet = makePacket();
        QVERIFY(reader->readFrame(packet.get()) >= 0);
        reader.reset(); // still open: the destructor frees everything
    }
};

QTEST_GUILESS_MAIN(tst_streamreader)
#include "tst_streamreader.moc"
