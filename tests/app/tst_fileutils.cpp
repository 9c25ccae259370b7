#include "oxfileutils.h"
#include "testhome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QtTest>

#include <memory>

class tst_fileutils : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestHome> home;

    static void touch(const QString &path)
    {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("x");
    }

private slots:
    void initTestCase()
    {
        home = std::make_unique<TestHome>();
        QCoreApplication::setApplicationName("tst_fileutils");
    }

    void foldersCreatedOnDemand()
    {
        const QString data = home->dataLocation();
        QVERIFY(data.startsWith(home->path()));
        // Even the parents of the data location may be missing on a fresh account.
        QDir(home->path() + "/.local").removeRecursively();
        QVERIFY(!QFileInfo::exists(data));

        OxFileUtils utils;
        QCOMPARE(utils.configureDir(), data + "/configure");
        QVERIFY(QFileInfo(data + "/configure").isDir());
        QCOMPARE(utils.playlistDir(), data + "/playlist");
        QVERIFY(QFileInfo(data + "/playlist").isDir());

        const QString temp = QStandardPaths::writableLocation(QStandardPaths::TempLocation);
        QCOMPARE(utils.cacheDir(), temp + "/cache");
        QVERIFY(QFileInfo(temp + "/cache").isDir());
    }

    void captureDirOnSingleDrive()
    {
        QCOMPARE(QDir::drives().size(), 1); // Linux has one root
        const QString capture = OxFileUtils().captureDir();
        QCOMPARE(capture, home->dataLocation() + "/CAPTURE");
        QVERIFY(QFileInfo(capture).isDir());
        QCOMPARE(QFileInfo(capture).absolutePath(),
                 QFileInfo(OxFileUtils().playlistDir()).absolutePath());
    }

    void deleteRecursivelyRemovesEverything()
    {
        const QString playlist = OxFileUtils().playlistDir();
        touch(playlist + "/a.xml");
        touch(playlist + "/.hidden.xml");
        touch(playlist + "/sub/b.xml");
        touch(playlist + "/sub/.deeper/.c");

        OxFileUtils::deleteRecursively(playlist);
        QVERIFY(!QFileInfo::exists(playlist));

        const QString again = OxFileUtils().playlistDir();
        QCOMPARE(again, playlist);
        QVERIFY(QDir(again).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
    }

    void deleteRecursivelyLeavesLinkedFoldersAlone()
    {
        const QString outside = home->path() + "/keep";
        touch(outside + "/precious.mp4");
        const QString tree = home->path() + "/tree";
        QDir().mkpath(tree);
        QVERIFY(QFile::link(outside, tree + "/link"));

        OxFileUtils::deleteRecursively(tree);
        QVERIFY(!QFileInfo::exists(tree));
        QVERIFY(QFileInfo::exists(outside + "/precious.mp4"));
    }

    void missingPathsAreHarmless()
    {
        const QString missing = home->path() + "/does/not/exist";
        OxFileUtils::deleteRecursively(missing); // must neither fail nor create anything
        QVERIFY(!QFileInfo::exists(missing));
        QVERIFY(!OxFileUtils::removeFile(missing));

        const QString file = home->path() + "/one.txt";
        touch(file);
        QVERIFY(OxFileUtils::removeFile(file));
        QVERIFY(!QFileInfo::exists(file));
    }
};

QTEST_GUILESS_MAIN(tst_fileutils)
#include "tst_fileutils.moc"
