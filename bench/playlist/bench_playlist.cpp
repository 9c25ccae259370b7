// Figures of the playlist panel, each with a reference measured in the same run:
//   playlist_load_1000_ms            panel built from 1,000 playlist files until every row
//                                    is listed and those on screen are shown (reference:
//                                    reading the 1,000 files bare)
//   playlist_add_folder_1000_ms      addVideoDir on 1,000 small recordings, writing their
//                                    files (reference: writing 1,000 such files bare)
//   playlist_probe_ms_per_recording  the probing thread over 50 different 720p clips
//                                    (reference: ffprobe plus ffmpeg -frames:v 1 per clip)
//   playlist_stop_while_probing_ms   destroying the panel while the thread searches a long
//                                    undecodable recording (reference: the whole search)
//   playlist_gui_block_max_ms        longest GUI-thread stall while 50 rows are probed
//                                    (reference: the same with no rows being probed)
//   playlist_start_5000_ms           panel built from 5,000 playlist files and shown, until
//                                    its first picture is drawn (reference: reading the
//                                    5,000 files bare)
//   playlist_rss_kb_per_row          resident memory gained per row of that panel, every row
//                                    with a thumbnail and the list scrolled from top to end
//                                    (reference: the pixels of one 106x60 thumbnail)
// Runs in a temporary home; clips are kept in the build folder between runs.
#include "damagedrecording.h"
#include "ffmpeg_ptr.h"
#include "oxfileutils.h"
#include "oxjpeg.h"
#include "oxlistwidget.h"
#include "oxvideoinfoloadthread.h"
#include "oxvideoitemwidget.h"
#include "oxvideolistwidget.h"
#include "testhome.h"
#include "testrecordings.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QScrollBar>
#include <QTimer>

#include <cstdio>
#include <functional>
#include <memory>

namespace {

const int kEntries = 1000;
const int kProbeClips = 50;
const int kLongPlaylist = 5000;

// Resident memory of this process in kB, from /proc.
double residentKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble();
    }
    return 0;
}

// Lets the panel's timers and threads settle for ms while the event loop runs.
void settle(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

double msSince(const QElapsedTimer &timer)
{
    return timer.nsecsElapsed() / 1e6;
}

bool runProgram(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start(program, arguments);
    return process.waitForFinished(300000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

// Clip i differs from the others in its pictures and length.
QString probeClip(const QString &cache, int i)
{
    const QString path = cache + QStringLiteral("/clip%1.mp4").arg(i, 2, 10, QLatin1Char('0'));
    if (QFile::exists(path))
        return path;
    const QString partial = path + QStringLiteral(".part.mp4");
    const bool ok = runFfmpeg({"-f", "lavfi", "-i",
                               QStringLiteral("testsrc2=size=1280x720:rate=30:duration=%1,hue=h=%2")
                                   .arg(2 + i % 3)
                                   .arg(i * 7),
                               "-c:v", "libx264", "-preset", "ultrafast", "-g", "30", "-pix_fmt",
                               "yuv420p", partial});
    if (!ok || !QFile::rename(partial, path)) {
        QFile::remove(partial);
        return QString();
    }
    return path;
}

// Every row is in the list and those on screen hold their widgets.
bool allShown(OxVideoListWidget &panel)
{
    OxListWidget *list = panel.list();
    const QListWidgetItem *top = list->itemAt(1, 1);
    return list->count() == kEntries && top && list->itemWidget(list->item(0));
}

// Longest gap between turns of the GUI thread's event loop while condition is false.
double longestStall(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    qint64 last = clock.nsecsElapsed();
    qint64 worst = 0;
    QTimer tick;
    tick.setInterval(0);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        worst = std::max(worst, now - last);
        last = now;
    });
    tick.start();
    while (!done() && clock.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return worst / 1e6;
}

} // namespace

int main(int argc, char *argv[])
{
    TestHome home;
    QApplication app(argc, argv);
    av_log_set_level(AV_LOG_QUIET);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});

    const QString cache = QStringLiteral(DASHCAM_BENCH_CACHE "/playlist");
    QDir().mkpath(cache);

    // 1,000 small recordings: one made by ffmpeg, copied under camera-like names.
    RecordingSpec small;
    small.seconds = 1;
    small.audioCodec.clear();
    const QString seed = makeRecording(cache, QStringLiteral("small"), small);
    const QString folder = home.path() + QStringLiteral("/card");
    QDir().mkpath(folder);
    for (int i = 0; i < kEntries; ++i)
        QFile::copy(seed, folder + QStringLiteral("/FILE%1.MP4").arg(i, 4, 10, QLatin1Char('0')));

    // Add a folder of 1,000.
    double addMs = 0;
    {
        OxVideoListWidget panel;
        panel.resize(360, 640);
        panel.show();
        QCoreApplication::processEvents();
        QElapsedTimer timer;
        timer.start();
        panel.addVideoDir(folder, true);
        addMs = msSince(timer);
        if (panel.list()->count() != kEntries) {
            std::fprintf(stderr, "bench_playlist: %d rows\n", panel.list()->count());
            return 1;
        }
    }
    QElapsedTimer timer;
    const QString bare = home.path() + QStringLiteral("/bare");
    QDir().mkpath(bare);
    timer.start();
    const QStringList playlist =
        QDir(OxFileUtils().playlistDir()).entryList(QDir::Files, QDir::NoSort);
    for (const QString &name : playlist) {
        QFile in(OxFileUtils().playlistDir() + QLatin1Char('/') + name);
        in.open(QIODevice::ReadOnly);
        const QByteArray text = in.readAll();
        QFile out(bare + QLatin1Char('/') + name);
        out.open(QIODevice::WriteOnly);
        out.write(text);
    }
    const double bareCopyMs = msSince(timer);

    // Build a panel from the 1,000 files until every row is shown.
    timer.restart();
    for (const QString &name : playlist) {
        QFile in(bare + QLatin1Char('/') + name);
        in.open(QIODevice::ReadOnly);
        in.readAll();
    }
    const double bareReadMs = msSince(timer);
    double loadMs = 0;
    {
        timer.restart();
        OxVideoListWidget panel;
        panel.resize(360, 640);
        panel.show();
        while (!allShown(panel))
            QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        loadMs = msSince(timer);
    }

    // The probing thread over 50 different 720p clips, with the GUI thread's stalls.
    QStringList clips;
    for (int i = 0; i < kProbeClips; ++i) {
        const QString path = probeClip(cache, i);
        if (path.isEmpty()) {
            std::fprintf(stderr, "bench_playlist: could not make clip %d\n", i);
            return 1;
        }
        clips << path;
    }
    OxFileUtils::deleteRecursively(OxFileUtils().playlistDir());
    const double idleStall = [] {
        QElapsedTimer t;
        t.start();
        return longestStall([&] { return t.elapsed() > 500; }, 1000);
    }();
    double probeMs = 0;
    double stallMs = 0;
    {
        OxVideoListWidget panel;
        panel.resize(360, 640);
        panel.show();
        QCoreApplication::processEvents();
        OxFileUtils::deleteRecursively(OxFileUtils::thumbnailLocation());
        auto probed = [&] {
            for (int i = 0; i < panel.list()->count(); ++i) {
                if (panel.list()->entry(i)->videos[0].width <= 0)
                    return false;
            }
            return true;
        };
        timer.restart();
        for (const QString &clip : clips)
            panel.addVideoFile(clip, false);
        stallMs = longestStall(probed, 120000);
        probeMs = msSince(timer) / kProbeClips;
    }
    timer.restart();
    int referenceOk = 0;
    for (int i = 0; i < kProbeClips; ++i) {
        const QString thumb = home.path() + QStringLiteral("/ffmpeg%1.jpg").arg(i);
        if (runProgram(QStringLiteral("ffprobe"), {"-hide_banner", "-show_streams", clips[i]}) &&
            runProgram(QStringLiteral("ffmpeg"),
                       {"-hide_banner", "-nostdin", "-y", "-i", clips[i], "-frames:v", "1", thumb}))
            ++referenceOk;
    }
    const double referenceMs = msSince(timer) / kProbeClips;

    // Stop in the middle of a long search.
    const QString longClip = makeUndecodableRecording(cache, QStringLiteral("long"), 1200);
    double stopMs = 0;
    {
        auto panel = std::make_unique<OxVideoListWidget>();
        panel->addVideoFile(longClip, false);
        QElapsedTimer wait;
        wait.start();
        while (wait.elapsed() < 100)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        timer.restart();
        panel.reset();
        stopMs = msSince(timer);
    }
    ProbeResult whole;
    whole.thumb = home.path() + QStringLiteral("/never.jpg");
    timer.restart();
    probeVideo(longClip.toUtf8().constData(), whole, nullptr);
    const double searchMs = msSince(timer);

    // 5,000 entries read back at start, each probed before and showing a thumbnail.
    OxFileUtils::deleteRecursively(OxFileUtils().playlistDir());
    const QString thumb = OxFileUtils().thumbnailDir() + QStringLiteral("/long.jpg");
    QImage picture(1280, 720, QImage::Format_RGB32);
    picture.fill(Qt::darkCyan);
    picture.save(thumb, "JPEG");
    for (int i = 0; i < kLongPlaylist; ++i) {
        OxVideoInfo info;
        info.setVideoFile(folder +
                          QStringLiteral("/FILE%1.MP4").arg(i % kEntries, 4, 10, QLatin1Char('0')));
        info.name = QStringLiteral("entry%1").arg(i, 4, 10, QLatin1Char('0'));
        OxVideoFile &video = info.videos[0];
        video.thumb = thumb;
        video.width = 1920;
        video.height = 1080;
        video.fps = 30;
        video.duration = 60;
        info.save(OxFileUtils().playlistDir() + QLatin1Char('/') + info.name +
                  QStringLiteral(".xml"));
    }
    const QStringList longPlaylist =
        QDir(OxFileUtils().playlistDir()).entryList(QDir::Files, QDir::NoSort);
    timer.restart();
    for (const QString &name : longPlaylist) {
        QFile in(OxFileUtils().playlistDir() + QLatin1Char('/') + name);
        in.open(QIODevice::ReadOnly);
        in.readAll();
    }
    const double bareLongReadMs = msSince(timer);
    double startMs = 0;
    double kbPerRow = 0;
    int longRows = 0;
    {
        settle(200);
        const double before = residentKb();
        timer.restart();
        OxVideoListWidget panel;
        panel.resize(360, 640);
        panel.show();
        QCoreApplication::processEvents();
        startMs = msSince(timer);
        // The user scrolls through the whole list, a page at a time.
        QScrollBar *bar = panel.list()->verticalScrollBar();
        settle(300);
        while (bar->value() < bar->maximum()) {
            bar->setValue(bar->value() + bar->pageStep());
            QCoreApplication::processEvents();
        }
        settle(1000);
        longRows = panel.list()->count();
        kbPerRow = (residentKb() - before) / std::max(1, longRows);
    }
    if (longRows != kLongPlaylist) {
        std::fprintf(stderr, "bench_playlist: %d of %d long playlist rows\n", longRows,
                     kLongPlaylist);
        return 1;
    }

    std::printf("reference ffprobe + ffmpeg: %d/%d clips\n", referenceOk, kProbeClips);
    std::printf("figure playlist_load_1000_ms value=%.1f reference=%.1f target=1000\n", loadMs,
                bareReadMs);
    std::printf("figure playlist_add_folder_1000_ms value=%.1f reference=%.1f target=1500\n", addMs,
                bareCopyMs);
    std::printf("figure playlist_probe_ms_per_recording value=%.1f reference=%.1f target=%.1f\n",
                probeMs, referenceMs, 0.5 * referenceMs);
    std::printf("figure playlist_stop_while_probing_ms value=%.1f reference=%.1f target=100\n",
                stopMs, searchMs);
    std::printf("figure playlist_gui_block_max_ms value=%.1f reference=%.1f target=50\n", stallMs,
                idleStall);
    std::printf("figure playlist_start_5000_ms value=%.1f reference=%.1f target=1000\n", startMs,
                bareLongReadMs);
    std::printf("figure playlist_rss_kb_per_row value=%.1f reference=%.1f target=20\n", kbPerRow,
                106 * 60 * 4 / 1024.0);
    return 0;
}
