#include "soundserver.h"
#include "testhome.h"

#include "ffmpeg_ptr.h"
#include "oxaudio.h"
#include "oxmediadata.h"

#include <QAudioDeviceInfo>
#include <QElapsedTimer>
#include <QThread>
#include <QtTest>

#include <atomic>
#include <cmath>
#include <cstring>
#include <memory>

#include <link.h>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/samplefmt.h>
}

namespace {

// A decoded frame of `samples` samples, every sample of every channel set to `value`
// (in the format's own type).
AVFramePtr makeAudioFrame(AVSampleFormat format, int channels, int samples, double value)
{
    AVFramePtr frame = makeFrame();
    frame->format = format;
    frame->nb_samples = samples;
    av_channel_layout_default(&frame->ch_layout, channels);
    frame->sample_rate = 48000;
    if (av_frame_get_buffer(frame.get(), 0) < 0)
        return nullptr;
    const bool planar = av_sample_fmt_is_planar(format);
    const int perPlane = planar ? samples : samples * channels;
    for (int p = 0; p < (planar ? channels : 1); ++p) {
        for (int i = 0; i < perPlane; ++i) {
            switch (av_get_packed_sample_fmt(format)) {
            case AV_SAMPLE_FMT_FLT:
                reinterpret_cast<float *>(frame->extended_data[p])[i] = float(value);
                break;
            case AV_SAMPLE_FMT_S16:
                reinterpret_cast<int16_t *>(frame->extended_data[p])[i] = int16_t(value);
                break;
            default:
                return nullptr;
            }
        }
    }
    return frame;
}

// Whether the filter library is mapped into this process.
bool filterLibraryLoaded()
{
    auto isFilterLibrary = [](dl_phdr_info *info, size_t, void *) {
        return info->dlpi_name && std::strstr(info->dlpi_name, "/libavfilter.so") ? 1 : 0;
    };
    return dl_iterate_phdr(isFilterLibrary, nullptr) != 0;
}

QList<OxAudioData *> drain(OxAudioResampler &resampler)
{
    QList<OxAudioData *> chunks;
    while (OxAudioData *chunk = resampler.popChunk().release())
        chunks.append(chunk);
    return chunks;
}

} // namespace

class tst_audio : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestHome> home;

private slots:
    void initTestCase()
    {
        // Loaded by the first tempo other than 1 (tempoKeepsThePitch), not at start.
        QVERIFY(!filterLibraryLoaded());
        keepSoundServer();
        home = std::make_unique<TestHome>();
    }

    void sampleFormatTable_data();
    void sampleFormatTable();
    void deviceFormatTable_data();
    void deviceFormatTable();
    void chunksFromConversion_data();
    void chunksFromConversion();
    void unknownLayoutCountsAsFrontLeft();
    void resetDropsThePartialChunk();
    void framesUnlikeTheStreamAreDropped();
    void pushModeOutputOnTheNullSink();
    void writeGivesUpWhenAsked();
    void tempoKeepsThePitch_data();
    void tempoKeepsThePitch();
};

void tst_audio::sampleFormatTable_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("type");
    QTest::newRow("u8") << int(AV_SAMPLE_FMT_U8) << 8 << int(QAudioFormat::UnSignedInt);
    QTest::newRow("u8p") << int(AV_SAMPLE_FMT_U8P) << 8 << int(QAudioFormat::UnSignedInt);
    QTest::newRow("s16") << int(AV_SAMPLE_FMT_S16) << 16 << int(QAudioFormat::SignedInt);
    QTest::newRow("s16p") << int(AV_SAMPLE_FMT_S16P) << 16 << int(QAudioFormat::SignedInt);
    QTest::newRow("s32") << int(AV_SAMPLE_FMT_S32) << 32 << int(QAudioFormat::SignedInt);
    QTest::newRow("s32p") << int(AV_SAMPLE_FMT_S32P) << 32 << int(QAudioFormat::SignedInt);
    QTest::newRow("flt") << int(AV_SAMPLE_FMT_FLT) << 32 << int(QAudioFormat::Float);
    QTest::newRow("fltp") << int(AV_SAMPLE_FMT_FLTP) << 32 << int(QAudioFormat::Float);
    QTest::newRow("dbl") << int(AV_SAMPLE_FMT_DBL) << 64 << int(QAudioFormat::Float);
    QTest::newRow("dblp") << int(AV_SAMPLE_FMT_DBLP) << 64 << int(QAudioFormat::Float);
    QTest::newRow("s64") << int(AV_SAMPLE_FMT_S64) << 64 << int(QAudioFormat::SignedInt);
    QTest::newRow("s64p is not listed")
        << int(AV_SAMPLE_FMT_S64P) << -1 << int(QAudioFormat::Unknown);
    QTest::newRow("none") << int(AV_SAMPLE_FMT_NONE) << -1 << int(QAudioFormat::Unknown);
}

void tst_audio::sampleFormatTable()
{
    QFETCH(int, format);
    QFETCH(int, size);
    QFETCH(int, type);
    const QAudioFormat f = OxAudioOutput::formatFor(format, 44100, 2);
    QCOMPARE(f.sampleSize(), size);
    QCOMPARE(int(f.sampleType()), type);
    QCOMPARE(f.sampleRate(), 44100);
    QCOMPARE(f.channelCount(), 2);
    QCOMPARE(f.codec(), QStringLiteral("audio/pcm"));
    QCOMPARE(f.byteOrder(), QAudioFormat::LittleEndian);
}

void tst_audio::deviceFormatTable_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("format");
    QTest::newRow("signed 32") << int(QAudioFormat::SignedInt) << 32 << int(AV_SAMPLE_FMT_S32);
    QTest::newRow("signed 64") << int(QAudioFormat::SignedInt) << 64 << int(AV_SAMPLE_FMT_S64);
    QTest::newRow("signed 16") << int(QAudioFormat::SignedInt) << 16 << int(AV_SAMPLE_FMT_S16);
    QTest::newRow("signed 24") << int(QAudioFormat::SignedInt) << 24 << int(AV_SAMPLE_FMT_S16);
    QTest::newRow("unsigned 8") << int(QAudioFormat::UnSignedInt) << 8 << int(AV_SAMPLE_FMT_U8);
    QTest::newRow("unsigned 16") << int(QAudioFormat::UnSignedInt) << 16 << int(AV_SAMPLE_FMT_U8);
    QTest::newRow("float 32") << int(QAudioFormat::Float) << 32 << int(AV_SAMPLE_FMT_FLT);
    QTest::newRow("float 64") << int(QAudioFormat::Float) << 64 << int(AV_SAMPLE_FMT_DBL);
    QTest::newRow("unknown 32") << int(QAudioFormat::Unknown) << 32 << int(AV_SAMPLE_FMT_FLT);
    QTest::newRow("unknown -1") << int(QAudioFormat::Unknown) << -1 << int(AV_SAMPLE_FMT_DBL);
}

void tst_audio::deviceFormatTable()
{
    QFETCH(int, type);
    QFETCH(int, size);
    QFETCH(int, format);
    QCOMPARE(int(OxAudioOutput::outputFormatFor(QAudioFormat::SampleType(type), size)), format);
}

void tst_audio::chunksFromConversion_data()
{
    QTest::addColumn<int>("inFormat");
    QTest::addColumn<int>("inChannels");
    QTest::addColumn<int>("outRate");
    QTest::addColumn<int>("outChannels");
    QTest::addColumn<bool>("convert");
    QTest::addColumn<int>("chunkBytes");
    QTest::addColumn<double>("value"); // input sample value
    QTest::addColumn<int>("expected"); // S16 output sample value
    QTest::newRow("fltp stereo to s16 stereo")
        << int(AV_SAMPLE_FMT_FLTP) << 2 << 48000 << 2 << true << 4096 << 0.5 << 16384;
    QTest::newRow("fltp stereo 48k to s16 mono 44.1k")
        << int(AV_SAMPLE_FMT_FLTP) << 2 << 44100 << 1 << true << 2048 << 0.25 << 8192;
    QTest::newRow("s16 stereo as is")
        << int(AV_SAMPLE_FMT_S16) << 2 << 48000 << 2 << false << 4096 << 1234.0 << 1234;
}

void tst_audio::chunksFromConversion()
{
    QFETCH(int, inFormat);
    QFETCH(int, inChannels);
    QFETCH(int, outRate);
    QFETCH(int, outChannels);
    QFETCH(bool, convert);
    QFETCH(int, chunkBytes);
    QFETCH(double, value);
    QFETCH(int, expected);
    const uint64_t outLayout = outChannels == 1 ? AV_CH_FRONT_CENTER : AV_CH_LAYOUT_STEREO;
    OxAudioResampler resampler(48000, AV_CH_LAYOUT_STEREO, inChannels, inFormat, outRate, outLayout,
                               outChannels, AV_SAMPLE_FMT_S16);
    QCOMPARE(resampler.needsConversion(), convert);
    QVERIFY(resampler.canConvert());
    QCOMPARE(resampler.samplesPerChunk(), 1024);
    QCOMPARE(resampler.chunkSize(0), chunkBytes);
    QCOMPARE(resampler.outputLayout(), outLayout);

    // One second of sound from 10 s on, in frames of 1000 samples (not a multiple of a
    // chunk).
    const double start = 10;
    for (int i = 0; i < 48; ++i) {
        AVFramePtr frame = makeAudioFrame(AVSampleFormat(inFormat), inChannels, 1000, value);
        QVERIFY(frame);
        resampler.pushFrame(frame.get(), start + i * 1000 / 48000.0);
    }
    const QList<OxAudioData *> chunks = drain(resampler);
    // Every whole chunk is out; less than one stays behind.
    const int expectedChunks = int(outRate / 1024);
    QVERIFY2(qAbs(chunks.size() - expectedChunks) <= 1, qPrintable(QString::number(chunks.size())));
    for (int i = 0; i < chunks.size(); ++i) {
        const OxAudioData *chunk = chunks[i];
        QCOMPARE(chunk->size[0], chunkBytes);
        QCOMPARE(chunk->size[1], 0);
        QVERIFY(chunk->data[1] == nullptr);
        QCOMPARE(chunk->format, inFormat);
        // Each chunk carries the time of its first sample, not of the frame that
        // completed it: the sound's clock is only as right as this.
        QVERIFY2(qAbs(chunk->time - (start + i * 1024.0 / outRate)) < 0.001,
                 qPrintable(QString::number(chunk->time, 'f', 4)));
    }
    // Past the resampler's start-up, every sample holds the converted value.
    const auto *samples = reinterpret_cast<const int16_t *>(chunks[2]->data[0]);
    for (int i = 0; i < chunkBytes / 2; ++i)
        QVERIFY2(qAbs(samples[i] - expected) <= 2, qPrintable(QString::number(samples[i])));
    qDeleteAll(chunks);
}

void tst_audio::unknownLayoutCountsAsFrontLeft()
{
    OxAudioResampler resampler(48000, 0, 1, AV_SAMPLE_FMT_FLTP, 48000, AV_CH_FRONT_CENTER, 1,
                               AV_SAMPLE_FMT_S16);
    QCOMPARE(resampler.inputLayout(), uint64_t(AV_CH_FRONT_LEFT));
    QVERIFY(resampler.needsConversion());
    QVERIFY(resampler.canConvert());
    AVFramePtr frame = makeAudioFrame(AV_SAMPLE_FMT_FLTP, 1, 2048, 0.5);
    resampler.pushFrame(frame.get(), 0);
    const QList<OxAudioData *> chunks = drain(resampler);
    QCOMPARE(chunks.size(), 2);
    QCOMPARE(chunks[0]->size[0], 2048);
    QVERIFY(qAbs(reinterpret_cast<const int16_t *>(chunks[1]->data[0])[100] - 16384) <= 2);
    qDeleteAll(chunks);
}

// A damaged stream can deliver a frame with fewer channels or another format than it
// declared: reading it as declared would read planes that are not there.
void tst_audio::framesUnlikeTheStreamAreDropped()
{
    for (int outFormat : {int(AV_SAMPLE_FMT_S16), int(AV_SAMPLE_FMT_FLTP)}) {
        OxAudioResampler resampler(48000, AV_CH_LAYOUT_STEREO, 2, AV_SAMPLE_FMT_FLTP, 48000,
                                   AV_CH_LAYOUT_STEREO, 2, outFormat);
        AVFramePtr mono = makeAudioFrame(AV_SAMPLE_FMT_FLTP, 1, 2048, 0.5);
        resampler.pushFrame(mono.get(), 0);
        AVFramePtr packed = makeAudioFrame(AV_SAMPLE_FMT_S16, 2, 2048, 100);
        resampler.pushFrame(packed.get(), 0);
        QCOMPARE(resampler.queuedChunks(), qint64(0));
        AVFramePtr good = makeAudioFrame(AV_SAMPLE_FMT_FLTP, 2, 2048, 0.5);
        resampler.pushFrame(good.get(), 1.0);
        QCOMPARE(resampler.queuedChunks(), qint64(2));
    }
}

void tst_audio::resetDropsThePartialChunk()
{
    // Both with and without a converter in the way.
    for (int inFormat : {int(AV_SAMPLE_FMT_S16), int(AV_SAMPLE_FMT_FLTP)}) {
        OxAudioResampler resampler(48000, AV_CH_LAYOUT_STEREO, 2, inFormat, 48000,
                                   AV_CH_LAYOUT_STEREO, 2, AV_SAMPLE_FMT_S16);
        const bool isFloat = inFormat == AV_SAMPLE_FMT_FLTP;
        AVFramePtr old = makeAudioFrame(AVSampleFormat(inFormat), 2, 700, isFloat ? -0.5 : -999);
        resampler.pushFrame(old.get(), 1.0);
        QCOMPARE(resampler.queuedChunks(), qint64(0));
        resampler.reset();
        AVFramePtr fresh = makeAudioFrame(AVSampleFormat(inFormat), 2, 1024, isFloat ? 0.5 : 777);
        resampler.pushFrame(fresh.get(), 5.0);
        resampler.pushFrame(fresh.get(), 5.1);
        const QList<OxAudioData *> chunks = drain(resampler);
        QVERIFY(!chunks.isEmpty());
        QCOMPARE(chunks[0]->time, 5.0);
        const auto *samples = reinterpret_cast<const int16_t *>(chunks[0]->data[0]);
        const int wanted = isFloat ? 16384 : 777;
        for (int i = 0; i < 2048; ++i)
            QVERIFY2(qAbs(samples[i] - wanted) <= 2, // nothing of the old, negative, sound
                     qPrintable(QString("%1: %2").arg(i).arg(samples[i])));
        qDeleteAll(chunks);
    }
}

void tst_audio::pushModeOutputOnTheNullSink()
{
    if (QAudioDeviceInfo::defaultOutputDevice().isNull())
        QSKIP("no sound device here (the test services start a null sink)");
    const QAudioFormat preferred = QAudioDeviceInfo::defaultOutputDevice().preferredFormat();
    OxAudioOutput output;
    output.setVolume(0.5f);
    QCOMPARE(output.start(preferred.sampleRate(), AV_SAMPLE_FMT_S16, 2), 0);
    QVERIFY(output.isStarted());
    QCOMPARE(output.format().sampleSize(), 16);
    // A second of silence goes in; the device's consumption paces the writes.
    const int second = preferred.sampleRate() * 4;
    QByteArray silence(second, '\0');
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(output.write(reinterpret_cast<const uint8_t *>(silence.constData()), silence.size()),
             0);
    QCOMPARE(output.write(reinterpret_cast<const uint8_t *>(silence.constData()), silence.size()),
             0);
    QVERIFY2(timer.elapsed() > 500, qPrintable(QString::number(timer.elapsed())));
    output.stop();
    QVERIFY(!output.isStarted());
    QCOMPARE(output.write(reinterpret_cast<const uint8_t *>(silence.constData()), 4), -1);
}

void tst_audio::writeGivesUpWhenAsked()
{
    if (QAudioDeviceInfo::defaultOutputDevice().isNull())
        QSKIP("no sound device here (the test services start a null sink)");
    OxAudioOutput output;
    QCOMPARE(output.start(44100, AV_SAMPLE_FMT_S16, 2), 0);
    // Far more than the device holds: the write waits for room until it is told to stop.
    const QByteArray tenSeconds(44100 * 4 * 10, '\0');
    std::atomic<bool> abort{false};
    std::atomic<int> result{1};
    QThread *writer = QThread::create([&] {
        result = output.write(reinterpret_cast<const uint8_t *>(tenSeconds.constData()),
                              tenSeconds.size(), &abort);
    });
    writer->start();
    QTest::qWait(300);
    QVERIFY(writer->isRunning());
    abort = true;
    QTRY_VERIFY_WITH_TIMEOUT(writer->isFinished(), 2000);
    QCOMPARE(result.load(), -1);
    writer->wait();
    delete writer;
    output.stop();
}

void tst_audio::tempoKeepsThePitch_data()
{
    QTest::addColumn<double>("tempo");
    QTest::addColumn<int>("channels");
    QTest::newRow("quarter, two filters in a row") << 0.25 << 2;
    QTest::newRow("half") << 0.5 << 2;
    QTest::newRow("double, mono") << 2.0 << 1;
}

// Two seconds of a 1 kHz tone come out 1/tempo as long, still at 1 kHz.
void tst_audio::tempoKeepsThePitch()
{
    QFETCH(double, tempo);
    QFETCH(int, channels);
    constexpr int rate = 48000;
    std::vector<int16_t> tone(size_t(2 * rate * channels));
    for (size_t i = 0; i < tone.size(); ++i)
        tone[i] = int16_t(8000 * std::sin(2 * M_PI * 1000 * double(i / channels) / rate));

    OxAudioTempo filter(rate, AV_SAMPLE_FMT_S16, channels);
    QVERIFY(filter.setTempo(tempo));
    QVERIFY(filterLibraryLoaded());
    std::vector<uint8_t> out;
    const int chunk = 1024 * channels * 2;
    const auto *bytes = reinterpret_cast<const uint8_t *>(tone.data());
    for (size_t at = 0; at < tone.size() * 2; at += size_t(chunk))
        filter.process(bytes + at, chunk, &out);
    QVERIFY(filter.heldSeconds() < 0.2);

    const auto *samples = reinterpret_cast<const int16_t *>(out.data());
    const int frames = int(out.size() / 2 / size_t(channels));
    const double seconds = double(frames) / rate;
    QVERIFY2(qAbs(seconds * tempo / 2 - 1) < 0.1, qPrintable(QString::number(seconds)));
    // Rising zero crossings of the first channel, away from the filter's start.
    int crossings = 0;
    for (int i = rate / 10 + 1; i < frames; ++i)
        crossings += samples[(i - 1) * channels] < 0 && samples[i * channels] >= 0 ? 1 : 0;
    const double hertz = crossings / (double(frames - rate / 10) / rate);
    QVERIFY2(qAbs(hertz / 1000 - 1) < 0.03, qPrintable(QString::number(hertz)));
}

QTEST_GUILESS_MAIN(tst_audio)
#include "tst_audio.moc"
