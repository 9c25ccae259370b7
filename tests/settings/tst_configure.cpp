#include "language.h"
#include "oxconfigure.h"
#include "oxfileutils.h"
#include "testhome.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

class tst_configure : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestHome> home;
    QTemporaryDir languages;

    QString iniPath() { return OxFileUtils().configureDir() + "/configure.ini"; }

    void writeIni(const QByteArray &content)
    {
        QFile file(iniPath());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content);
    }

    QString readIni()
    {
        QFile file(iniPath());
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

private slots:
    void initTestCase()
    {
        home = std::make_unique<TestHome>();
        QCoreApplication::setApplicationName("tst_configure");
        QFile english(languages.filePath("english.lg"));
        QVERIFY(english.open(QIODevice::WriteOnly));
        english.write("play = Play\n");
        english.close();
        QFile german(languages.filePath("german.lg"));
        QVERIFY(german.open(QIODevice::WriteOnly));
        german.write("play = Wiedergabe\n");
        german.close();
        setLanguageRoot(languages.path());
    }

    void init() { QFile::remove(iniPath()); }

    void freshDefaults()
    {
        OxConfigure::initDefaults();
        const QString ini = readIni();
        QVERIFY2(ini.startsWith("[General]"), qPrintable(ini));
        QVERIFY(ini.contains("Map=2"));
        QVERIFY(ini.contains("Speed=1"));
        QVERIFY(ini.contains("GPSCorrection=1"));
        QVERIFY(ini.contains("Language=english"));
        QCOMPARE(languageText("play"), QString("Play"));
    }

    void existingValuesKept()
    {
        writeIni("[General]\nMap=1\nLanguage=german\n");
        OxConfigure::initDefaults();
        OxConfigure configure;
        QCOMPARE(configure.intValue("Map", 2), 1);
        QCOMPARE(configure.stringValue("Language", "english"), QString("german"));
        QCOMPARE(configure.intValue("Speed", 0), 1);
        QCOMPARE(configure.intValue("GPSCorrection", 0), 1);
        QCOMPARE(languageText("play"), QString("Wiedergabe"));
    }

    void notANumberFallsBack()
    {
        writeIni("[General]\nSpeed=fast\nMap=\n");
        OxConfigure configure;
        QCOMPARE(configure.intValue("Speed", 1), 1);
        QCOMPARE(configure.intValue("Speed", 0), 0);
        QVERIFY(configure.exists("Speed"));
        QVERIFY(!configure.exists("GPSCorrection"));
        QCOMPARE(configure.intValue("GPSCorrection", 7), 7);
        QCOMPARE(configure.stringValue("Language", "english"), QString("english"));
    }

    void sharedBetweenInstances()
    {
        {
            OxConfigure writer;
            writer.setIntValue("Map", 1);
            writer.setStringValue("Language", "french");
            OxConfigure reader; // while the writer still lives
            QCOMPARE(reader.intValue("Map", 2), 1);
        }
        OxConfigure later;
        QCOMPARE(later.intValue("Map", 2), 1);
        QCOMPARE(later.stringValue("Language", "english"), QString("french"));
        QVERIFY(readIni().contains("Language=french")); // written to disk
    }

    void unknownLanguageShowsKeys()
    {
        writeIni("[General]\nLanguage=klingon\n");
        OxConfigure::initDefaults();
        QCOMPARE(languageText("play"), QString("play"));
        QCOMPARE(OxConfigure().stringValue("Language", "english"), QString("klingon"));
    }
};

QTEST_GUILESS_MAIN(tst_configure)
#include "tst_configure.moc"
