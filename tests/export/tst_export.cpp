#include "evidenceexport.h"
#include "exportband.h"
#include "gpsbox.h"
#include "streamreader.h"
#include "testhome.h"
#include "testrecordings.h"
#include "version.h"

#include <QCryptographicHash>
#include <QProcess>
#include <QtTest>

#include <cmath>
#include <memory>
#include <sys/stat.h>

// Evidence export on two recordings made at test time, played back to back: clip A then
// clip B, each 4 s of 25 pictures a second whose luma tells their number and an NMEA track
// whose speed is 20 knots, then 50 from A's fourth second to B's second, then 20. A has no
// sound, B a tone.
class tst_export : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void exportAcrossClipBoundary();
    void rearCameraInTheCorner();
    void failuresLeaveNothing_data();
    void failuresLeaveNothing();

private:
    struct Run
    {
        int code = -1;
        QByteArray out;
        QByteArray err;
    };
    Run runTool(const QStringList &args, const QString &fileSizeLimit = QString());
    QString freshFolder(const QString &name);

    std::unique_ptr<TestHome> home;
    QString dir, clipA, clipB;
};

static const int kFps = 25;
static const double kClipSeconds = 4;

tst_export::Run tst_export::runTool(const QStringList &args, const QString &fileSizeLimit)
{
    QString program = QStringLiteral(DASHCAM_RUNTIME_DIR "/dashcam-export");
    QStringList all = args;
    if (!fileSizeLimit.isEmpty()) {
        all.prepend(program);
        all.prepend(QStringLiteral("--fsize=") + fileSizeLimit);
        program = QStringLiteral("prlimit");
    }
    QProcess p;
    p.start(program, all);
    Run r;
    if (!p.waitForFinished(120000))
        return r;
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

QString tst_export::freshFolder(const QString &name)
{
    const QString path = home->path() + QLatin1Char('/') + name;
    QDir(path).removeRecursively();
    QDir().mkpath(path);
    return path;
}

static QByteArray sha256(const QString &path)
{
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    return file.open(QIODevice::ReadOnly) && hash.addData(&file) ? hash.result().toHex()
                                                                 : QByteArray();
}

static QStringList leftovers(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

void tst_export::initTestCase()
{
    av_log_set_level(AV_LOG_ERROR); // no stream summaries or encoder statistics
    home = std::make_unique<TestHome>();
    dir = home->path() + QStringLiteral("/card");
    RecordingSpec recipe = smallRecipe(kClipSeconds, 320, 240);
    recipe.fpsNum = kFps;
    const double knots[2][4] = {{20, 20, 20, 50}, {50, 50, 20, 20}};
    for (int clip = 0; clip < 2; ++clip) {
        recipe.audioCodec = clip ? QStringLiteral("aac") : QString();
        recipe.subtitles.clear();
        for (int s = 0; s < 4; ++s)
            recipe.subtitles << SubtitleCue{
                double(s), s + 0.9,
                QString::fromLatin1(rmcSentence(clip * 4 + s, "$GPRMC", 'A', knots[clip][s]))};
        // B's name holds what a checksum list would have to escape.
        const QString path = requireRecording(
            dir, clip ? QStringLiteral("clip 2") : QStringLiteral("clip 1"), recipe);
        (clip ? clipB : clipA) = path;
    }
    const QString odd = dir + QStringLiteral("/clip 2 \\ odd\nname.mp4");
    QVERIFY(QFile::rename(clipB, odd));
    clipB = odd;
}

// Mean luma of rows [top, bottom) of columns [left, right) of a plane of the given width.
static double meanLuma(const QByteArray &plane, int width, QRect area)
{
    double sum = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            sum += quint8(plane[y * width + x]);
    return sum / (area.width() * area.height());
}

static double meanDifference(const QByteArray &a, const QByteArray &b, int width, QRect area)
{
    double sum = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            sum += qAbs(int(quint8(a[y * width + x])) - int(quint8(b[y * width + x])));
    return sum / (area.width() * area.height());
}

void tst_export::exportAcrossClipBoundary()
{
    const QString out = freshFolder(QStringLiteral("exports"));
    const double from = 2.48, to = 6.2; // A's picture 62 to B's picture 54
    // The folder as argument: the tool puts its recordings in natural name order.
    const Run run =
        runTool({"--from", QString::number(from), "--to", QString::number(to), "--out", out, dir});
    QVERIFY2(run.code == 0, run.err.constData());
    const QString folder = QString::fromLocal8Bit(run.out.trimmed());
    QCOMPARE(QFileInfo(folder).fileName(), QStringLiteral("dashcam-20240307-080002"));
    QCOMPARE(leftovers(out), QStringList{QFileInfo(folder).fileName()});

    // Every picture is the span's, in order, across the boundary; the band below them.
    StreamReader reader;
    QVERIFY(reader.open(QFile::encodeName(folder + "/clip.mp4").constData()) >= 0);
    QVERIFY(reader.audioStream());
    QVERIFY(qAbs(reader.duration() - (to - from)) < 1.0 / kFps);
    QCOMPARE(reader.videoContext()->pix_fmt, AV_PIX_FMT_YUV420P);
    const int w = reader.videoContext()->width, h = reader.videoContext()->height;
    const ExportBand band(QSize(w, h), SpeedUnit::Kmh, {}, false);
    QVector<QByteArray> planes;
    AVFramePtr frame = makeFrame();
    while (reader.decodeNextPicture(frame.get()) >= 0) {
        QByteArray plane;
        for (int y = 0; y < h; ++y)
            plane += QByteArray(
                reinterpret_cast<const char *>(frame->data[0] + y * frame->linesize[0]), w);
        const double t = from + double(planes.size()) / kFps;
        const int source = qRound((t < kClipSeconds ? t : t - kClipSeconds) * kFps);
        const int shown =
            frameNumberFromLuma(qRound(meanLuma(plane, w, QRect(0, 0, w, band.top()))));
        QVERIFY2(shown == source % kLumaCycle,
                 qPrintable(QStringLiteral("picture %1 shows %2, not %3")
                                .arg(planes.size())
                                .arg(shown)
                                .arg(source)));
        const QByteArray flat(plane.size(), char(frameLuma(source)));
        QVERIFY(meanDifference(plane, flat, w, QRect(0, band.top(), w, h - band.top())) > 10);
        planes << plane;
    }
    QCOMPARE(planes.size(), qRound((to - from) * kFps));

    // The speed field changes where the track's speed changes, and only there (two digits
    // of a 9-pixel font differ by about 5 on average over the field, encoding noise by 0.5).
    const QRect speed = band.fieldRect(ExportBand::Speed).translated(0, band.top());
    auto at = [&](double t) { return planes[qRound((t - from) * kFps)]; };
    QVERIFY(meanDifference(at(2.6), at(3.2), w, speed) > 2.5); // 20 -> 50 knots
    QVERIFY(meanDifference(at(3.2), at(4.2), w, speed) < 1.2); // 50 in A, 50 in B
    QVERIFY(meanDifference(at(5.2), at(6.1), w, speed) > 2.5); // 50 -> 20

    // Silence stands in for A's missing sound and B's tone starts with B's first picture;
    // the sound lasts as long as the pictures (5 ms windows, the edges left out).
    StreamReader sound;
    QVERIFY(sound.open(QFile::encodeName(folder + "/clip.mp4").constData()) >= 0);
    const double boundary = kClipSeconds - from;
    AVPacketPtr packet = makePacket();
    qint64 samples = 0;
    int misplaced = 0;
    while (sound.readFrame(packet.get()) >= 0) {
        if (sound.isAudioPacket(packet.get()) &&
            avcodec_send_packet(sound.audioContext(), packet.get()) >= 0) {
            while (avcodec_receive_frame(sound.audioContext(), frame.get()) >= 0) {
                const float *left = reinterpret_cast<const float *>(frame->extended_data[0]);
                for (int i = 0; i + 240 <= frame->nb_samples; i += 240) {
                    float peak = 0;
                    for (int k = i; k < i + 240; ++k)
                        peak = qMax(peak, qAbs(left[k]));
                    const double start = (samples + i) / 48000.0, end = start + 0.005;
                    if (end < boundary - 0.005 || (start > boundary + 0.005 && end < to - from))
                        misplaced += (peak > 0.05f) != (start > boundary);
                }
                samples += frame->nb_samples;
            }
        }
        av_packet_unref(packet.get());
    }
    QVERIFY(qAbs(samples / 48000.0 - (to - from)) < 1.0 / kFps);
    QCOMPARE(misplaced, 0);

    // The originals bit for bit, the checksums as sha256sum checks them, the manifest.
    QCOMPARE(sha256(folder + "/originals/clip 1.mp4"), sha256(clipA));
    QCOMPARE(sha256(folder + "/originals/clip 2 _ odd_name.mp4"), sha256(clipB));
    QProcess check;
    check.setWorkingDirectory(folder);
    check.start(QStringLiteral("sha256sum"), {"--strict", "-c", "SHA256SUMS"});
    QVERIFY(check.waitForFinished(30000));
    const QByteArray checked = check.readAll();
    QVERIFY2(check.exitCode() == 0, checked.constData());
    QCOMPARE(checked.count(": OK\n"), 6);
    QFile manifest(folder + "/manifest.txt");
    QVERIFY(manifest.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(manifest.readAll());
    for (const QString &needle :
         {clipA, clipB, QString::fromLatin1(sha256(clipB)), QString::fromLatin1(kVersionText),
          QStringLiteral("2024-03-07 08:00:02.480 UTC"), QStringLiteral("0.000 s to 2.200 s")})
        QVERIFY2(text.contains(needle), qPrintable(needle));
}

// A front and a rear recorded together (paired by their names), of other sizes and rates:
// every exported picture shows the front's picture of its moment, and in the top right
// corner the rear's latest picture at or before it.
void tst_export::rearCameraInTheCorner()
{
    const QString pair = home->path() + QStringLiteral("/pair");
    RecordingSpec recipe = smallRecipe(3, 320, 240);
    recipe.audioCodec.clear();
    const QString front = requireRecording(pair, QStringLiteral("20240307_080000_F"), recipe);
    recipe.width = 160;
    recipe.height = 120;
    recipe.fpsNum = 20;
    requireRecording(pair, QStringLiteral("20240307_080000_R"), recipe);

    const QString out = freshFolder(QStringLiteral("rear-exports"));
    const double from = 1.0, to = 2.2;
    const Run run = runTool({"--from", QString::number(from), "--to", QString::number(to), "--rear",
                             "--no-band", "--out", out, front});
    QVERIFY2(run.code == 0, run.err.constData());
    StreamReader reader;
    QVERIFY(reader.open(QFile::encodeName(QString::fromLocal8Bit(run.out.trimmed()) + "/clip.mp4")
                            .constData()) >= 0);
    const int w = reader.videoContext()->width, h = reader.videoContext()->height;
    AVFramePtr frame = makeFrame();
    int n = 0;
    for (; reader.decodeNextPicture(frame.get()) >= 0; ++n) {
        QByteArray plane;
        for (int y = 0; y < h; ++y)
            plane += QByteArray(
                reinterpret_cast<const char *>(frame->data[0] + y * frame->linesize[0]), w);
        const double t = from + double(n) / kFps;
        const int shown = frameNumberFromLuma(qRound(meanLuma(plane, w, QRect(0, 0, w / 2, h))));
        const int rear = frameNumberFromLuma(qRound(meanLuma(plane, w, QRect(240, 8, 72, 52))));
        QCOMPARE(shown, qRound(t * kFps) % kLumaCycle);
        QCOMPARE(rear, int(std::floor(t * 20 + 1e-3)) % kLumaCycle);
    }
    QCOMPARE(n, qRound((to - from) * kFps));
}

enum Failure { Library, Cancel, CommandWithSizeLimit };

void tst_export::failuresLeaveNothing_data()
{
    QTest::addColumn<int>("how");
    QTest::addColumn<QString>("source"); // a clip, or a damaged stand-in made here
    QTest::addColumn<double>("from");
    QTest::addColumn<double>("to");
    QTest::addColumn<QString>("message");
    QTest::newRow("garbage source") << int(Library) << "garbage" << 0.0 << 2.0 << "cannot read";
    QTest::newRow("truncated source") << int(Library) << "truncated" << 0.0 << 2.0 << "cannot read";
    QTest::newRow("fifo source") << int(Library) << "fifo" << 0.0 << 2.0 << "not a readable file";
    QTest::newRow("span outside") << int(Library) << "clip" << 10.0 << 12.0 << "outside";
    QTest::newRow("cancel") << int(Cancel) << "clip" << 0.0 << 4.0 << "cancelled";
    QTest::newRow("file size limit")
        << int(CommandWithSizeLimit) << "clip" << 0.0 << 4.0 << "File too large";
}

void tst_export::failuresLeaveNothing()
{
    QFETCH(int, how);
    QFETCH(QString, source);
    QFETCH(double, from);
    QFETCH(double, to);
    QFETCH(QString, message);
    const QString out = freshFolder(QStringLiteral("failed"));
    const QString bad = home->path() + QStringLiteral("/bad.mp4");
    QFile::remove(bad);
    QString path = clipA;
    if (source == QLatin1String("garbage"))
        path = makeGarbage(bad, 100000);
    else if (source == QLatin1String("truncated"))
        path = makeTruncated(clipA, bad);
    else if (source == QLatin1String("fifo"))
        path = ::mkfifo(QFile::encodeName(bad).constData(), 0600) == 0 ? bad : QString();
    QVERIFY(!path.isEmpty());

    QString error;
    if (how == CommandWithSizeLimit) {
        // Each file may grow to 20 kB: the clip is larger.
        const Run run = runTool(
            {"--from", QString::number(from), "--to", QString::number(to), "--out", out, clipA},
            QStringLiteral("20000"));
        QCOMPARE(run.code, 1);
        error = QString::fromLocal8Bit(run.err);
    } else {
        ExportRequest request;
        request.sources = {ExportSource{path, 0, kClipSeconds, 0}};
        request.from = from;
        request.to = to;
        request.targetFolder = out;
        std::atomic<bool> stop{false};
        const ExportResult result = runExport(request, &stop, [&](double fraction, double) {
            if (how == Cancel && fraction > 0)
                stop = true;
        });
        QVERIFY(!result.ok);
        QCOMPARE(result.cancelled, how == Cancel);
        error = result.error;
    }
    QVERIFY2(error.contains(message), qPrintable(error));
    QCOMPARE(leftovers(out), QStringList());
    QFile::remove(bad);
}

QTEST_MAIN(tst_export)
#include "tst_export.moc"
