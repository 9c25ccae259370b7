// Opening a drive of 500 clips from the playlist against opening one clip, in the
// finished window: from the double-click (on the drive's header, on the lone clip's
// row) to the first picture handed to the view. The drive's facts are known by then, as
// they are once the playlist has probed its rows. Runs in a temporary home under Xvfb;
// the clip is made once and kept in the build folder.
#include "benchsupport.h"
#include "language.h"
#include "mainwindow.h"
#include "oxffplayer.h"
#include "oxlistwidget.h"
#include "oxplaylistdrives.h"
#include "oxvideoitemwidget.h"
#include "oxvideolistwidget.h"
#include "testhome.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QMouseEvent>
#include <QPushButton>
#include <QThread>
#include <QVector>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>

extern "C" {
#include <libavutil/time.h>
}

namespace {

constexpr int kClips = 500;
constexpr int kRuns = 5;

// Written by the engine's video thread when the first picture after arming is handed
// over; armed and read by the main thread.
std::atomic<int64_t> firstPictureAt{0};
std::atomic<bool> armed{false};

// A double-click as the mouse makes it: press, release, double-click, release.
void doubleClick(QWidget *widget, const QPoint &at)
{
    for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease,
                              QEvent::MouseButtonDblClick, QEvent::MouseButtonRelease}) {
        QMouseEvent event(type, at, widget->mapToGlobal(at), Qt::LeftButton,
                          type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton,
                          Qt::NoModifier);
        QApplication::sendEvent(widget, &event);
    }
}

// Milliseconds from the double-click at row's point y into the row to the first picture;
// -1 when none came.
double openMs(MainWindow &window, int row, int y)
{
    window.stopButton()->click();
    QCoreApplication::processEvents();
    OxListWidget *list = window.playlist()->list();
    list->scrollToItem(list->item(row));
    QCoreApplication::processEvents();
    const QPoint at = list->visualItemRect(list->item(row)).topLeft() + QPoint(40, y);
    firstPictureAt = 0;
    armed = true;
    const int64_t start = av_gettime();
    doubleClick(list->viewport(), at);
    if (!waitFor([] { return firstPictureAt.load() != 0; }, 30000))
        return -1;
    return (firstPictureAt.load() - start) / 1000.0;
}

} // namespace

int main(int argc, char **argv)
{
    TestHome home;
    QApplication app(argc, argv);
    loadLanguage(QStringLiteral("english"));
    const QString clip =
        cachedClip(QStringLiteral(DASHCAM_BENCH_CACHE), QStringLiteral("drive-open-clip"),
                   {"-f", "lavfi", "-i", "testsrc2=size=320x240:rate=25:duration=2", "-c:v",
                    "libx264", "-g", "25", "-pix_fmt", "yuv420p"});
    if (clip.isEmpty()) {
        std::fprintf(stderr, "could not make the clip\n");
        return 1;
    }
    // 500 clips named two seconds apart, and a lone clip hours later.
    const QString card = home.path() + QStringLiteral("/card");
    QDir().mkpath(card);
    const QDateTime start(QDate(2026, 3, 14), QTime(8, 0), Qt::UTC);
    for (int k = 0; k < kClips; ++k) {
        const QString name = start.addSecs(2 * k).toString(QStringLiteral("yyyyMMdd_HHmmss"));
        QFile::copy(clip, QStringLiteral("%1/%2.mp4").arg(card, name));
    }
    QFile::copy(clip, card + QStringLiteral("/20260314_200000.mp4"));

    MainWindow window;
    QObject::connect(
        &window, &MainWindow::_playerPlaying, &window,
        [](int type, double, double, quint64) {
            if (type == OxFFPlayer::ReportPicture && armed.exchange(false))
                firstPictureAt = av_gettime();
        },
        Qt::DirectConnection);
    window.show();
    window.playlist()->addVideoDir(card, false);
    OxPlaylistDrives *drives = window.playlist()->drives();
    if (!waitFor(
            [drives] {
                const OxPlaylistDrives::Entry *entry = drives->driveAtRow(0);
                return entry && entry->drive.clips.size() == kClips;
            },
            600000)) {
        std::fprintf(stderr, "the drive was not grouped\n");
        return 1;
    }

    QVector<double> drive, single;
    for (int run = 0; run < kRuns; ++run) {
        drive << openMs(window, 0, OxVideoItemWidget::kHeaderHeight / 2);
        single << openMs(window, kClips, 30);
    }
    window.stopButton()->click();
    if (*std::min_element(drive.begin(), drive.end()) < 0 ||
        *std::min_element(single.begin(), single.end()) < 0) {
        std::fprintf(stderr, "no picture came\n");
        return 1;
    }
    const double reference = median(single);
    std::printf("figure drive_open_500_ms value=%.1f reference=%.1f target=%.1f\n", median(drive),
                reference, 1.5 * reference);
    return 0;
}
