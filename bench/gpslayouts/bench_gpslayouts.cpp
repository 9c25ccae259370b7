// The GPS step of opening a 1 GiB recording whose track is binary: one GPS block a
// second for 3 minutes found through the "gps " index, the same recording without
// the index (the start-of-mdat scan, against reading its first 20 MiB with cat in
// the same run), and a KLV metadata track of 18 GPS samples a second.
//
// The recordings are a 3-minute FFmpeg clip with 1 GiB of GPS data and filler put
// into its "mdat"; they are made once and cached in bench-cache/gpslayouts.
#include "benchsupport.h"
#include "gpsextract.h"
#include "gpslayouts.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QtEndian>

extern "C" {
#include <libavutil/log.h>
}

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

const int kSeconds = 180;
const qint64 kRegion = qint64(1) << 30;
const qint64 kSlot = kRegion / kSeconds / 0x8000 * 0x8000;
const int kKlvRate = 18;

// The layout of the most common block (float32 record at 0x30), one per second
// from 16:45:00, moving north-east.
QByteArray block(int s)
{
    QByteArray b = gpsBlock(0x8000, {{0x00, "00 00 80 00 66 72 65 65 47 50 53 20 4c 00 00 00"},
                                     {0x3C, "11 00 00 00 0c 00 00 00 1f 00 00 00 41 4e 45 00"}});
    auto put = [&b](int at, auto value) {
        const auto le = qToLittleEndian(value);
        b.replace(at, int(sizeof le), reinterpret_cast<const char *>(&le), int(sizeof le));
    };
    put(0x30, quint32(16));
    put(0x34, quint32(45 + s / 60));
    put(0x38, quint32(s % 60));
    put(0x4C, 5427.2954f + s * 0.01f);
    put(0x50, 1832.9584f + s * 0.01f);
    put(0x54, 7.51f);
    return b;
}

QByteArray klvItem(const char *key, char type, int structSize, int repeat,
                   const QByteArray &payload)
{
    QByteArray item(key, 4);
    item += type;
    item += char(structSize);
    item += char(repeat >> 8);
    item += char(repeat & 0xFF);
    item += payload;
    while (item.size() % 4)
        item += '\0';
    return item;
}

QByteArray be32s(std::initializer_list<qint32> values)
{
    QByteArray out;
    for (qint32 v : values) {
        QByteArray b(4, '\0');
        qToBigEndian(v, b.data());
        out += b;
    }
    return out;
}

// One second of KLV: fix, time of the first sample, scales and 18 GPS5 samples.
QByteArray klvSample(int s)
{
    QByteArray gps5;
    for (int i = 0; i < kKlvRate; ++i)
        gps5 += be32s({473558662 + (s * kKlvRate + i) * 100, 85134765 + (s * kKlvRate + i) * 100,
                       412345, 11585, 1159});
    const QByteArray utc = QStringLiteral("240315%1%2%3.000")
                               .arg(12 + (30 + s / 60) / 60, 2, 10, QLatin1Char('0'))
                               .arg((30 + s / 60) % 60, 2, 10, QLatin1Char('0'))
                               .arg(s % 60, 2, 10, QLatin1Char('0'))
                               .toLatin1();
    const QByteArray stream =
        klvItem("GPSF", 'L', 4, 1, be32s({3})) + klvItem("GPSU", 'U', 16, 1, utc) +
        klvItem("SCAL", 'l', 4, 5, be32s({10000000, 10000000, 1000, 1000, 100})) +
        klvItem("GPS5", 'l', 20, kKlvRate, gps5);
    const QByteArray strm = klvItem("STRM", '\0', 4, stream.size() / 4, stream);
    return klvItem("DEVC", '\0', 4, strm.size() / 4, strm);
}

// The 3-minute picture and sound clip the GPS data goes into, made once.
QString baseClip(const QString &cache)
{
    const QString path = cache + QStringLiteral("/base180.mp4");
    if (QFile::exists(path))
        return path;
    std::fprintf(stderr, "bench_gpslayouts: making the %d s clip once\n", kSeconds);
    const QString partial = cache + QStringLiteral("/base180.part.mp4");
    const QString seconds = QString::number(kSeconds);
    QProcess ffmpeg;
    ffmpeg.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    ffmpeg.start(QStringLiteral("ffmpeg"),
                 {"-hide_banner",
                  "-nostdin",
                  "-loglevel",
                  "error",
                  "-y",
                  "-f",
                  "lavfi",
                  "-i",
                  "testsrc2=size=640x360:rate=30:duration=" + seconds,
                  "-f",
                  "lavfi",
                  "-i",
                  "sine=frequency=1000:sample_rate=48000:duration=" + seconds,
                  "-c:v",
                  "libx264",
                  "-preset",
                  "ultrafast",
                  "-pix_fmt",
                  "yuv420p",
                  "-c:a",
                  "aac",
                  partial});
    if (!ffmpeg.waitForFinished(-1) || ffmpeg.exitCode() != 0 || !QFile::rename(partial, path)) {
        QFile::remove(partial);
        return QString();
    }
    return path;
}

QString cached(const QString &cache, const QString &name, const QString &base,
               const GpsLayoutSpec &recipe)
{
    const QString path = cache + QLatin1Char('/') + name;
    if (QFile::exists(path))
        return path;
    std::fprintf(stderr, "bench_gpslayouts: making %s once\n", qPrintable(path));
    const QString partial = path + QStringLiteral(".part");
    if (!writeGpsLayout(base, partial, recipe) || !QFile::rename(partial, path)) {
        QFile::remove(partial);
        return QString();
    }
    return path;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    av_log_set_level(AV_LOG_QUIET);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});

    const QString cache = QDir::currentPath() + QStringLiteral("/bench-cache/gpslayouts");
    QDir().mkpath(cache);
    const QString base = baseClip(cache);
    GpsLayoutSpec indexed;
    for (int s = 0; s < kSeconds; ++s)
        indexed.blocks << block(s);
    indexed.slot = kSlot;
    indexed.regionSize = kRegion;
    GpsLayoutSpec scanned = indexed;
    scanned.index = false;
    GpsLayoutSpec klv;
    klv.track.format = "gpmd";
    for (int s = 0; s < kSeconds; ++s)
        klv.track.samples << klvSample(s);
    klv.slot = kSlot;
    klv.regionSize = kRegion;

    const QString indexPath =
        base.isEmpty() ? QString() : cached(cache, QStringLiteral("index1g.mp4"), base, indexed);
    const QString scanPath =
        base.isEmpty() ? QString() : cached(cache, QStringLiteral("scan1g.mp4"), base, scanned);
    const QString klvPath =
        base.isEmpty() ? QString() : cached(cache, QStringLiteral("klv1g.mp4"), base, klv);
    if (indexPath.isEmpty() || scanPath.isEmpty() || klvPath.isEmpty()) {
        std::fprintf(stderr, "bench_gpslayouts: could not make the recordings\n");
        return 1;
    }

    auto step = [](const QString &path, int &fixes, QString &source) {
        GpsReport report;
        fixes = loadTrack(path, &report).size();
        source = report.source;
    };
    int indexFixes = 0, scanFixes = 0, klvFixes = 0;
    QString indexSource, scanSource, klvSource;
    const double indexMs = medianMs([&] { step(indexPath, indexFixes, indexSource); });
    const double scanMs = medianMs([&] { step(scanPath, scanFixes, scanSource); });
    const double catMs = medianMs([&] {
        QProcess::execute(
            QStringLiteral("sh"),
            {"-c", QStringLiteral("cat '%1' | head -c 20971520 > /dev/null").arg(scanPath)});
    });
    const double klvMs = medianMs([&] { step(klvPath, klvFixes, klvSource); });

    std::printf("recordings: %s %lld bytes, %d fixes from the %s; %s, %d fixes from the %s; "
                "%s, %d fixes from the %s\n",
                qPrintable(indexPath), QFile(indexPath).size(), indexFixes, qPrintable(indexSource),
                qPrintable(scanPath), scanFixes, qPrintable(scanSource), qPrintable(klvPath),
                klvFixes, qPrintable(klvSource));
    if (indexFixes != kSeconds || klvFixes != kSeconds || scanFixes < 1) {
        std::fprintf(stderr, "bench_gpslayouts: wrong tracks\n");
        return 1;
    }
    std::printf("figure gps_binary_index_ms value=%.2f reference=- target=30\n", indexMs);
    std::printf("figure gps_binary_scan_ms value=%.2f reference=%.2f target=%.2f\n", scanMs, catMs,
                std::max(catMs, 100.0));
    std::printf("figure gps_klv_track_ms value=%.2f reference=- target=50\n", klvMs);
    return 0;
}
