// The picture view drawn for real: a GL context under Xvfb, pictures read back from the
// framebuffer.

#include "oxmediadata.h"
#include "oxvideoview.h"
#include "testhome.h"

#include <QApplication>
#include <QFile>
#include <QImage>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QScreen>
#include <QSignalSpy>
#include <QtTest>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace {

using PlaneFill = std::function<int(int x, int y)>;

// A picture whose planes are filled per pixel (chroma in chroma coordinates).
OxYUV420P *makePicture(int w, int h, const PlaneFill &yFill, const PlaneFill &uFill,
                       const PlaneFill &vFill)
{
    const int cw = w / 2, ch = h / 2;
    std::vector<uint8_t> y(size_t(w * h)), u(size_t(cw * ch)), v(size_t(cw * ch));
    for (int r = 0; r < h; ++r)
        for (int c = 0; c < w; ++c)
            y[size_t(r * w + c)] = uint8_t(yFill(c, r));
    for (int r = 0; r < ch; ++r)
        for (int c = 0; c < cw; ++c) {
            u[size_t(r * cw + c)] = uint8_t(uFill(c, r));
            v[size_t(r * cw + c)] = uint8_t(vFill(c, r));
        }
    const uint8_t *planes[3] = {y.data(), u.data(), v.data()};
    return new OxYUV420P(planes, w, h);
}

OxYUV420P *flatPicture(int w, int h, int Y, int U, int V)
{
    return makePicture(
        w, h, [Y](int, int) { return Y; }, [U](int, int) { return U; },
        [V](int, int) { return V; });
}

bool near(QRgb pixel, int r, int g, int b, int tolerance = 3)
{
    return qAbs(qRed(pixel) - r) <= tolerance && qAbs(qGreen(pixel) - g) <= tolerance &&
           qAbs(qBlue(pixel) - b) <= tolerance;
}

QString describe(QRgb pixel)
{
    return QStringLiteral("(%1, %2, %3)").arg(qRed(pixel)).arg(qGreen(pixel)).arg(qBlue(pixel));
}

bool isBlack(QRgb pixel)
{
    return qRed(pixel) == 0 && qGreen(pixel) == 0 && qBlue(pixel) == 0;
}

// The first and last index along a line of the image where the pixel is not black.
QPair<int, int> litExtent(const QImage &image, bool horizontal, int at)
{
    const int n = horizontal ? image.width() : image.height();
    int first = -1, last = -1;
    for (int i = 0; i < n; ++i) {
        const QRgb p = horizontal ? image.pixel(i, at) : image.pixel(at, i);
        if (!isBlack(p)) {
            if (first < 0)
                first = i;
            last = i;
        }
    }
    return {first, last};
}

// Objects of the view's context as seen from the shared context, which outlives it.
struct GlObjects
{
    GLuint program = 0;
    GLuint shaders[2] = {0, 0};
    GLuint textures[3] = {0, 0, 0};
};

} // namespace

class tst_oxvideoview : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void colours_data();
    void colours();
    void orientation();
    void bars_data();
    void bars();
    void oddWidth();
    void noPicture();
    void frameFromAnotherThread();
    void screenshot();
    void concurrentFramesAndPaints();
    void drawsOnScreen();
    void releasesGlObjects_data();
    void releasesGlObjects();

private:
    std::unique_ptr<OxVideoView> shownView(int w, int h);
    std::unique_ptr<TestHome> home;
};

void tst_oxvideoview::initTestCase()
{
    home = std::make_unique<TestHome>();
}

std::unique_ptr<OxVideoView> tst_oxvideoview::shownView(int w, int h)
{
    auto view = std::make_unique<OxVideoView>();
    view->resize(w, h);
    view->show();
    if (!QTest::qWaitForWindowExposed(view.get()))
        return nullptr;
    return view;
}

void tst_oxvideoview::colours_data()
{
    QTest::addColumn<int>("Y");
    QTest::addColumn<int>("U");
    QTest::addColumn<int>("V");
    QTest::addColumn<int>("r");
    QTest::addColumn<int>("g");
    QTest::addColumn<int>("b");
    // Expected values from R = 1.164y + 1.596v, G = 1.164y - 0.392u - 0.813v,
    // B = 1.164y + 2.017u with u and v centred on 0.5 (no black-level offset on y).
    QTest::newRow("neutral grey") << 128 << 128 << 128 << 150 << 148 << 150;
    QTest::newRow("red") << 81 << 90 << 240 << 255 << 18 << 19;
    QTest::newRow("green") << 145 << 54 << 34 << 20 << 255 << 21;
    QTest::newRow("blue") << 41 << 240 << 110 << 20 << 18 << 255;
    QTest::newRow("brown, every term unsaturated") << 60 << 100 << 160 << 122 << 54 << 14;
    QTest::newRow("pink") << 200 << 128 << 200 << 255 << 174 << 234;
}

void tst_oxvideoview::colours()
{
    QFETCH(int, Y);
    QFETCH(int, U);
    QFETCH(int, V);
    QFETCH(int, r);
    QFETCH(int, g);
    QFETCH(int, b);

    auto view = shownView(320, 240);
    QVERIFY(view);
    view->setFrame(flatPicture(64, 48, Y, U, V));
    const QImage image = view->grabFramebuffer();
    QCOMPARE(image.size(), QSize(320, 240));
    for (const QPoint &p : {QPoint(1, 1), QPoint(160, 120), QPoint(318, 238)}) {
        const QRgb pixel = image.pixel(p);
        QVERIFY2(near(pixel, r, g, b), qPrintable(describe(pixel)));
    }
}

// Row 0 of a plane is the top of the picture, column 0 its left; the chroma planes line
// up with the luma plane.
void tst_oxvideoview::orientation()
{
    auto view = shownView(200, 200);
    QVERIFY(view);
    view->setFrame(makePicture(
        40, 40, [](int, int y) { return y < 20 ? 150 : 60; }, [](int, int) { return 128; },
        [](int x, int) { return x < 10 ? 220 : 128; }));
    const QImage image = view->grabFramebuffer();

    const QRgb topLeft = image.pixel(20, 20), topRight = image.pixel(180, 20);
    const QRgb bottomLeft = image.pixel(20, 180), bottomRight = image.pixel(180, 180);
    // Left: strong red difference; right: grey.
    QVERIFY2(qRed(topLeft) - qGreen(topLeft) > 100, qPrintable(describe(topLeft)));
    QVERIFY2(qRed(bottomLeft) - qGreen(bottomLeft) > 100, qPrintable(describe(bottomLeft)));
    QVERIFY2(qAbs(qRed(topRight) - qGreen(topRight)) < 6, qPrintable(describe(topRight)));
    QVERIFY2(qAbs(qRed(bottomRight) - qGreen(bottomRight)) < 6, qPrintable(describe(bottomRight)));
    // Top bright, bottom dark.
    QVERIFY(qGreen(topRight) > 150);
    QVERIFY(qGreen(bottomRight) < 90);
}

void tst_oxvideoview::bars_data()
{
    QTest::addColumn<QSize>("picture");
    QTest::addColumn<QSize>("widget");
    QTest::addColumn<QRect>("expected"); // lit area of the widget

    // 1920x1080 in a square: s = 0.5625, rows 87.5 .. 312.5 of 400.
    QTest::newRow("wide picture, bars above and below")
        << QSize(1920, 1080) << QSize(400, 400) << QRect(QPoint(0, 88), QPoint(399, 312));
    // 640x480 in 640x360: t = 0.75, columns 80 .. 560.
    QTest::newRow("4:3 picture in a 16:9 widget, bars left and right")
        << QSize(640, 480) << QSize(640, 360) << QRect(QPoint(80, 0), QPoint(559, 359));
    QTest::newRow("same ratio fills the widget")
        << QSize(320, 180) << QSize(640, 360) << QRect(0, 0, 640, 360);
    QTest::newRow("tall picture") << QSize(180, 320) << QSize(600, 320)
                                  << QRect(QPoint(210, 0), QPoint(389, 319));
}

void tst_oxvideoview::bars()
{
    QFETCH(QSize, picture);
    QFETCH(QSize, widget);
    QFETCH(QRect, expected);

    auto view = shownView(widget.width(), widget.height());
    QVERIFY(view);
    view->setFrame(flatPicture(picture.width(), picture.height(), 180, 128, 128));
    const QImage image = view->grabFramebuffer();
    QCOMPARE(image.size(), widget);

    const auto rows = litExtent(image, false, widget.width() / 2);
    const auto columns = litExtent(image, true, widget.height() / 2);
    QVERIFY2(qAbs(rows.first - expected.top()) <= 1 && qAbs(rows.second - expected.bottom()) <= 1,
             qPrintable(QStringLiteral("rows %1..%2").arg(rows.first).arg(rows.second)));
    QVERIFY2(qAbs(columns.first - expected.left()) <= 1 &&
                 qAbs(columns.second - expected.right()) <= 1,
             qPrintable(QStringLiteral("columns %1..%2").arg(columns.first).arg(columns.second)));
    // Bars are pure black, the picture is the picture's grey.
    QVERIFY(near(image.pixel(expected.center()), 210, 209, 211));
}

// Rows of 99 (luma) and 49 (chroma) bytes: read with a 4-byte row alignment every row
// would start a little further off, and the edge between the halves would slant.
void tst_oxvideoview::oddWidth()
{
    auto view = shownView(198, 120);
    QVERIFY(view);
    view->setFrame(makePicture(
        99, 60, [](int x, int) { return x < 50 ? 40 : 220; }, [](int, int) { return 128; },
        [](int x, int) { return x < 25 ? 220 : 128; }));
    const QImage image = view->grabFramebuffer();
    for (int row = 2; row < 118; row += 5) {
        int edge = -1;
        for (int x = 0; x < image.width(); ++x)
            if (qGreen(image.pixel(x, row)) > 128) {
                edge = x;
                break;
            }
        QVERIFY2(qAbs(edge - 100) <= 3,
                 qPrintable(QStringLiteral("row %1 edge at %2").arg(row).arg(edge)));
        const QRgb left = image.pixel(10, row);
        QVERIFY2(qRed(left) - qGreen(left) > 60, qPrintable(describe(left)));
    }
}

void tst_oxvideoview::noPicture()
{
    auto view = shownView(160, 120);
    QVERIFY(view);
    auto allBlack = [](const QImage &image) {
        for (int y = 0; y < image.height(); y += 7)
            for (int x = 0; x < image.width(); x += 7)
                if (!isBlack(image.pixel(x, y)))
                    return false;
        return true;
    };
    QVERIFY(allBlack(view->grabFramebuffer()));

    view->setFrame(flatPicture(32, 24, 200, 128, 128));
    QVERIFY(!allBlack(view->grabFramebuffer()));

    QSignalSpy swapped(view.get(), &OxVideoView::frameSwapped);
    view->clearFrame();
    view->clearFrame(); // harmless
    QVERIFY(allBlack(view->grabFramebuffer()));
    QTRY_VERIFY(swapped.count() >= 1);
}

// The video thread hands pictures over; the repaint they ask for happens on the GUI
// thread through the queued signal.
void tst_oxvideoview::frameFromAnotherThread()
{
    auto view = shownView(160, 120);
    QVERIFY(view);
    QTRY_VERIFY(view->isValid());
    QSignalSpy asked(view.get(), &OxVideoView::updateAsyncSignal);
    QSignalSpy swapped(view.get(), &OxVideoView::frameSwapped);
    OxVideoView *raw = view.get();
    std::thread worker([raw] { raw->setFrame(flatPicture(32, 24, 81, 90, 240)); });
    worker.join();
    QCOMPARE(asked.count(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(swapped.count() >= 1, 10000);
    QVERIFY(near(view->grabFramebuffer().pixel(80, 60), 255, 18, 19));
}

void tst_oxvideoview::screenshot()
{
    auto view = shownView(160, 120);
    QVERIFY(view);
    const QString path = home->path() + QStringLiteral("/shot.jpg");
    QVERIFY(!view->screenshot(path));
    QVERIFY(!QFile::exists(path));

    // Full size, whatever the widget's size.
    view->setFrame(flatPicture(640, 360, 60, 100, 160));
    QVERIFY(view->screenshot(path));
    QImage saved(path);
    QCOMPARE(saved.size(), QSize(640, 360));
    // The JPEG holds the picture's colour (decoded with the full-range JPEG matrix,
    // hence a wider tolerance than on screen).
    const QRgb pixel = saved.pixel(320, 180);
    QVERIFY2(near(pixel, 104, 42, 5, 12), qPrintable(describe(pixel)));

    QVERIFY(!view->screenshot(home->path() + QStringLiteral("/missing/folder/shot.jpg")));
}

// Pictures keep coming from a worker while the GUI thread paints and saves: nothing is
// freed under a paint or an encode (run under the sanitizers).
void tst_oxvideoview::concurrentFramesAndPaints()
{
    auto view = shownView(160, 120);
    QVERIFY(view);
    OxVideoView *raw = view.get();
    std::atomic<bool> done{false};
    std::thread worker([raw, &done] {
        for (int i = 0; i < 300; ++i)
            raw->setFrame(flatPicture(64, 48, 16 + (i % 200), 128, 128));
        done = true;
    });
    int paints = 0;
    const QString path = home->path() + QStringLiteral("/busy.jpg");
    while (!done) {
        const QImage image = raw->grabFramebuffer();
        QCOMPARE(image.size(), QSize(160, 120));
        if (paints % 10 == 0)
            raw->screenshot(path);
        QCoreApplication::processEvents();
        ++paints;
    }
    worker.join();
    // The last picture is the one held.
    QVERIFY(near(view->grabFramebuffer().pixel(80, 60), qRound((16 + 299 % 200) * 1.164),
                 qRound((16 + 299 % 200) * 1.164), qRound((16 + 299 % 200) * 1.164), 4));
}

// What the view's window shows on the screen, not a drawing made for a grab: pictures
// handed over from another thread, a resize of the view, a picture of another size.
void tst_oxvideoview::drawsOnScreen()
{
    auto view = shownView(320, 160);
    QVERIFY(view);
    OxVideoView *raw = view.get();
    auto onScreen = [raw](int x, int y) {
        const QPoint at = raw->mapToGlobal(QPoint(x, y));
        return QGuiApplication::primaryScreen()
            ->grabWindow(0, at.x(), at.y(), 1, 1)
            .toImage()
            .pixel(0, 0);
    };
    std::thread([raw] { raw->setFrame(flatPicture(64, 48, 81, 90, 240)); }).join();
    // 4:3 in 2:1, bars left and right.
    QTRY_VERIFY(near(onScreen(160, 80), 255, 18, 19));
    QVERIFY(isBlack(onScreen(10, 80)));

    // Square: bars above and below.
    raw->resize(320, 320);
    QTRY_VERIFY(near(onScreen(10, 80), 255, 18, 19));
    QVERIFY(isBlack(onScreen(160, 20)));

    // 1:2, in blue.
    std::thread([raw] { raw->setFrame(flatPicture(32, 64, 41, 240, 110)); }).join();
    QTRY_VERIFY(near(onScreen(160, 300), 20, 18, 255));
    QVERIFY(isBlack(onScreen(60, 160)));
}

void tst_oxvideoview::releasesGlObjects_data()
{
    QTest::addColumn<bool>("windowGoneFirst");
    QTest::newRow("destroyed on screen") << false;
    QTest::newRow("after its window was destroyed") << true;
}

void tst_oxvideoview::releasesGlObjects()
{
    QFETCH(bool, windowGoneFirst);
    QOpenGLContext *shared = QOpenGLContext::globalShareContext();
    QVERIFY(shared);

    auto view = shownView(120, 90);
    QVERIFY(view);
    view->setFrame(flatPicture(32, 24, 128, 128, 128));
    view->grabFramebuffer();

    GlObjects objects;
    view->makeCurrent();
    QOpenGLFunctions *gl = view->context()->functions();
    GLint value = 0;
    gl->glGetIntegerv(GL_CURRENT_PROGRAM, &value);
    objects.program = GLuint(value);
    GLsizei count = 0;
    gl->glGetAttachedShaders(objects.program, 2, &count, objects.shaders);
    QCOMPARE(count, 2);
    for (int unit = 0; unit < 3; ++unit) {
        gl->glActiveTexture(GL_TEXTURE0 + GLenum(unit));
        gl->glGetIntegerv(GL_TEXTURE_BINDING_2D, &value);
        objects.textures[unit] = GLuint(value);
    }
    view->doneCurrent();
    QVERIFY(objects.program != 0);
    for (GLuint texture : objects.textures)
        QVERIFY(texture != 0);

    // Ask a context of the same share group, which outlives the view's own.
    QOffscreenSurface surface;
    surface.setFormat(shared->format());
    surface.create();
    QOpenGLContext probe;
    probe.setShareContext(shared);
    probe.setFormat(shared->format());
    QVERIFY(probe.create());
    auto alive = [&](bool expected) {
        if (!probe.makeCurrent(&surface))
            return false;
        QOpenGLFunctions *f = probe.functions();
        bool ok = bool(f->glIsProgram(objects.program)) == expected;
        for (GLuint shader : objects.shaders)
            ok = ok && bool(f->glIsShader(shader)) == expected;
        for (GLuint texture : objects.textures)
            ok = ok && bool(f->glIsTexture(texture)) == expected;
        probe.doneCurrent();
        return ok;
    };
    QVERIFY(alive(true)); // the probe sees the view's objects
    if (windowGoneFirst)
        view->windowHandle()->destroy();
    view.reset();
    QVERIFY(alive(false));
}

int main(int argc, char *argv[])
{
    // Every GL context shares with the global one, so the objects of a destroyed view
    // can still be looked up.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    tst_oxvideoview test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_oxvideoview.moc"
