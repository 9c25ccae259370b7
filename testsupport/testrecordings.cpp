#include "testrecordings.h"

#include "gpsbox.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QtEndian>

#include <cmath>

namespace {

QString srtTime(double seconds)
{
    const qint64 ms = qRound64(seconds * 1000);
    return QString::asprintf("%02lld:%02lld:%02lld,%03lld", ms / 3600000, (ms / 60000) % 60,
                             (ms / 1000) % 60, ms % 1000);
}

bool writeSrt(const QString &path, const QVector<SubtitleCue> &cues)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    QByteArray text;
    for (int i = 0; i < cues.size(); ++i) {
        text += QByteArray::number(i + 1) + "\r\n";
        text += (srtTime(cues[i].start) + " --> " + srtTime(cues[i].end)).toUtf8() + "\r\n";
        text += cues[i].text.toUtf8() + "\r\n\r\n";
    }
    return file.write(text) == text.size();
}

} // namespace

int frameLuma(int frameNumber)
{
    const int step = ((frameNumber % kLumaCycle) + kLumaCycle) % kLumaCycle;
    return 16 + 9 * step; // 16 .. 232, nine apart so that +-4 never overlaps
}

int frameNumberFromLuma(int luma)
{
    const int n = qRound((luma - 16) / 9.0);
    return ((n % kLumaCycle) + kLumaCycle) % kLumaCycle;
}

QString requireRecording(const QString &dir, const QString &name, const RecordingSpec &recipe)
{
    const QString path = makeRecording(dir, name, recipe);
    if (path.isEmpty())
        qFatal("could not make the test recording %s", qPrintable(name));
    return path;
}

RecordingSpec smallRecipe(double seconds, int width, int height)
{
    RecordingSpec recipe;
    recipe.seconds = seconds;
    recipe.width = width;
    recipe.height = height;
    return recipe;
}

RecordingSpec frontChannelRecipe(double seconds)
{
    RecordingSpec recipe = smallRecipe(seconds, 64, 48);
    recipe.fpsNum = 30;
    recipe.gop = 30;
    return recipe;
}

RecordingSpec rearChannelRecipe(double seconds)
{
    RecordingSpec recipe = smallRecipe(seconds, 48, 32);
    recipe.audioCodec.clear();
    return recipe;
}

bool runFfmpeg(const QStringList &arguments, int timeoutMs)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral("ffmpeg"),
                  QStringList{"-hide_banner", "-nostdin", "-loglevel", "error", "-y"} + arguments);
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        qWarning() << "ffmpeg did not finish:" << arguments;
        return false;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        qWarning() << "ffmpeg failed:" << arguments << process.readAll();
        return false;
    }
    return true;
}

QString makeRecording(const QString &dir, const QString &name, const RecordingSpec &recipe)
{
    QDir().mkpath(dir);
    const QString path = dir + QLatin1Char('/') + name + QLatin1Char('.') + recipe.container;
    const QString duration = QString::number(recipe.seconds, 'f', 3);
    QStringList args;
    QStringList maps;
    int input = 0;

    if (!recipe.videoCodec.isEmpty()) {
        args << "-f"
             << "lavfi"
             << "-i"
             << QStringLiteral("color=c=black:size=%1x%2:rate=%3/%4:duration=%5,format=yuv420p,"
                               "geq=lum='16+9*mod(N,%6)':cb=128:cr=128")
                    .arg(recipe.width)
                    .arg(recipe.height)
                    .arg(recipe.fpsNum)
                    .arg(recipe.fpsDen)
                    .arg(duration)
                    .arg(kLumaCycle);
        maps << "-map" << QStringLiteral("%1:v").arg(input++);
        if (recipe.secondVideo.isValid()) {
            args << "-f"
                 << "lavfi"
                 << "-i"
                 << QStringLiteral("color=c=black:size=%1x%2:rate=%3/%4:duration=%5,"
                                   "format=yuv420p,geq=lum='16+9*mod(N,%6)':cb=128:cr=128")
                        .arg(recipe.secondVideo.width())
                        .arg(recipe.secondVideo.height())
                        .arg(recipe.fpsNum)
                        .arg(recipe.fpsDen)
                        .arg(duration)
                        .arg(kLumaCycle);
            maps << "-map" << QStringLiteral("%1:v").arg(input++);
        }
    }
    if (!recipe.audioCodec.isEmpty()) {
        args << "-f"
             << "lavfi"
             << "-i"
             << QStringLiteral("sine=frequency=1000:sample_rate=%1:duration=%2")
                    .arg(recipe.sampleRate)
                    .arg(duration);
        maps << "-map" << QStringLiteral("%1:a").arg(input++);
    }
    QString srt;
    if (!recipe.subtitles.isEmpty()) {
        srt = dir + QLatin1Char('/') + name + QStringLiteral(".input.srt");
        if (!writeSrt(srt, recipe.subtitles))
            return QString();
        args << "-i" << srt;
        maps << "-map" << QStringLiteral("%1:s").arg(input++);
    }
    if (input == 0)
        return QString();
    args << maps;

    if (recipe.videoCodec == QLatin1String("h264")) {
        args << "-c:v"
             << "libx264"
             << "-preset"
             << "ultrafast"
             << "-bf" << QString::number(recipe.bFrames) << "-threads"
             << "1";
    } else if (recipe.videoCodec == QLatin1String("mpeg4")) {
        args << "-c:v"
             << "mpeg4"
             << "-q:v"
             << "2";
    } else if (!recipe.videoCodec.isEmpty()) {
        args << "-c:v" << recipe.videoCodec;
    }
    if (!recipe.videoCodec.isEmpty())
        args << "-pix_fmt"
             << "yuv420p"
             << "-g" << QString::number(recipe.gop);
    if (!recipe.audioCodec.isEmpty())
        args << "-c:a" << recipe.audioCodec << "-ar" << QString::number(recipe.sampleRate) << "-ac"
             << QString::number(recipe.channels);
    if (!srt.isEmpty())
        args << "-c:s" << (recipe.container == QLatin1String("mkv") ? "srt" : "mov_text");
    if (recipe.startTime != 0)
        args << "-output_ts_offset" << QString::number(recipe.startTime, 'f', 3);
    args << "-fflags"
         << "+bitexact"
         << "-map_metadata"
         << "-1";
    if (!recipe.creationTime.isEmpty())
        args << "-metadata" << QStringLiteral("creation_time=%1").arg(recipe.creationTime);
    args << path;

    const bool ok = runFfmpeg(args);
    if (!srt.isEmpty())
        QFile::remove(srt);
    return ok && QFile::exists(path) ? path : QString();
}

QVector<SubtitleCue> nmeaDriveCues(const QDateTime &start, int seconds, double latitude,
                                   double longitude, double kmh, double heading)
{
    return nmeaSpeedCues(start, QVector<double>(seconds, kmh), latitude, longitude, heading);
}

QVector<SubtitleCue> nmeaSpeedCues(const QDateTime &start, const QVector<double> &kmh,
                                   double latitude, double longitude, double heading,
                                   const QVector<GSensorReading> &gsensor)
{
    const double kmPerDegree = 111.195;
    const double h = heading * M_PI / 180;
    QVector<SubtitleCue> cues;
    double kmhSeconds = 0; // summed before dividing: a steady speed gives kmh * s exactly
    for (int s = 0; s < kmh.size(); ++s) {
        if (s > 0)
            kmhSeconds += kmh[s - 1];
        const double km = kmhSeconds / 3600;
        const double lat = latitude + km * std::cos(h) / kmPerDegree;
        const double lon =
            longitude + km * std::sin(h) / (kmPerDegree * std::cos(latitude * M_PI / 180));
        const auto ddmm = [](double degrees, int width) {
            const int d = int(degrees);
            return QStringLiteral("%1%2")
                .arg(d, width, 10, QLatin1Char('0'))
                .arg((degrees - d) * 60, 7, 'f', 4, QLatin1Char('0'));
        };
        const QDateTime t = start.addSecs(s).toUTC();
        const QByteArray body =
            QStringLiteral("GPRMC,%1.000,A,%2,N,%3,E,%4,%5,%6,,,A")
                .arg(t.toString(QStringLiteral("hhmmss")), ddmm(lat, 2), ddmm(lon, 3))
                .arg(kmh[s] / 1.852, 0, 'f', 3)
                .arg(heading, 0, 'f', 1)
                .arg(t.toString(QStringLiteral("ddMMyy")))
                .toLatin1();
        quint8 sum = 0;
        for (char c : body)
            sum ^= quint8(c);
        QString text = QStringLiteral("$%1*%2")
                           .arg(QString::fromLatin1(body))
                           .arg(sum, 2, 16, QLatin1Char('0'));
        if (s < gsensor.size())
            text += QStringLiteral("\r\n$GSENSOR,X,%1,Y,%2,Z,%3;")
                        .arg(gsensor[s].x)
                        .arg(gsensor[s].y)
                        .arg(gsensor[s].z);
        cues.append({double(s), s + 0.9, text});
    }
    return cues;
}

bool makeMomentsCard(const QString &dir)
{
    const QDateTime start(QDate(2026, 3, 14), QTime(7, 0), Qt::UTC);
    const QVector<double> kmh = {60, 60, 60, 0, 60, 60, 35, 10, 10, 10, 40, 45};
    QVector<GSensorReading> level(12, {0, 0, 1});
    QVector<GSensorReading> bumped = level;
    bumped[2] = {0.8, 0.3, 1.4};
    RecordingSpec recipe = smallRecipe(6);
    recipe.audioCodec.clear();
    QVector<SubtitleCue> cues = nmeaSpeedCues(start, kmh, 31.2, 121.4, 0, bumped);
    // The void fix has no reading either.
    cues[3].text = QString::fromLatin1(withChecksum(
        cues[3].text.section(QStringLiteral("\r\n"), 0, 0).replace(",A,", ",V,").toLatin1()));
    for (SubtitleCue &cue : cues) {
        if (cue.start >= 6) {
            cue.start -= 6;
            cue.end -= 6;
        }
    }
    recipe.subtitles = cues.mid(0, 6);
    bool made = !makeRecording(dir + "/Front", "20260314_080000_F", recipe).isEmpty();
    recipe.subtitles = cues.mid(6);
    made = made && !makeRecording(dir + "/Front", "20260314_080006_F", recipe).isEmpty();
    recipe.seconds = 3;
    bumped = level.mid(0, 3);
    bumped[1] = {0.8, 0.3, 1.4};
    recipe.subtitles = nmeaSpeedCues(start, {30, 30, 30}, 31.3, 121.4, 0, bumped);
    return made && !makeRecording(dir + "/Rear", "20260314_080000_R", recipe).isEmpty();
}

QString makeTruncated(const QString &source, const QString &dest)
{
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        return QString();
    const QByteArray data = in.readAll();
    qint64 cut = data.size() / 2;
    // Walk the top-level boxes to cut inside "mdat" whatever comes before or after it.
    qint64 offset = 0;
    while (offset + 8 <= data.size()) {
        quint64 size = qFromBigEndian<quint32>(data.constData() + offset);
        const QByteArray type = data.mid(int(offset) + 4, 4);
        if (size == 1 && offset + 16 <= data.size())
            size = qFromBigEndian<quint64>(data.constData() + offset + 8);
        else if (size == 0)
            size = quint64(data.size() - offset);
        if (size < 8)
            break;
        if (type == "mdat") {
            cut = offset + qint64(size / 2);
            break;
        }
        offset += qint64(size);
    }
    QFile out(dest);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return QString();
    return out.write(data.left(int(cut))) == cut ? dest : QString();
}

QString makeGarbage(const QString &dest, int bytes)
{
    QRandomGenerator random(20240307u); // fixed seed: the same bytes on every run
    QByteArray data(bytes, Qt::Uninitialized);
    for (char &c : data)
        c = char(random.bounded(256));
    QFile out(dest);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return QString();
    return out.write(data) == bytes ? dest : QString();
}

QString makeEmpty(const QString &dest)
{
    QFile out(dest);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return QString();
    return dest;
}
