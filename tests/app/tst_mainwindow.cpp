#include "language.h"
#include "mainwindow.h"
#include "oxmapwidget.h"
#include "testhome.h"

#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTimer>
#include <QWebEngineView>
#include <QtTest>

#include <memory>

namespace {

// Counts the key presses and releases that reach the widget it watches.
class KeyCounter : public QObject
{
public:
    explicit KeyCounter(QObject *watched) { watched->installEventFilter(this); }
    int presses = 0;
    int releases = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::KeyPress)
            ++presses;
        else if (event->type() == QEvent::KeyRelease)
            ++releases;
        return false;
    }
};

// Notes whether the map held a web view when the window it watches painted first.
class FirstPaint : public QObject
{
public:
    explicit FirstPaint(MainWindow *window) : window(window) { window->installEventFilter(this); }
    int paints = 0;
    bool mapPageThen = false;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && paints++ == 0)
            mapPageThen = window->map()->findChild<QWebEngineView *>() != nullptr;
        return false;
    }

private:
    MainWindow *window;
};

} // namespace

class tst_mainwindow : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestHome> home;

    static QList<QPushButton *> buttons(const MainWindow &w)
    {
        return {w.openButton(),       w.playButton(), w.stopButton(),    w.screenshotButton(),
                w.fullscreenButton(), w.exitButton(), w.settingsButton()};
    }

private slots:
    void initTestCase()
    {
        home = std::make_unique<TestHome>();
        QCoreApplication::setApplicationName("tst_mainwindow");
        setLanguageRoot(home->path() + "/no-language-files");
        loadLanguage("english");
    }

    void minimumSizeAndCentred()
    {
        MainWindow w;
        QCOMPARE(w.minimumSize(), QSize(1280, 720));
        QCOMPARE(w.size(), QSize(1280, 720));
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        QCOMPARE(w.pos(), QPoint((screen.width() - 1280) / 2, (screen.height() - 720) / 2));
        w.resize(800, 600);
        QCOMPARE(w.size(), QSize(1280, 720));
    }

    // The web engine takes a good part of a second to start: the window is on screen
    // before it, and the map page follows by itself.
    void paintsBeforeTheMapPageIsMade()
    {
        MainWindow w;
        FirstPaint probe(&w);
        QVERIFY(!w.map()->findChild<QWebEngineView *>());
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QTRY_VERIFY(probe.paints > 0);
        QVERIFY(!probe.mapPageThen);
        QTRY_VERIFY_WITH_TIMEOUT(w.map()->findChild<QWebEngineView *>(), 20000);
        QCOMPARE(w.map()->findChildren<QWebEngineView *>().size(), 1);
    }

    void labelsWithoutLanguageFile()
    {
        MainWindow w;
        const QStringList keys = {"open_file",  "play", "stop",    "screenshot",
                                  "fullscreen", "exit", "settings"};
        const QList<QPushButton *> all = buttons(w);
        for (int i = 0; i < keys.size(); ++i)
            QCOMPARE(all.at(i)->text(), keys.at(i));
        QVERIFY(!w.playButton()->isEnabled());
        QVERIFY(w.stopButton()->isEnabled());
    }

    void layoutTable_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QList<int>>("xs");
        QTest::addColumn<int>("width");
        QTest::newRow("1280x720") << QSize(1280, 720) << QList<int>{0, 164, 328, 492, 656, 820}
                                  << 159;
        QTest::newRow("1920x1080")
            << QSize(1920, 1080) << QList<int>{0, 270, 540, 810, 1080, 1350} << 265;
    }
    void layoutTable()
    {
        QFETCH(QSize, size);
        QFETCH(QList<int>, xs);
        QFETCH(int, width);
        MainWindow w;
        w.show();
        w.resize(size);
        QTRY_COMPARE(w.size(), size);
        const QList<QPushButton *> all = buttons(w);
        for (int k = 0; k < 6; ++k)
            QCOMPARE(all.at(k)->geometry(), QRect(xs.at(k), size.height() - 40, width, 40));
        QCOMPARE(w.settingsButton()->geometry(),
                 QRect(size.width() - 300, size.height() - 40, 300, 40));
    }

    void fullScreenAndBack()
    {
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.fullscreenButton()->click();
        QVERIFY(w.isFullScreen());
        for (QPushButton *button : buttons(w))
            QCOMPARE(button->geometry(), QRect(0, 0, 0, 0));

        QTest::keyClick(&w, Qt::Key_Escape);
        QVERIFY(!w.isFullScreen());
        QTRY_COMPARE(w.settingsButton()->geometry(),
                     QRect(w.width() - 300, w.height() - 40, 300, 40));
        QCOMPARE(w.openButton()->geometry().size(), QSize((w.width() - 325) / 6, 40));

        // Escape in the normal window does nothing.
        QTest::keyClick(&w, Qt::Key_Escape);
        QVERIFY(!w.isFullScreen());
        QVERIFY(w.isVisible());
    }

    void exitQuitsEventLoop()
    {
        MainWindow w;
        w.show();
        QTimer::singleShot(0, w.exitButton(), &QPushButton::click);
        QTimer failsafe;
        failsafe.setSingleShot(true);
        QSignalSpy timedOut(&failsafe, &QTimer::timeout);
        connect(&failsafe, &QTimer::timeout, qApp, &QCoreApplication::quit);
        failsafe.start(5000);
        qApp->exec();
        QCOMPARE(timedOut.count(), 0);
    }

    // Keys reach the window whichever child has the focus: Escape typed on a focused
    // button leaves full screen, and Space does not click the button.
    void keysFromFocusedChildReachWindow()
    {
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QPushButton *open = w.openButton();
        open->setFocus();
        QSignalSpy clicks(open, &QPushButton::clicked);

        QTest::keyClick(open, Qt::Key_Space);
        QCOMPARE(clicks.count(), 0);
        QVERIFY(!open->isDown());

        w.showFullScreen();
        QVERIFY(w.isFullScreen());
        QTest::keyClick(w.exitButton(), Qt::Key_Escape);
        QVERIFY(!w.isFullScreen());
        QVERIFY(w.isVisible()); // Escape did not reach the exit button either
    }

    // Only Space and Escape are the window's: every other key reaches the focused child,
    // its release included.
    void otherKeysReachTheFocusedChild_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<bool>("reachesChild");
        QTest::newRow("letter") << int(Qt::Key_A) << true;
        QTest::newRow("arrow") << int(Qt::Key_Left) << true;
        QTest::newRow("return") << int(Qt::Key_Return) << true;
        QTest::newRow("plus") << int(Qt::Key_Plus) << true;
        QTest::newRow("space") << int(Qt::Key_Space) << false;
        QTest::newRow("escape") << int(Qt::Key_Escape) << false;
    }
    void otherKeysReachTheFocusedChild()
    {
        QFETCH(int, key);
        QFETCH(bool, reachesChild);
        MainWindow w;
        auto *edit = new QLineEdit(&w);
        edit->setGeometry(0, 0, 200, 30);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        edit->setFocus();
        const KeyCounter counter(edit);
        QTest::keyClick(edit, Qt::Key(key));
        QCOMPARE(counter.presses, reachesChild ? 1 : 0);
        QCOMPARE(counter.releases, reachesChild ? 1 : 0);
        QCOMPARE(edit->text().isEmpty(), key != Qt::Key_A && key != Qt::Key_Plus);
    }

    // A modal dialog of the application keeps its own keys: Escape closes the dialog and
    // the window stays in full screen.
    void modalDialogKeepsItsKeys()
    {
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.showFullScreen();

        QDialog dialog(&w);
        bool escapeSent = false;
        QTimer::singleShot(100, &dialog, [&] {
            QVERIFY(QApplication::activeModalWidget() == &dialog);
            QTest::keyClick(&dialog, Qt::Key_Escape);
            escapeSent = true;
        });
        QTimer::singleShot(5000, &dialog, &QDialog::accept); // failsafe
        const int result = dialog.exec();
        QVERIFY(escapeSent);
        QCOMPARE(result, int(QDialog::Rejected)); // closed by its own Escape handling
        QVERIFY(w.isFullScreen());

        // Once the dialog is gone, Escape from a child reaches the window again.
        QTest::keyClick(w.openButton(), Qt::Key_Escape);
        QVERIFY(!w.isFullScreen());
    }
};

QTEST_MAIN(tst_mainwindow)
#include "tst_mainwindow.moc"
