// The video area in a real window: mouse input goes through the window system path
// (QWindow events), lands on the GL picture view and reaches the area by propagation.

#include "jtvideoview.h"
#include "oxmediadata.h"
#include "oxvideoview.h"
#include "testhome.h"

#include <QLabel>
#include <QMouseEvent>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QtTest>

#include <memory>
#include <vector>

namespace {

OxYUV420P *greyPicture(int w, int h)
{
    std::vector<uint8_t> y(size_t(w * h), 200), uv(size_t((w / 2) * (h / 2)), 128);
    const uint8_t *planes[3] = {y.data(), uv.data(), uv.data()};
    return new OxYUV420P(planes, w, h);
}

} // namespace

class tst_jtvideoview : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void geometry_data();
    void geometry();
    void logo();
    void singleClick();
    void doubleClick();
    void threeClicks();
    void buttonsAreNotCompared();
    void dragDropsPendingClick();
    void dragFromIdle();
    void pointerClickOnThePicture();

private:
    QPoint at(int x, int y) const { return area->mapTo(host.get(), QPoint(x, y)); }
    QWindow *window() const { return host->windowHandle(); }
    void click(Qt::MouseButton button, int x, int y)
    {
        QTest::mouseClick(window(), button, Qt::NoModifier, at(x, y));
    }

    std::unique_ptr<TestHome> home;
    std::unique_ptr<QWidget> host;
    JtVideoView *area = nullptr;
};

void tst_jtvideoview::initTestCase()
{
    home = std::make_unique<TestHome>();
    qRegisterMetaType<QMouseEvent *>("QMouseEvent*");
}

// The area sits away from the window's corner, so window and area coordinates differ.
void tst_jtvideoview::init()
{
    host = std::make_unique<QWidget>();
    host->resize(500, 400);
    area = new JtVideoView(host.get());
    area->setGeometry(50, 30, 400, 300);
    host->show();
    QVERIFY(QTest::qWaitForWindowExposed(host.get()));
}

void tst_jtvideoview::cleanup()
{
    host.reset();
    area = nullptr;
}

void tst_jtvideoview::geometry_data()
{
    QTest::addColumn<QSize>("size");
    QTest::newRow("small") << QSize(320, 180);
    QTest::newRow("odd") << QSize(333, 211);
    QTest::newRow("full screen") << QSize(1920, 1080);
}

void tst_jtvideoview::geometry()
{
    QFETCH(QSize, size);
    area->resize(size);
    QCOMPARE(area->videoView->geometry(), QRect(QPoint(0, 0), size));
    auto *logo = area->findChild<QLabel *>();
    QVERIFY(logo);
    QCOMPARE(logo->geometry().size(), QSize(0, 0));
}

void tst_jtvideoview::logo()
{
    auto *logo = area->findChild<QLabel *>();
    QVERIFY(logo);
    const QPixmap icon = logo->pixmap(Qt::ReturnByValue);
    QVERIFY(!icon.isNull());
    QCOMPARE(icon.width(), qRound(100 * area->devicePixelRatioF()));

    area->videoView->setFrame(greyPicture(64, 48));
    const QString shot = home->path() + QStringLiteral("/shot.jpg");
    QVERIFY(area->videoView->screenshot(shot));

    area->hideLogo();
    QVERIFY(!logo->isVisible());
    area->showLogo();
    QVERIFY(logo->isVisible());
    // The picture is gone: nothing left to save.
    QVERIFY(!area->videoView->screenshot(home->path() + QStringLiteral("/again.jpg")));
}

void tst_jtvideoview::singleClick()
{
    QSignalSpy pressed(area, &JtVideoView::onMousePressed);
    QSignalSpy released(area, &JtVideoView::onMouseReleased);
    QSignalSpy clicked(area, &JtVideoView::onClick);
    QSignalSpy doubled(area, &JtVideoView::onDoubleClicked);

    click(Qt::LeftButton, 10, 20);
    QCOMPARE(pressed.count(), 1);
    QCOMPARE(released.count(), 1);
    QCOMPARE(clicked.count(), 0); // only once the timer has run out
    QTRY_COMPARE_WITH_TIMEOUT(clicked.count(), 1, 5000);
    const QList<QVariant> args = clicked.takeFirst();
    QCOMPARE(args.at(0).toInt(), int(Qt::LeftButton));
    QCOMPARE(args.at(1).toDouble(), 10.0);
    QCOMPARE(args.at(2).toDouble(), 20.0);
    QCOMPARE(doubled.count(), 0);
}

void tst_jtvideoview::doubleClick()
{
    QSignalSpy released(area, &JtVideoView::onMouseReleased);
    QSignalSpy clicked(area, &JtVideoView::onClick);
    QSignalSpy doubled(area, &JtVideoView::onDoubleClicked);

    click(Qt::LeftButton, 10, 20);
    click(Qt::LeftButton, 30, 40);
    QCOMPARE(doubled.count(), 1);
    const QList<QVariant> args = doubled.takeFirst();
    QCOMPARE(args.at(0).toInt(), int(Qt::LeftButton));
    QCOMPARE(args.at(1).toDouble(), 30.0);
    QCOMPARE(args.at(2).toDouble(), 40.0);
    QCOMPARE(released.count(), 2);
    QVERIFY(!clicked.wait(700));
}

void tst_jtvideoview::threeClicks()
{
    QSignalSpy clicked(area, &JtVideoView::onClick);
    QSignalSpy doubled(area, &JtVideoView::onDoubleClicked);

    click(Qt::LeftButton, 5, 5);
    click(Qt::LeftButton, 6, 6);
    click(Qt::LeftButton, 70, 80);
    QCOMPARE(doubled.count(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(clicked.count(), 1, 5000);
    const QList<QVariant> args = clicked.takeFirst();
    QCOMPARE(args.at(1).toDouble(), 70.0);
    QCOMPARE(args.at(2).toDouble(), 80.0);
    QCOMPARE(doubled.count(), 1);
}

void tst_jtvideoview::buttonsAreNotCompared()
{
    QSignalSpy doubled(area, &JtVideoView::onDoubleClicked);
    click(Qt::LeftButton, 10, 10);
    click(Qt::RightButton, 12, 14);
    QCOMPARE(doubled.count(), 1);
    QCOMPARE(doubled.first().at(0).toInt(), int(Qt::RightButton));
}

// A click, then before its timer runs out a press that moves before its release: the
// pending click is dropped silently.
void tst_jtvideoview::dragDropsPendingClick()
{
    QSignalSpy pressed(area, &JtVideoView::onMousePressed);
    QSignalSpy moved(area, &JtVideoView::onMouseMoved);
    QSignalSpy released(area, &JtVideoView::onMouseReleased);
    QSignalSpy clicked(area, &JtVideoView::onClick);
    QSignalSpy doubled(area, &JtVideoView::onDoubleClicked);

    click(Qt::LeftButton, 10, 20);
    QTest::mousePress(window(), Qt::LeftButton, Qt::NoModifier, at(100, 100));
    QTest::mouseMove(window(), at(140, 120));
    QTest::mouseRelease(window(), Qt::LeftButton, Qt::NoModifier, at(140, 120));

    QCOMPARE(pressed.count(), 2);
    QVERIFY(moved.count() >= 1);
    QCOMPARE(released.count(), 1); // the first click's only
    QCOMPARE(doubled.count(), 0);
    QVERIFY(!clicked.wait(700));
}

// A drag on its own emits no click either; the next press makes clicks work again.
void tst_jtvideoview::dragFromIdle()
{
    QSignalSpy released(area, &JtVideoView::onMouseReleased);
    QSignalSpy clicked(area, &JtVideoView::onClick);
    QSignalSpy doubled(area, &JtVideoView::onDoubleClicked);

    QTest::mousePress(window(), Qt::LeftButton, Qt::NoModifier, at(100, 100));
    QTest::mouseMove(window(), at(120, 100));
    QTest::mouseRelease(window(), Qt::LeftButton, Qt::NoModifier, at(120, 100));
    QCOMPARE(released.count(), 0);

    click(Qt::LeftButton, 33, 44);
    QCOMPARE(released.count(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(clicked.count(), 1, 5000);
    QCOMPARE(clicked.first().at(1).toDouble(), 33.0);
    QCOMPARE(doubled.count(), 0);
}

// A click of the X pointer on the picture reaches the area through the picture's own
// window.
void tst_jtvideoview::pointerClickOnThePicture()
{
    const QString xdotool = QStandardPaths::findExecutable(QStringLiteral("xdotool"));
    if (xdotool.isEmpty())
        QSKIP("xdotool is not installed");
    QTRY_VERIFY(area->videoView->isValid()); // its window is on screen and drawn
    QSignalSpy clicked(area, &JtVideoView::onClick);
    const QPoint at = area->mapToGlobal(QPoint(200, 150));
    const QString command = QStringLiteral("mousemove %1 %2 click 1").arg(at.x()).arg(at.y());
    QCOMPARE(QProcess::execute(xdotool, command.split(' ')), 0);
    QTRY_COMPARE_WITH_TIMEOUT(clicked.count(), 1, 5000);
    QCOMPARE(clicked.first().at(1).toDouble(), 200.0);
    QCOMPARE(clicked.first().at(2).toDouble(), 150.0);
}

int main(int argc, char *argv[])
{
    Q_INIT_RESOURCE(resources);
    QApplication app(argc, argv);
    tst_jtvideoview test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_jtvideoview.moc"
