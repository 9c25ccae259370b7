#include "recordingfacts.h"

#include "gpsextract.h"
#include "streamreader.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <cmath>

namespace {

// A track may span a little more than the recording's length: fix times are whole
// seconds and the last fix can be written as the file closes.
constexpr double kTimedTrackSlack = 2.0;
// Sub-folders that say which channel, or that the camera locked a clip, or that it is
// an ordinary loop recording, are stripped from the camera folder up to this depth.
constexpr int kMaxMarkedFolders = 3;
constexpr int kFirstPlausibleYear = 2000;
constexpr int kLastPlausibleYear = 2099;

qint64 utcMs(const QDate &date, const QTime &time)
{
    return QDateTime(date, time, Qt::UTC).toMSecsSinceEpoch();
}

std::optional<qint64> plausibleMs(int year, int month, int day, int hour, int minute, int second)
{
    if (year < kFirstPlausibleYear || year > kLastPlausibleYear)
        return std::nullopt;
    const QDate date(year, month, day);
    const QTime time(hour, minute, second);
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    return utcMs(date, time);
}

// FFmpeg gives creation_time as "2026-03-14T08:02:12.000000Z"; the zone letter is what
// the muxer always writes, not what the camera knew, so only the digits count.
std::optional<qint64> creationTimeMs(AVFormatContext *format)
{
    const AVDictionaryEntry *entry =
        format ? av_dict_get(format->metadata, "creation_time", nullptr, 0) : nullptr;
    if (!entry || !entry->value)
        return std::nullopt;
    static const QRegularExpression pattern(
        QStringLiteral("^(\\d{4})-(\\d{2})-(\\d{2})[T ](\\d{2}):(\\d{2}):(\\d{2})"));
    const QRegularExpressionMatch m = pattern.match(QString::fromUtf8(entry->value));
    if (!m.hasMatch())
        return std::nullopt;
    return plausibleMs(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt(),
                       m.captured(4).toInt(), m.captured(5).toInt(), m.captured(6).toInt());
}

int countVideoStreams(AVFormatContext *format)
{
    int count = 0;
    for (unsigned i = 0; format && i < format->nb_streams; ++i) {
        const AVStream *stream = format->streams[i];
        if (stream->codecpar && stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
            !(stream->disposition & AV_DISPOSITION_ATTACHED_PIC))
            ++count;
    }
    return count;
}

CameraChannel channelWord(const QString &word)
{
    static const QStringList front = {"F", "FRONT", "FRONTCAM", "A"};
    static const QStringList rear = {"R", "REAR", "BACK", "REARCAM", "BACKCAM", "B"};
    static const QStringList cabin = {"I", "IN", "INSIDE", "CABIN", "INTERIOR", "INCABIN"};
    if (front.contains(word))
        return CameraChannel::Front;
    if (rear.contains(word))
        return CameraChannel::Rear;
    if (cabin.contains(word))
        return CameraChannel::Cabin;
    return CameraChannel::Unknown;
}

bool eventFolder(const QString &word)
{
    static const QStringList words = {"EVENT",     "EVENTS",  "EMER", "EMERGENCY",
                                      "PROTECTED", "PROTECT", "RO",   "LOCK",
                                      "LOCKED",    "PARKING", "PARK", "SOS"};
    return words.contains(word);
}

bool eventMark(const QString &mark)
{
    static const QStringList marks = {"E",   "EV",   "EVT", "EVENT", "EMER",
                                      "SOS", "PARK", "PA",  "LOCK",  "RO"};
    return marks.contains(mark);
}

bool normalFolder(const QString &word)
{
    static const QStringList words = {"NORMAL", "NORM", "LOOP"};
    return words.contains(word);
}

// One folder's marks, innermost first: the first channel found wins.
void readFolders(RecordingFacts &facts)
{
    QStringList parts = QFileInfo(facts.path).absolutePath().split(QLatin1Char('/'));
    for (int level = 0; level < kMaxMarkedFolders && parts.size() > 1; ++level) {
        const QString word = parts.last().toUpper();
        const CameraChannel channel = channelWord(word);
        if (channel != CameraChannel::Unknown) {
            if (facts.channel == CameraChannel::Unknown)
                facts.channel = channel;
        } else if (eventFolder(word)) {
            facts.event = true;
        } else if (!normalFolder(word)) {
            break;
        }
        parts.removeLast();
    }
    facts.cameraFolder = parts.join(QLatin1Char('/'));
    if (facts.cameraFolder.isEmpty())
        facts.cameraFolder = QStringLiteral("/");
}

// The camera clock's digits of a computer-local time.
qint64 localDigitsMs(qint64 ms)
{
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(ms, Qt::LocalTime);
    return ms + qint64(local.offsetFromUtc()) * 1000;
}

} // namespace

StartSource RecordingFacts::startSource() const
{
    return gpsStartMs ? StartSource::Gps : clockStartMs ? clockSource : StartSource::None;
}

ClockKind RecordingFacts::startKind() const
{
    return gpsStartMs ? ClockKind::Utc : clockStartMs ? ClockKind::Camera : ClockKind::None;
}

QString RecordingFacts::cameraKey() const
{
    return cameraFolder + QLatin1Char('|') + QString::number(int(channel));
}

std::optional<qint64> fixTimeMs(const OxLocation &fix)
{
    return plausibleMs(2000 + fix.year, fix.month, fix.day, fix.hour, fix.minute, fix.second);
}

QVector<double> fixPositions(const OxTrack &track, double duration)
{
    const int n = track.size();
    QVector<double> positions(n);
    if (n == 0)
        return positions;
    bool timed = true;
    QVector<qint64> times(n);
    for (int i = 0; i < n && timed; ++i) {
        const std::optional<qint64> t = fixTimeMs(track.at(i));
        timed = t && (i == 0 || *t >= times[i - 1]);
        if (timed)
            times[i] = *t;
    }
    if (timed && (times.last() - times.first()) / 1000.0 <= duration + kTimedTrackSlack) {
        for (int i = 0; i < n; ++i)
            positions[i] = std::min(duration, (times[i] - times[0]) / 1000.0);
    } else {
        for (int i = 0; i < n; ++i)
            positions[i] = duration * i / n;
    }
    return positions;
}

RecordingNameFacts parseRecordingName(const QString &fileName)
{
    RecordingNameFacts facts;
    const int dot = fileName.lastIndexOf(QLatin1Char('.'));
    const QString stem = dot > 0 ? fileName.left(dot) : fileName;

    // Four-digit years with optional separators, then two-digit years with a separator
    // between date and time (six digits alone are too often a counter).
    static const QRegularExpression longForm(QStringLiteral(
        "(?<!\\d)(\\d{4})[-_]?(\\d{2})[-_]?(\\d{2})[-_T ]?(\\d{2})[-_:]?(\\d{2})[-_:]?(\\d{2})"
        "(?!\\d)"));
    static const QRegularExpression shortForm(
        QStringLiteral("(?<!\\d)(\\d{2})(\\d{2})(\\d{2})[-_](\\d{2})(\\d{2})(\\d{2})(?!\\d)"));
    for (const QRegularExpression *form : {&longForm, &shortForm}) {
        const QRegularExpressionMatch m = form->match(stem);
        if (!m.hasMatch())
            continue;
        const int year = m.captured(1).toInt();
        facts.clockMs = plausibleMs(year < 100 ? 2000 + year : year, m.captured(2).toInt(),
                                    m.captured(3).toInt(), m.captured(4).toInt(),
                                    m.captured(5).toInt(), m.captured(6).toInt());
        if (facts.clockMs)
            break;
    }

    // Marks are words of their own ("_F", "_EV") or letters stuck to the digits
    // ("NO2026...", "...0001F", "...080212A").
    static const QRegularExpression separators(QStringLiteral("[^A-Za-z0-9]+"));
    static const QRegularExpression edges(QStringLiteral("^([A-Za-z]*)[0-9].*?([A-Za-z]*)$"));
    QStringList marks;
    const QStringList tokens = stem.split(separators, Qt::SkipEmptyParts);
    // A name that is one word and nothing else ("b.mp4") is a name, not a mark.
    if (tokens.size() == 1 && !edges.match(tokens.first()).hasMatch())
        return facts;
    for (const QString &token : tokens) {
        const QRegularExpressionMatch m = edges.match(token);
        if (!m.hasMatch()) {
            marks << token.toUpper();
            continue;
        }
        marks << m.captured(1).toUpper() << m.captured(2).toUpper();
    }
    for (const QString &mark : marks) {
        if (mark.isEmpty())
            continue;
        const CameraChannel channel = channelWord(mark);
        if (channel != CameraChannel::Unknown)
            facts.channel = channel;
        facts.event = facts.event || eventMark(mark);
    }
    return facts;
}

QString nameWithoutChannel(const QString &fileName)
{
    const int dot = fileName.lastIndexOf(QLatin1Char('.'));
    const QString stem = dot > 0 ? fileName.left(dot) : fileName;
    // The same tokens and edges as parseRecordingName reads its marks from.
    static const QRegularExpression token(QStringLiteral("[A-Za-z0-9]+"));
    static const QRegularExpression edges(QStringLiteral("^([A-Za-z]*)([0-9].*?)([A-Za-z]*)$"));
    QString out;
    int at = 0;
    for (auto it = token.globalMatch(stem); it.hasNext();) {
        const QRegularExpressionMatch t = it.next();
        out += stem.mid(at, t.capturedStart() - at);
        at = t.capturedEnd();
        const QString word = t.captured();
        const QRegularExpressionMatch m = edges.match(word);
        if (!m.hasMatch()) {
            if (channelWord(word.toUpper()) == CameraChannel::Unknown)
                out += word;
            continue;
        }
        const bool lead = channelWord(m.captured(1).toUpper()) != CameraChannel::Unknown;
        const bool trail = channelWord(m.captured(3).toUpper()) != CameraChannel::Unknown;
        out += (lead ? QString() : m.captured(1)) + m.captured(2) +
               (trail ? QString() : m.captured(3));
    }
    return out + stem.mid(at);
}

CameraChannel channelOfFolder(const QString &folderName)
{
    return channelWord(folderName.toUpper());
}

void deriveRecordingFacts(RecordingFacts &facts)
{
    facts.fixPositions = fixPositions(facts.track, facts.duration);
    facts.gpsStartMs.reset();
    for (int i = 0; i < facts.track.size(); ++i) {
        const OxLocation &fix = facts.track.at(i);
        const std::optional<qint64> t = fixTimeMs(fix);
        if (fix.valid && t) {
            facts.gpsStartMs = *t - qRound64(facts.fixPositions.at(i) * 1000);
            break;
        }
    }

    facts.channel = CameraChannel::Unknown;
    facts.event = false;
    readFolders(facts);
    const RecordingNameFacts name = parseRecordingName(QFileInfo(facts.path).fileName());
    if (facts.channel == CameraChannel::Unknown)
        facts.channel = name.channel;
    facts.event = facts.event || name.event;

    facts.clockStartMs.reset();
    facts.clockSource = StartSource::None;
    if (facts.containerTimeMs) {
        facts.clockStartMs = facts.containerTimeMs;
        facts.clockSource = StartSource::Container;
    } else if (name.clockMs) {
        facts.clockStartMs = name.clockMs;
        facts.clockSource = StartSource::FileName;
    } else if (facts.modifiedMs > 0 && facts.duration > 0) {
        // The camera closes a file when it stops writing it.
        facts.clockStartMs = localDigitsMs(facts.modifiedMs) - qRound64(facts.duration * 1000);
        facts.clockSource = StartSource::ModificationTime;
    }
}

std::optional<RecordingFacts> probeRecordingFacts(const QString &path,
                                                  const std::atomic<bool> *stop)
{
    const auto stopped = [stop] { return stop && stop->load(); };
    if (stopped())
        return std::nullopt;
    RecordingFacts facts;
    const QFileInfo info(path);
    facts.path = info.absoluteFilePath();
    // Only regular files are opened: a FIFO or a device would block the reader.
    if (info.isFile()) {
        facts.size = info.size();
        facts.modifiedMs = info.lastModified().toMSecsSinceEpoch();
    }
    if (info.isFile() && info.isReadable()) {
        StreamReader reader;
        if (reader.open(QFile::encodeName(facts.path).constData()) >= 0) {
            facts.probed = std::isfinite(reader.duration());
            facts.duration = facts.probed ? std::max(0.0, reader.duration()) : 0;
            facts.videoStreams = countVideoStreams(reader.formatContext());
            facts.containerTimeMs = creationTimeMs(reader.formatContext());
        }
        reader.close();
        if (stopped())
            return std::nullopt;
        if (facts.probed) {
            GpsReport report;
            facts.track = loadTrack(facts.path, &report);
            facts.gpsSource = report.source;
            if (stopped())
                return std::nullopt;
        }
    }
    deriveRecordingFacts(facts);
    return facts;
}

QDateTime clockToLocal(qint64 ms, ClockKind kind)
{
    const QDateTime utc = QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC);
    switch (kind) {
    case ClockKind::Utc:
        return utc.toLocalTime();
    case ClockKind::Camera:
        return QDateTime(utc.date(), utc.time(), Qt::LocalTime);
    case ClockKind::None:
        break;
    }
    return QDateTime();
}

QStringList recordingsUnder(const QString &folder, int depth)
{
    QStringList found;
    const QDir dir(folder);
    const QFileInfoList entries =
        dir.entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo &entry : entries) {
        if (entry.isDir()) {
            if (depth > 0 && !entry.isSymLink())
                found << recordingsUnder(entry.absoluteFilePath(), depth - 1);
            continue;
        }
        const QString suffix = entry.suffix().toLower();
        if (suffix == QLatin1String("mp4") || suffix == QLatin1String("mov") ||
            suffix == QLatin1String("avi"))
            found << entry.absoluteFilePath();
    }
    found.sort();
    return found;
}
