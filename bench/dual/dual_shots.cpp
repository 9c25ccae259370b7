// Pictures of a front and rear pair in the video area, one per layout, for the docs:
// dual_shots DIR writes DIR/dual-pip.png, DIR/dual-side.png and DIR/dual-one.png. The
// front is a 1280 x 720 test pattern, the rear a 640 x 480 one of another pattern; both
// are paused a second in. Needs a screen (Xvfb).
#include "benchsupport.h"
#include "channelpairs.h"
#include "configkeys.h"
#include "jtvideoview.h"
#include "oxffplayer.h"
#include "oxvideoview.h"
#include "pairedchannel.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPainter>
#include <QStandardPaths>
#include <QWidget>

#include <cstdio>

namespace {

const QString kCache = QStringLiteral(DASHCAM_BENCH_CACHE);

QStringList clip(const QString &pattern, const QString &size, int rate)
{
    return {
        "-f",       "lavfi",
        "-i",       QStringLiteral("%1=size=%2:rate=%3:duration=4").arg(pattern, size).arg(rate),
        "-c:v",     "libx264",
        "-preset",  "ultrafast",
        "-pix_fmt", "yuv420p"};
}

// The area as it shows: black, with each picture view's drawing where the view is.
QImage areaImage(JtVideoView *area)
{
    QImage image(area->size(), QImage::Format_RGB32);
    image.fill(Qt::black);
    QPainter painter(&image);
    const QRect rects[2] = {area->videoViewRect(), area->pairedViewRect()};
    OxVideoView *views[2] = {area->videoView, area->pairedVideoView()};
    // The large picture first, the small one over it.
    const int order[2] = {rects[0].width() >= rects[1].width() ? 0 : 1,
                          rects[0].width() >= rects[1].width() ? 1 : 0};
    for (int i : order) {
        if (!rects[i].isEmpty())
            painter.drawImage(rects[i], views[i]->grabFramebuffer());
    }
    return image;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QStandardPaths::setTestModeEnabled(true);
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: dual_shots DIR\n");
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(dir);
    const QString front = cachedClip(kCache, "shots-front", clip("testsrc2", "1280x720", 30));
    const QString rear = cachedClip(kCache, "shots-rear", clip("testsrc", "640x480", 25));
    if (front.isEmpty() || rear.isEmpty())
        return 1;

    QWidget window;
    window.resize(640, 360);
    auto *area = new JtVideoView(&window);
    area->setGeometry(0, 0, 640, 360);
    window.show();
    waitFor([] { return false; }, 500);
    area->hideLogo();

    OxFFPlayer leader;
    leader.setVideoView(area->videoView);
    PairedChannel paired(area, &leader);
    ChannelPairing pairing;
    pairing.channel = CameraChannel::Rear;
    pairing.sources.append({rear, -1, 0, 4, 0});
    if (leader.open(QFile::encodeName(front).constData()) < 0 || !paired.play(pairing))
        return 1;
    waitFor([&] { return leader.videoTime() > 1.0; }, 10000);
    leader.pause();
    waitFor([] { return false; }, 500);

    const std::pair<int, const char *> shots[] = {{ChannelLayout::PictureInPicture, "dual-pip"},
                                                  {ChannelLayout::SideBySide, "dual-side"},
                                                  {ChannelLayout::OneChannel, "dual-one"}};
    int failed = 0;
    for (const auto &[layout, name] : shots) {
        paired.setLayout(layout);
        waitFor([] { return false; }, 500);
        // A palette keeps the file small; the test patterns have few colours.
        const QImage image = areaImage(area).convertToFormat(QImage::Format_Indexed8);
        const QString path = QStringLiteral("%1/%2.png").arg(dir, QLatin1String(name));
        if (!image.save(path))
            ++failed;
        std::printf("%s %dx%d\n", qPrintable(path), image.width(), image.height());
    }
    paired.stop();
    leader.stop();
    return failed;
}
