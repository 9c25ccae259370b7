#include "oxmapwidget.h"
#include "testhome.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QSignalSpy>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <QtTest>

#include <memory>

namespace {

OxLocation fix(bool valid, double lat, double lng)
{
    OxLocation l;
    l.valid = valid;
    l.latitude = lat;
    l.longitude = lng;
    return l;
}

// A straight track of n valid fixes, point i at (30 + i / 1000, 120 + i / 1000).
OxTrack line(int n)
{
    OxTrack track;
    for (int i = 0; i < n; ++i)
        track.append(fix(true, 30 + i * 0.001, 120 + i * 0.001));
    return track;
}

// A track spelled one letter per fix: 'a' a valid fix, 'v' a void one. Fix i lies at
// (30 + i / 1000, 120 + i / 1000), so the marker's place tells which fix it shows.
OxTrack spelled(const QString &fixes)
{
    OxTrack track;
    for (int i = 0; i < fixes.size(); ++i)
        track.append(fix(fixes.at(i) == 'a', 30 + i * 0.001, 120 + i * 0.001));
    return track;
}

} // namespace

// The map widget with its two real web pages, loaded from the build tree. Page
// state is read back through the pages' __state() hook. One widget serves the
// whole test: each web page costs a renderer process.
class tst_oxmapwidget : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestHome> home;
    std::unique_ptr<OxMapWidget> map;
    QWebEngineView *google = nullptr;
    QWebEngineView *baidu = nullptr;

    // Runs a script and waits for its result. Calls from the widget that came
    // before it have run by then: a page runs its scripts in order.
    static QVariant eval(QWebEngineView *view, const QString &script)
    {
        auto result = std::make_shared<std::pair<bool, QVariant>>(false, QVariant());
        view->page()->runJavaScript(script, [result](const QVariant &v) {
            result->first = true;
            result->second = v;
        });
        if (!QTest::qWaitFor([&] { return result->first; }, 30000))
            qWarning("script timed out: %s", qPrintable(script));
        return result->second;
    }
    static QVariantMap state(QWebEngineView *view)
    {
        return eval(view, "typeof __state === 'function' ? __state() : null").toMap();
    }
    static QVariantList point(const QVariantMap &s, int i)
    {
        return s.value("points").toList().value(i).toList();
    }

private slots:
    void initTestCase()
    {
        home = std::make_unique<TestHome>();
        QCoreApplication::setApplicationName("tst_oxmapwidget");
        OxMapWidget::setPageRoot(DASHCAM_RUNTIME_DIR);
        map = std::make_unique<OxMapWidget>();
        map->resize(640, 480);

        // Before the pages exist: these calls must not be lost.
        map->setMapType(2);
        map->setGPSCorrection(0);
        map->showTrack({fix(true, 31.1, 121.1), fix(false, 0, 0), fix(true, 31.2, 121.2)});
        // No web engine before the widget is on screen, and then only the chosen page.
        QVERIFY(!map->findChild<QWebEngineView *>());
        map->show();
        QVERIFY(QTest::qWaitForWindowExposed(map.get()));
        QTRY_VERIFY_WITH_TIMEOUT(google = map->findChild<QWebEngineView *>("googleView"), 30000);
        QVERIFY(!map->findChild<QWebEngineView *>("baiduView"));
        // Those calls wait for the page that was built for them.
        QTRY_COMPARE_WITH_TIMEOUT(state(google).value("points").toList().size(), 2, 30000);
    }

    void cleanupTestCase() { map.reset(); }

    void pagesComeFromTheBuildTree()
    {
        const QString folder = QStringLiteral(DASHCAM_RUNTIME_DIR "/Map/");
        QCOMPARE(google->page()->requestedUrl(), QUrl::fromLocalFile(folder + "googleMap.html"));
        QVERIFY(google->isVisible());
        QCOMPARE(google->geometry(), QRect(0, 0, 640, 480));
    }

    // With the sandbox off (as here when run as root) the page is drawn inside the
    // program: neither a renderer nor zygote processes are started for it.
    void rendererInsideTheProgram()
    {
        if (!qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX"))
            QSKIP("the sandbox is on: its renderers come from a zygote");
        QStringList children;
        for (const QString &pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
            QFile stat("/proc/" + pid + "/stat"), command("/proc/" + pid + "/cmdline");
            // The parent's id follows the state, after the name in parentheses.
            if (stat.open(QIODevice::ReadOnly) && command.open(QIODevice::ReadOnly) &&
                stat.readAll().split(')').last().split(' ').value(2).toLongLong() ==
                    QCoreApplication::applicationPid())
                children.append(command.readAll().replace('\0', ' '));
        }
        QVERIFY2(children.filter("--type=renderer").isEmpty(), qPrintable(children.join('\n')));
        QVERIFY2(children.filter("--type=zygote").isEmpty(), qPrintable(children.join('\n')));
    }

    // The user's switches stay as given and win over the page's own; a sandboxed engine
    // keeps its zygotes, without which it could start no renderer.
    void webEngineFlags()
    {
        QCOMPARE(OxMapWidget::webEngineFlags("", false), QByteArray("--renderer-process-limit=1"));
        QCOMPARE(
            OxMapWidget::webEngineFlags(" --lang=de  --renderer-process-limit=3 --no-zygote", true),
            QByteArray("--lang=de --renderer-process-limit=3 --no-zygote --single-process"));
    }

    void earlyTrackArrivesWithoutVoidFix()
    {
        const QVariantMap s = state(google);
        QCOMPARE(s.value("points").toList().size(), 2);
        QCOMPARE(point(s, 1), (QVariantList{31.2, 121.2}));
        QCOMPARE(s.value("line").toInt(), 2);
        QCOMPARE(s.value("marker").toInt(), 0);

        // 2 s of 3 s is the third fix, the page's second point: the void fix in
        // between has no point of its own.
        map->updateProgress(2, 3);
        QCOMPARE(state(google).value("marker").toInt(), 1);
        // The other page is built the first time it is chosen, and heard nothing.
        map->setMapType(1);
        baidu = map->findChild<QWebEngineView *>("baiduView");
        QVERIFY(baidu);
        QSignalSpy baiduLoaded(baidu, &QWebEngineView::loadFinished);
        QCOMPARE(baidu->page()->requestedUrl(),
                 QUrl::fromLocalFile(QStringLiteral(DASHCAM_RUNTIME_DIR "/Map/baiduMap.html")));
        QCOMPARE(baidu->geometry(), QRect(0, 0, 640, 480));
        QVERIFY(baidu->isVisible());
        QVERIFY(!google->isVisible());
        QTRY_COMPARE_WITH_TIMEOUT(baiduLoaded.count(), 1, 30000);
        QVERIFY(baiduLoaded.at(0).at(0).toBool());
        QCOMPARE(state(baidu).value("points").toList().size(), 0);
        // Chosen again, the first page is the same one, still holding its route.
        map->setMapType(2);
        QCOMPARE(map->findChildren<QWebEngineView *>().size(), 2);
        QCOMPARE(state(google).value("points").toList().size(), 2);
    }

    void routeIsDrawnOffline()
    {
        map->setMapType(2);
        map->showTrack(line(50));
        QCOMPARE(state(google).value("points").toList().size(), 50);
        // The route's blue on the plain ground, whatever the network does.
        auto routePixels = [this] {
            const QImage image = google->grab().toImage();
            int n = 0;
            for (int y = 0; y < image.height(); y += 2)
                for (int x = 0; x < image.width(); x += 2) {
                    const QColor c = image.pixelColor(x, y);
                    n +=
                        (qAbs(c.red() - 0x1e) < 40 && qAbs(c.green() - 0x6f) < 40 && c.blue() > 180)
                            ? 1
                            : 0;
                }
            return n;
        };
        QTRY_VERIFY_WITH_TIMEOUT(routePixels() > 30, 30000);
    }

    void correction_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("correction");
        QTest::addColumn<double>("lat");
        QTest::addColumn<double>("lng");

        QTest::newRow("Google, corrected to GCJ-02") << 2 << 1 << 31.228067 << 121.474535;
        QTest::newRow("Baidu, corrected to BD-09") << 1 << 1 << 31.233987 << 121.481076;
        QTest::newRow("type 0 is never converted") << 0 << 1 << 31.23 << 121.47;
        QTest::newRow("Google uncorrected") << 2 << 0 << 31.23 << 121.47;
        QTest::newRow("Baidu uncorrected") << 1 << 0 << 31.23 << 121.47;
    }

    void correction()
    {
        QFETCH(int, type);
        QFETCH(int, correction);
        QFETCH(double, lat);
        QFETCH(double, lng);

        map->setMapType(type);
        map->setGPSCorrection(correction);
        map->showTrack({fix(true, 31.23, 121.47)});
        QWebEngineView *shown = type == 2 ? google : baidu;
        QVERIFY(shown->isVisible());
        QVERIFY(!(type == 2 ? baidu : google)->isVisible());
        const QVariantMap s = state(shown);
        QCOMPARE(s.value("points").toList().size(), 1);
        // Six decimals travel in the call text.
        QVERIFY(qAbs(point(s, 0).value(0).toDouble() - lat) < 5e-7);
        QVERIFY(qAbs(point(s, 0).value(1).toDouble() - lng) < 5e-7);
        QCOMPARE(s.value("marker").toInt(), 0);
    }

    void markerFollowsProgress()
    {
        map->setMapType(2);
        map->setGPSCorrection(0);
        map->showTrack(line(101));
        map->updateProgress(30, 60);
        QVariantMap s = state(google);
        QCOMPARE(s.value("marker").toInt(), 50);
        QCOMPARE(s.value("markerAt").toList(), point(s, 50));

        map->updateProgress(60, 60);
        QCOMPARE(state(google).value("marker").toInt(), 100);
        map->updateProgress(-5, 60);
        QCOMPARE(state(google).value("marker").toInt(), 0);
        map->updateProgress(5, 0);
        QCOMPARE(state(google).value("marker").toInt(), 0);
        map->play(5000);
        QCOMPARE(state(google).value("marker").toInt(), 100);

        // Zoomed in far away, play brings the marker back into view.
        eval(google, "routeMap.setView([0, 0], 15, {animate: false}); 0");
        QVERIFY(!state(google).value("markerInView").toBool());
        map->play(20);
        QTRY_VERIFY_WITH_TIMEOUT(state(google).value("markerInView").toBool(), 10000);
        QCOMPARE(state(google).value("marker").toInt(), 20);
    }

    // The marker shows the last valid fix the car has passed: void fixes have no point
    // on the page, and before the first valid fix the marker is left alone.
    void markerSkipsVoidFixes_data()
    {
        QTest::addColumn<QString>("fixes");
        QTest::addColumn<double>("current"); // of 60 s
        QTest::addColumn<int>("carAt");      // fix the marker shows; -1: not moved

        const QString voidMinute = QString(30, 'v') + QString(30, 'a');
        QTest::newRow("void start, still in it") << voidMinute << 10.0 << -1;
        QTest::newRow("void start, first valid fix") << voidMinute << 30.0 << 30;
        QTest::newRow("void start, on the route") << voidMinute << 45.0 << 45;
        QTest::newRow("void start, at the end") << voidMinute << 60.0 << 59;
        const QString gap = QString(20, 'a') + QString(20, 'v') + QString(20, 'a');
        QTest::newRow("gap, before it") << gap << 10.0 << 10;
        QTest::newRow("gap, inside it") << gap << 30.0 << 19;
        QTest::newRow("gap, after it") << gap << 50.0 << 50;
        QTest::newRow("every other fix void") << QString("av").repeated(30) << 31.0 << 30;
    }
    void markerSkipsVoidFixes()
    {
        QFETCH(QString, fixes);
        QFETCH(double, current);
        QFETCH(int, carAt);
        map->setMapType(2);
        map->setGPSCorrection(0);
        const OxTrack track = spelled(fixes);
        map->showTrack(track);
        map->play(3); // somewhere the update would have to move it from
        const QVariantList before = state(google).value("markerAt").toList();
        map->updateProgress(current, 60);
        const QVariantList at = state(google).value("markerAt").toList();
        if (carAt < 0) {
            QCOMPARE(at, before);
            return;
        }
        QCOMPARE(at.size(), 2);
        QVERIFY(track.at(carAt).valid);
        QVERIFY2(qAbs(at.at(0).toDouble() - track.at(carAt).latitude) < 5e-7,
                 qPrintable(at.at(0).toString()));
        QVERIFY(qAbs(at.at(1).toDouble() - track.at(carAt).longitude) < 5e-7);
    }

    void clearedMapKeepsCountingFromTheLastTrack()
    {
        map->setMapType(2);
        map->showTrack(line(101));
        map->clearMap();
        QVariantMap s = state(google);
        QCOMPARE(s.value("points").toList().size(), 0);
        QCOMPARE(s.value("line").toInt(), 0);
        QCOMPARE(s.value("marker").toInt(), -1);
        // The page gets play(50) and has nothing to show.
        map->updateProgress(30, 60);
        QCOMPARE(state(google).value("marker").toInt(), -1);
        map->showTrack(line(3));
        QCOMPARE(state(google).value("marker").toInt(), 0);
    }

    void pagesShrugOffOddCalls()
    {
        // printf spells non-finite numbers nan and inf; such calls are dropped.
        const QVariant n = eval(baidu, "initGpsInfo(); addAddress(nan,-nan); addAddress(inf,1);"
                                       "addAddress(31.5,121.5); showPolyline(); play(-3);"
                                       "__state().points.length");
        QCOMPARE(n.toInt(), 1);
        const QVariantMap s = state(baidu);
        QCOMPARE(s.value("marker").toInt(), 0);
        QVERIFY(s.value("zoom").toInt() >= 3);
        QVERIFY(s.value("markerInView").toBool());
    }
};

int main(int argc, char **argv)
{
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    tst_oxmapwidget test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_oxmapwidget.moc"
