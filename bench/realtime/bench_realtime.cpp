// Runs the whole program as a user does (window, OpenGL view, map page, sound), started
// with a recording on its command line, next to ffplay on the same clips with the same
// picture area (980 x 480), and prints its CPU, drawing, first-picture, seek, real-time,
// sound, start-up and memory figures. CPU and memory are those of the whole process tree,
// the web engine's helper processes included; drawing is the CPU of the software OpenGL's
// threads.
#include "benchsupport.h"

#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QHash>
#include <QImage>
#include <QPixmap>
#include <QPoint>
#include <QProcess>
#include <QRect>
#include <QRegularExpression>
#include <QScreen>
#include <QTemporaryDir>
#include <QThread>
#include <QVector>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <unistd.h>

namespace {

const QString kCache = QStringLiteral(DASHCAM_BENCH_CACHE);

constexpr int kCpuSeconds = 20;
constexpr int kRealtimeSeconds = 15;

void pause(int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(5);
    }
}

QImage grabScreen()
{
    QScreen *screen = QGuiApplication::primaryScreen();
    return screen ? screen->grabWindow(0).toImage() : QImage();
}

// Every 16th row of the screen, side by side: a whole screen is 8 MB for the X server to
// copy, and polling it would slow down the program being measured.
QImage grabRows()
{
    QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return QImage();
    const QSize size = screen->size();
    QImage rows(size.width(), size.height() / 16, QImage::Format_RGB32);
    for (int i = 0; i < rows.height(); ++i) {
        const QImage row = screen->grabWindow(0, 0, i * 16, size.width(), 1)
                               .toImage()
                               .convertToFormat(QImage::Format_RGB32);
        if (row.isNull())
            return QImage();
        std::copy_n(reinterpret_cast<const QRgb *>(row.constScanLine(0)), size.width(),
                    reinterpret_cast<QRgb *>(rows.scanLine(i)));
    }
    return rows;
}

// Every clip carries a magenta square in its middle, a colour nothing else on the
// screen has: seeing it means a picture of the clip is on screen.
bool showsClip(const QImage &rows)
{
    int n = 0;
    for (int y = 0; y < rows.height(); ++y) {
        for (int x = 0; x < rows.width(); x += 4) {
            const QRgb p = rows.pixel(x, y);
            n += qRed(p) > 200 && qGreen(p) < 80 && qBlue(p) > 200 ? 1 : 0;
        }
    }
    return n >= 20;
}

// A window is painted once a twentieth of the screen differs from the empty screen.
bool windowPainted(const QImage &rows, const QImage &empty)
{
    if (rows.size() != empty.size())
        return false;
    int changed = 0;
    int all = 0;
    for (int y = 0; y < rows.height(); ++y) {
        for (int x = 0; x < rows.width(); x += 4) {
            const QRgb a = rows.pixel(x, y);
            const QRgb b = empty.pixel(x, y);
            changed +=
                qAbs(qRed(a) - qRed(b)) + qAbs(qGreen(a) - qGreen(b)) + qAbs(qBlue(a) - qBlue(b)) >
                        30
                    ? 1
                    : 0;
            ++all;
        }
    }
    return changed * 20 > all;
}

// The middle of the magenta square turns green from half the clip on, when marked: a
// seek across the half shows on screen.
QStringList clipArgs(const QString &size, int seconds, const QStringList &video,
                     bool marked = false)
{
    QString box = QStringLiteral("drawbox=x=iw*3/8:y=ih*3/8:w=iw/4:h=ih/4:color=0xff00ff:t=fill");
    if (marked)
        box += QStringLiteral(",drawbox=x=iw*7/16:y=ih*7/16:w=iw/8:h=ih/8:color=0x00ff00:t=fill:"
                              "enable='gte(t,%1)'")
                   .arg(seconds / 2);
    return QStringList{
               "-f",
               "lavfi",
               "-i",
               QStringLiteral("testsrc2=size=%1:rate=30:duration=%2").arg(size).arg(seconds),
               "-f",
               "lavfi",
               "-i",
               QStringLiteral("sine=frequency=440:sample_rate=48000:duration=%1").arg(seconds),
               "-vf",
               box,
               "-map",
               "0:v",
               "-map",
               "1:a"} +
           video + QStringList{"-pix_fmt", "yuv420p", "-c:a", "aac", "-ac", "2"};
}

// A PulseAudio daemon of this benchmark's own with one null sink, so that the sound
// recorded from its monitor is only that of the player measured.
class SoundServer
{
public:
    bool start()
    {
        if (!dir.isValid())
            return false;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", dir.path());
        env.insert("PULSE_RUNTIME_PATH", dir.path());
        daemon.setProcessEnvironment(env);
        daemon.setStandardOutputFile(QProcess::nullDevice());
        daemon.setStandardErrorFile(QProcess::nullDevice());
        daemon.start("pulseaudio",
                     {"--daemonize=no", "--exit-idle-time=-1", "--disallow-exit", "-n",
                      "--use-pid-file=no", "--load=module-null-sink sink_name=bench",
                      "--load=module-native-protocol-unix auth-anonymous=1 socket=" + socket()});
        if (!daemon.waitForStarted(5000))
            return false;
        for (int i = 0; i < 100; ++i) {
            QProcess info;
            QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
            e.insert("PULSE_SERVER", server());
            info.setProcessEnvironment(e);
            info.start("pactl", {"info"});
            if (info.waitForFinished(2000) && info.exitCode() == 0)
                return true;
            QThread::msleep(100);
        }
        return false;
    }
    ~SoundServer()
    {
        if (daemon.state() != QProcess::NotRunning) {
            daemon.terminate();
            if (!daemon.waitForFinished(5000))
                daemon.kill();
            daemon.waitForFinished();
        }
    }
    QString socket() const { return dir.path() + "/native"; }
    QString server() const { return "unix:" + socket(); }

private:
    QTemporaryDir dir;
    QProcess daemon;
};

// One player started for a measurement, with a home of its own and its error output
// kept line by line with the time each line came.
class Run
{
public:
    struct Line
    {
        qint64 ms;
        QString text;
    };

    Run(const QString &program, const QStringList &args, bool oneCore, const QString &sound)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *var : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"})
            env.insert(var, home.path());
        if (geteuid() == 0)
            env.insert("QTWEBENGINE_DISABLE_SANDBOX", "1");
        env.insert("PULSE_SERVER", sound);
        process.setProcessEnvironment(env);
        process.setStandardOutputFile(QProcess::nullDevice());
        QObject::connect(&process, &QProcess::readyReadStandardError, [this] { readErrors(); });
        clock.start();
        if (oneCore)
            process.start("taskset", QStringList{"-c", "0", program} + args);
        else
            process.start(program, args);
        process.waitForStarted(5000);
    }
    ~Run() { stop(); }

    qint64 pid() const { return process.processId(); }
    qint64 elapsed() const { return clock.elapsed(); }
    bool running() const { return process.state() == QProcess::Running; }
    const QVector<Line> &lines() const { return received; }

    void stop()
    {
        if (process.state() == QProcess::NotRunning)
            return;
        process.terminate();
        if (!process.waitForFinished(5000)) {
            process.kill();
            process.waitForFinished(5000);
        }
    }

    // Polls the screen until test says yes; the time from the start, or -1.
    qint64 waitForScreen(const std::function<bool(const QImage &)> &test, int timeoutMs)
    {
        while (clock.elapsed() < timeoutMs && running()) {
            const qint64 before = clock.elapsed();
            if (test(grabRows()))
                return before;
            pause(5);
        }
        return -1;
    }

private:
    void readErrors()
    {
        buffer += QString::fromLocal8Bit(process.readAllStandardError());
        // ffplay ends its status lines with a carriage return.
        const QStringList parts = buffer.split(QRegularExpression("[\r\n]"));
        for (int i = 0; i + 1 < parts.size(); ++i) {
            if (!parts.at(i).trimmed().isEmpty())
                received.append({clock.elapsed(), parts.at(i)});
        }
        buffer = parts.last();
    }

    QTemporaryDir home;
    QProcess process;
    QElapsedTimer clock;
    QString buffer;
    QVector<Line> received;
};

QStringList ffplayArgs(const QString &clip)
{
    return {"-autoexit", "-x", "980", "-y", "480", clip};
}

// The playing position a player reports on its error output: ours once a second with
// its picture counts, ffplay in its status line (its master clock, the sound's).
struct Position
{
    qint64 ms = -1;
    double seconds = 0;
    // Pictures not shown so far: ours dropped and skipped, ffplay's dropped.
    int lost = 0;
    QString counts;
};

QVector<Position> positions(const Run &run, bool app)
{
    static const QRegularExpression ours(
        "position ([0-9.]+): pictures dropped (\\d+), skipped (\\d+)");
    static const QRegularExpression theirs("^\\s*([0-9]+\\.[0-9]+) (A-V|M-V|M-A):.*fd=\\s*(\\d+)");
    QVector<Position> found;
    for (const Run::Line &line : run.lines()) {
        const QRegularExpressionMatch m = (app ? ours : theirs).match(line.text);
        if (!m.hasMatch())
            continue;
        Position p;
        p.ms = line.ms;
        p.seconds = m.captured(1).toDouble();
        p.lost = app ? m.captured(2).toInt() + m.captured(3).toInt() : m.captured(3).toInt();
        p.counts = app ? QStringLiteral("dropped %1, skipped %2").arg(m.captured(2), m.captured(3))
                       : QStringLiteral("dropped %1").arg(m.captured(3));
        found.append(p);
    }
    return found;
}

Position lastPosition(const Run &run, bool app, qint64 notAfterMs = -1)
{
    Position found;
    for (const Position &p : positions(run, app)) {
        if (notAfterMs >= 0 && p.ms > notAfterMs)
            break;
        found = p;
    }
    return found;
}

// Pictures shown per second of wall time between the first and the last position
// reported from fromMs to toMs (the clips have 30 a second), or -1.
double picturesPerSecond(const Run &run, bool app, qint64 fromMs, qint64 toMs)
{
    Position first;
    Position last;
    for (const Position &p : positions(run, app)) {
        if (p.ms >= fromMs && p.ms <= toMs) {
            if (first.ms < 0)
                first = p;
            last = p;
        }
    }
    if (first.ms < 0 || last.ms <= first.ms)
        return -1;
    return ((last.seconds - first.seconds) * 30 - (last.lost - first.lost)) /
           ((last.ms - first.ms) / 1000.0);
}

struct Playback
{
    double firstPictureMs = -1;
    double cpuPerSecond = 0;
    double drawCpuPerSecond = 0;
    // Drawing CPU per picture shown: a player that drops late pictures draws fewer.
    double drawMsPerPicture = -1;
    double rssMb = 0;
    double peakRssMb = 0;
    QString counts;
};

// Start to the first picture on screen, then CPU and memory of the process tree over
// kCpuSeconds of playback.
Playback play1080(const QString &clip, bool app, const QString &sound)
{
    Playback result;
    Run run(app ? QStringLiteral(DASHCAM_PLAYER) : QStringLiteral("ffplay"),
            app ? QStringList{clip} : ffplayArgs(clip), false, sound);
    result.firstPictureMs = run.waitForScreen(showsClip, 30000);
    if (result.firstPictureMs < 0)
        return result;
    const TreeUsage before = treeUsage(run.pid());
    const qint64 startMs = run.elapsed();
    QElapsedTimer timer;
    timer.start();
    int samples = 0;
    while (timer.elapsed() < kCpuSeconds * 1000) {
        pause(500);
        const TreeUsage now = treeUsage(run.pid());
        result.rssMb += now.rssMb;
        result.peakRssMb = std::max(result.peakRssMb, now.rssMb);
        ++samples;
    }
    const TreeUsage after = treeUsage(run.pid());
    result.cpuPerSecond = (after.cpuSeconds - before.cpuSeconds) / (timer.elapsed() / 1000.0);
    result.drawCpuPerSecond =
        (after.drawCpuSeconds - before.drawCpuSeconds) / (timer.elapsed() / 1000.0);
    const double shown = picturesPerSecond(run, app, startMs, run.elapsed());
    if (shown > 0)
        result.drawMsPerPicture = 1000.0 * result.drawCpuPerSecond / shown;
    result.rssMb /= std::max(1, samples);
    result.counts = lastPosition(run, app).counts;
    run.stop();
    return result;
}

// What the clip's picture shows in its middle.
enum class Mark { Other, Magenta, Green };

bool xdotool(const QStringList &args, QByteArray *output = nullptr)
{
    QProcess process;
    process.start(QStringLiteral("xdotool"), args);
    if (!process.waitForFinished(5000))
        return false;
    if (output)
        *output = process.readAllStandardOutput();
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

// The top left of the 980 x 480 picture area of the player with that process id: the top
// left of the program's window and of ffplay's. Found from the window itself, not from
// the picture: the test pattern has more than one patch of the mark's colour. (-1, -1)
// when it has no window.
QPoint pictureArea(qint64 pid)
{
    QByteArray windows;
    if (!xdotool({"search", "--onlyvisible", "--pid", QString::number(pid)}, &windows))
        return QPoint(-1, -1);
    QPoint best(-1, -1);
    int bestArea = 0;
    for (const QByteArray &id : windows.split('\n')) {
        QByteArray shell;
        if (id.trimmed().isEmpty() ||
            !xdotool({"getwindowgeometry", "--shell", QString::fromLatin1(id.trimmed())}, &shell))
            continue;
        QHash<QByteArray, int> values;
        for (const QByteArray &line : shell.split('\n')) {
            const int eq = line.indexOf('=');
            if (eq > 0)
                values.insert(line.left(eq), line.mid(eq + 1).toInt());
        }
        const int area = values.value("WIDTH") * values.value("HEIGHT");
        if (area > bestArea) {
            bestArea = area;
            best = QPoint(values.value("X"), values.value("Y"));
        }
    }
    return best;
}

Mark markOf(QRgb p)
{
    if (qRed(p) > 200 && qGreen(p) < 80 && qBlue(p) > 200)
        return Mark::Magenta;
    if (qRed(p) < 80 && qGreen(p) > 200 && qBlue(p) < 80)
        return Mark::Green;
    return Mark::Other;
}

// The middle of the magenta square in the picture area at origin: the picture is centred
// across the area, but a strip under it may take some of its height, so the square is
// found in the area's middle column (the test pattern's bars there are not magenta). The
// green mark inside it is part of it: with the mark shown, the longest magenta run alone
// lies above or below the mark, where a seek back would find magenta before it is made.
QPoint squareMiddle(const QPoint &origin)
{
    QScreen *screen = QGuiApplication::primaryScreen();
    const QImage column = screen->grabWindow(0, origin.x() + 490, origin.y(), 1, 480).toImage();
    int best = 0;
    int bestEnd = -1;
    int run = 0;
    for (int y = 0; y < column.height(); ++y) {
        run = markOf(column.pixel(0, y)) != Mark::Other ? run + 1 : 0;
        if (run > best) {
            best = run;
            bestEnd = y;
        }
    }
    return origin + QPoint(490, best > 0 ? bestEnd - best / 2 : 240);
}

Mark markAt(const QPoint &at)
{
    QScreen *screen = QGuiApplication::primaryScreen();
    return markOf(screen->grabWindow(0, at.x(), at.y(), 1, 1).toImage().pixel(0, 0));
}

// Seeks across the middle of a marked clip and back, with the mouse as a user does:
// for each, the time from the input event to the picture of the other half on screen.
// The program seeks when the button is released on its seek slider, ffplay when its
// right button is pressed in its window (at that fraction of the width): only that
// event is timed.
QVector<double> seekTimes(const QString &clip, bool app, const QString &sound)
{
    QVector<double> times;
    Run run(app ? QStringLiteral(DASHCAM_PLAYER) : QStringLiteral("ffplay"),
            app ? QStringList{clip} : ffplayArgs(clip), false, sound);
    if (run.waitForScreen(showsClip, 30000) < 0)
        return times;
    pause(1000);
    const QPoint origin = pictureArea(run.pid());
    if (origin.x() < 0)
        return times;
    const QString button = app ? QStringLiteral("1") : QStringLiteral("3");
    for (int i = 0; i < 6 && run.running(); ++i) {
        const bool across = i % 2 == 0;
        const double fraction = across ? 2.0 / 3.0 : 1.0 / 6.0;
        // The seek slider: 680 wide at (250, 170) in the trip panel, which is 480 down.
        // Found before each seek: the strip may come in while the clip plays. The
        // magenta square there turns green across the middle of the clip.
        const QPoint centre = squareMiddle(origin);
        const QPoint at = origin + (app ? QPoint(250 + int(fraction * 680), 480 + 185)
                                        : QPoint(int(fraction * 980), 240));
        xdotool({"mousemove", QString::number(at.x()), QString::number(at.y())});
        if (app)
            xdotool({"mousedown", button});
        QElapsedTimer timer;
        timer.start();
        xdotool({app ? "mouseup" : "mousedown", button});
        const Mark expected = across ? Mark::Green : Mark::Magenta;
        // The player's error output is read meanwhile: a full pipe would stop the player
        // (and the web engine's processes, which share it) at its next line.
        while (timer.elapsed() < 5000 && markAt(centre) != expected) {
            QCoreApplication::processEvents();
            QThread::usleep(1000);
        }
        if (timer.elapsed() < 5000)
            times.append(timer.nsecsElapsed() / 1e6);
        if (!app)
            xdotool({"mouseup", button});
        pause(1000);
    }
    return times;
}

struct Realtime
{
    double lagPercent = -1;
    double silenceMs = -1;
    QString silences; // where they were: " s+ms" each
    double firstSoundS = -1;
    double peakRssMb = 0;
    QString counts;
};

// A 10 ms block of stereo at 48 kHz whose loudest sample is at least this loud is the
// tone (a stray sample is not); below a hundredth of the tone's it is silence.
constexpr int kBlockSamples = 480 * 2;
constexpr int kToneLevel = 1000;
constexpr int kSilenceLevel = 150;

int loudest(const QByteArray &data, qint64 fromSample)
{
    const auto *samples = reinterpret_cast<const qint16 *>(data.constData());
    const qint64 count = data.size() / 2;
    int peak = 0;
    for (qint64 i = fromSample; i < fromSample + kBlockSamples && i < count; ++i)
        peak = std::max(peak, std::abs(int(samples[i])));
    return peak;
}

// Total silence in the sink's monitor over seconds from the first sound; where, when
// asked: each stretch of silence as "s+ms" (seconds after the first sound, length).
double silenceMs(const QByteArray &data, double seconds, QString *where = nullptr)
{
    const qint64 count = data.size() / 2;
    qint64 first = 0;
    while (first + kBlockSamples <= count && loudest(data, first) < kToneLevel)
        first += kBlockSamples;
    const qint64 end = std::min(count, first + qint64(seconds * 48000) * 2);
    if (end - first < kBlockSamples)
        return -1;
    int silent = 0;
    int run = 0; // silent blocks in a row so far
    for (qint64 b = first; b + kBlockSamples <= end; b += kBlockSamples) {
        const bool quiet = loudest(data, b) < kSilenceLevel;
        if (quiet) {
            ++silent;
            ++run;
        }
        const bool last = b + 2 * kBlockSamples > end;
        if (where && run > 0 && (!quiet || last)) {
            const qint64 runStart = b - (quiet ? run - 1 : run) * kBlockSamples;
            *where += QStringLiteral(" %1s+%2ms")
                          .arg((runStart - first) / 96000.0, 0, 'f', 2)
                          .arg(run * 10);
        }
        if (!quiet)
            run = 0;
    }
    return silent * 10.0;
}

// On one core: how far the position falls behind wall time over kRealtimeSeconds, the
// time from the start to the first sound out of the sink, the silence recorded from the
// sink meanwhile, and the peak memory of the process tree. The sink's monitor sends
// nothing while nothing plays, so the first sound is timed by when its samples arrive
// (the recorder asks for 10 ms of latency).
Realtime play4k(const QString &clip, bool app, const SoundServer &sound, const QString &shot)
{
    Realtime result;
    QElapsedTimer wall;
    wall.start();
    qint64 firstSoundMs = -1;
    QByteArray recorded;
    QProcess recorder;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("PULSE_SERVER", sound.server());
    recorder.setProcessEnvironment(env);
    QObject::connect(&recorder, &QProcess::readyReadStandardOutput, [&] {
        const qint64 from = recorded.size() / 2;
        recorded += recorder.readAllStandardOutput();
        for (qint64 b = from - from % kBlockSamples; firstSoundMs < 0 && b < recorded.size() / 2;
             b += kBlockSamples) {
            if (loudest(recorded, b) >= kToneLevel)
                firstSoundMs = wall.elapsed();
        }
    });
    recorder.start("parec", {"-d", "bench.monitor", "--raw", "--format=s16le", "--rate=48000",
                             "--channels=2", "--latency-msec=10"});
    recorder.waitForStarted(5000);
    // Sound played in the first two seconds after the recorder connects reaches the null
    // sink's monitor only at the end of them (a tone played 0.3 s after it connected came
    // 1.6 s late, one played after 1.5 s came 0.04 s late): the player starts after that.
    pause(2500);

    const qint64 startMs = wall.elapsed();
    Run run(app ? QStringLiteral(DASHCAM_PLAYER) : QStringLiteral("ffplay"),
            app ? QStringList{clip} : ffplayArgs(clip), true, sound.server());
    // From the first position reported, for kRealtimeSeconds.
    while (lastPosition(run, app).ms < 0 && run.elapsed() < 60000 && run.running())
        pause(20);
    const Position start = lastPosition(run, app);
    if (start.ms >= 0) {
        const qint64 until = start.ms + kRealtimeSeconds * 1000;
        bool shotTaken = shot.isEmpty();
        QElapsedTimer sampled;
        sampled.start();
        while (run.elapsed() < until + 500 && run.running()) {
            pause(50);
            if (sampled.elapsed() >= 500) {
                result.peakRssMb = std::max(result.peakRssMb, treeUsage(run.pid()).rssMb);
                sampled.restart();
            }
            if (!shotTaken && run.elapsed() > start.ms + kRealtimeSeconds * 500) {
                grabScreen().save(shot);
                shotTaken = true;
            }
        }
        const Position end = lastPosition(run, app, until);
        const double wallSeconds = (end.ms - start.ms) / 1000.0;
        if (wallSeconds > 0)
            result.lagPercent = 100.0 * (wallSeconds - (end.seconds - start.seconds)) / wallSeconds;
        result.counts = end.counts;
    }
    run.stop();
    pause(300);
    recorder.terminate();
    recorder.waitForFinished(5000);
    if (firstSoundMs >= 0)
        result.firstSoundS = (firstSoundMs - startMs) / 1000.0;
    result.silenceMs = silenceMs(recorded, kRealtimeSeconds - 1, &result.silences);
    return result;
}

void figure(const char *name, double value, double reference, const char *target)
{
    std::printf("figure %s value=%.2f reference=%.2f target=%s\n", name, value, reference, target);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    // Parts named on the command line run alone (startup 1080p seek 4k); figures of the
    // others come out as -1.
    const QStringList parts = app.arguments().mid(1);
    auto wanted = [&parts](const char *part) {
        return parts.isEmpty() || parts.contains(QLatin1String(part));
    };
    if (!QGuiApplication::primaryScreen()) {
        std::fprintf(stderr, "bench_realtime: no screen\n");
        return 1;
    }
    SoundServer sound;
    if (!sound.start()) {
        std::fprintf(stderr, "bench_realtime: could not start pulseaudio\n");
        return 1;
    }
    const QString clip1080 = cachedClip(
        kCache, "realtime-1080p30-h264-marked",
        clipArgs("1920x1080", kCpuSeconds + 10,
                 {"-c:v", "libx264", "-preset", "superfast", "-g", "30", "-b:v", "12M"}, true));
    const QString clip4k = cachedClip(kCache, "realtime-2160p30-hevc",
                                      clipArgs("3840x2160", kRealtimeSeconds + 5,
                                               {"-c:v", "libx265", "-preset", "ultrafast", "-b:v",
                                                "40M", "-x265-params", "log-level=error"}));
    if (clip1080.isEmpty() || clip4k.isEmpty()) {
        std::fprintf(stderr, "bench_realtime: could not make the clips\n");
        return 1;
    }

    QElapsedTimer grabTimer;
    grabTimer.start();
    QImage empty;
    for (int i = 0; i < 5; ++i)
        empty = grabRows();
    std::printf("polling the screen takes %.1f ms\n", grabTimer.elapsed() / 5.0);

    // Start-up with no file: to a painted window, then the tree once the map is up.
    QVector<double> startups;
    double idleRss = 0;
    for (int i = 0; wanted("startup") && i < 3; ++i) {
        Run run(QStringLiteral(DASHCAM_PLAYER), {}, false, sound.server());
        const qint64 ms = run.waitForScreen(
            [&](const QImage &image) { return windowPainted(image, empty); }, 30000);
        startups.append(double(ms));
        pause(5000);
        idleRss = std::max(idleRss, treeUsage(run.pid()).rssMb);
        run.stop();
        pause(500);
    }

    // 1080p30, the program and ffplay in turn.
    QVector<Playback> ours;
    QVector<Playback> theirs;
    for (int i = 0; wanted("1080p") && i < 3; ++i) {
        ours.append(play1080(clip1080, true, sound.server()));
        pause(500);
        theirs.append(play1080(clip1080, false, sound.server()));
        pause(500);
    }
    // Seeks in the same clip, in turn.
    QVector<double> ourSeeks;
    QVector<double> theirSeeks;
    for (int i = 0; wanted("seek") && i < 2; ++i) {
        ourSeeks += seekTimes(clip1080, true, sound.server());
        pause(500);
        theirSeeks += seekTimes(clip1080, false, sound.server());
        pause(500);
    }
    auto medianOf = [](const QVector<Playback> &runs, double Playback::*field) {
        QVector<double> v;
        for (const Playback &p : runs)
            v.append(p.*field);
        return median(v);
    };

    // 2160p HEVC on one core.
    const QString shot = kCache + "/realtime-4k-one-core.png";
    const Realtime our4k = wanted("4k") ? play4k(clip4k, true, sound, shot) : Realtime();
    pause(500);
    const Realtime their4k = wanted("4k") ? play4k(clip4k, false, sound, QString()) : Realtime();

    for (int i = 0; i < ours.size(); ++i) {
        std::printf("1080p run %d: ours %.0f ms to the first picture, %.3f CPU s/s (drawing "
                    "%.3f, %.2f ms a picture), %.0f MB (peak %.0f), pictures %s; ffplay %.0f ms, "
                    "%.3f CPU s/s (drawing %.3f, %.2f ms a picture), %.0f MB (peak %.0f), "
                    "pictures %s\n",
                    i + 1, ours[i].firstPictureMs, ours[i].cpuPerSecond, ours[i].drawCpuPerSecond,
                    ours[i].drawMsPerPicture, ours[i].rssMb, ours[i].peakRssMb,
                    qPrintable(ours[i].counts), theirs[i].firstPictureMs, theirs[i].cpuPerSecond,
                    theirs[i].drawCpuPerSecond, theirs[i].drawMsPerPicture, theirs[i].rssMb,
                    theirs[i].peakRssMb, qPrintable(theirs[i].counts));
    }
    auto list = [](const QVector<double> &values) {
        QStringList texts;
        for (double v : values)
            texts.append(QString::number(v, 'f', 0));
        return texts.join(QStringLiteral(", "));
    };
    std::printf("seek to picture (ms): ours %s; ffplay %s\n", qPrintable(list(ourSeeks)),
                qPrintable(list(theirSeeks)));
    std::printf("4k on one core: ours lag %.2f %%, first sound %.2f s, silence %.0f ms, peak "
                "%.0f MB, pictures %s; ffplay lag %.2f %%, first sound %.2f s, silence %.0f ms, "
                "peak %.0f MB, pictures %s; screenshot %s\n",
                our4k.lagPercent, our4k.firstSoundS, our4k.silenceMs, our4k.peakRssMb,
                qPrintable(our4k.counts), their4k.lagPercent, their4k.firstSoundS,
                their4k.silenceMs, their4k.peakRssMb, qPrintable(their4k.counts), qPrintable(shot));
    std::printf("4k silences (seconds after the first sound + length): ours%s; ffplay%s\n",
                qPrintable(our4k.silences), qPrintable(their4k.silences));

    auto ratio = [](double ours, double theirs) {
        return ours > 0 && theirs > 0 ? ours / theirs : -1;
    };
    const double firstTheirs = medianOf(theirs, &Playback::firstPictureMs);
    figure(
        "app_cpu_ratio_ffplay",
        ratio(medianOf(ours, &Playback::cpuPerSecond), medianOf(theirs, &Playback::cpuPerSecond)),
        1.0, "1.2");
    figure("app_draw_cpu_ratio_ffplay",
           ratio(medianOf(ours, &Playback::drawCpuPerSecond),
                 medianOf(theirs, &Playback::drawCpuPerSecond)),
           1.0, "1.0");
    figure("app_draw_per_picture_ratio_ffplay",
           ratio(medianOf(ours, &Playback::drawMsPerPicture),
                 medianOf(theirs, &Playback::drawMsPerPicture)),
           1.0, "1.0");
    figure("app_first_picture_ratio_ffplay",
           ratio(medianOf(ours, &Playback::firstPictureMs), firstTheirs), 1.0, "1.0");
    figure("playing_rss_ratio_ffplay_1080p",
           ratio(medianOf(ours, &Playback::peakRssMb), medianOf(theirs, &Playback::peakRssMb)), 1.0,
           "2.0");
    figure("playing_rss_ratio_ffplay_2160p", ratio(our4k.peakRssMb, their4k.peakRssMb), 1.0, "2.0");
    figure("seek_to_picture_ratio_ffplay", ratio(median(ourSeeks), median(theirSeeks)), 1.0, "1.0");
    figure("first_sound_s_4k_one_core", our4k.firstSoundS, their4k.firstSoundS, "0.4");
    figure("realtime_lag_percent_4k_one_core", our4k.lagPercent, their4k.lagPercent, "2");
    figure("sound_gap_ms_4k_one_core", our4k.silenceMs, their4k.silenceMs, "20");
    // ffplay opens its window with its first picture: its start to that is the reference.
    figure("startup_to_window_ms", median(startups), firstTheirs, "400");
    figure("idle_rss_mb", idleRss, medianOf(theirs, &Playback::rssMb), "-");
    figure("playing_rss_mb_1080p", medianOf(ours, &Playback::rssMb),
           medianOf(theirs, &Playback::rssMb), "-");
    return 0;
}
