#include "language.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

class tst_language : public QObject
{
    Q_OBJECT

    QTemporaryDir root;

    void writeFile(const QString &name, const QByteArray &content)
    {
        QFile file(root.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content);
    }

private slots:
    void initTestCase() { QVERIFY(root.isValid()); }

    void trimField_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("expected");
        QTest::newRow("blanks around") << "  open_file  " << "open_file";
        QTest::newRow("quoted with semicolon") << " \"Open\";" << "Open";
        QTest::newRow("blanks and semicolons at end") << "Open ; ;" << "Open";
        QTest::newRow("inner quotes kept") << "say \"hi\" now" << "say \"hi\" now";
        QTest::newRow("two quotes give empty") << "\"\"" << "";
        QTest::newRow("only blanks and semicolons") << " ; ;; " << "";
        QTest::newRow("tabs stay") << "\tOpen\t" << "\tOpen\t";
        QTest::newRow("one quote each side only") << "\"\"x\"\"" << "\"x\"";
        QTest::newRow("semicolon inside quotes stays") << "\"a;\"" << "a;";
    }
    void trimField()
    {
        QFETCH(QString, field);
        QFETCH(QString, expected);
        QCOMPARE(trimLanguageField(field), expected);
    }

    void fileRules()
    {
        writeFile("rules.lg", "open_file = \"Open\";\r\n"
                              "a=b=c\n"
                              "no equals sign here\n"
                              "empty_value =\n"
                              "play = Play\n"
                              "play = Again\n"
                              "  stop  =  Stop ;\n"
                              "\n"
                              "after_empty = never read\n");
        setLanguageRoot(root.path());
        loadLanguage("rules");
        QCOMPARE(languageText("open_file"), QString("Open"));
        QCOMPARE(languageText("a"), QString("a")); // two "=": skipped
        QCOMPARE(languageText("empty_value"), QString(""));
        QCOMPARE(languageText("play"), QString("Again")); // last entry wins
        QCOMPARE(languageText("stop"), QString("Stop"));
        QCOMPARE(languageText("after_empty"), QString("after_empty"));
        QCOMPARE(languageText("missing_key"), QString("missing_key"));
    }

    void emptyThirdLineEndsFile()
    {
        writeFile("third.lg", "k1=v1\nk2=v2\n\nk3=v3\n");
        setLanguageRoot(root.path());
        loadLanguage("third");
        QCOMPARE(languageText("k1"), QString("v1"));
        QCOMPARE(languageText("k2"), QString("v2"));
        QCOMPARE(languageText("k3"), QString("k3"));
    }

    void namesAndRoots()
    {
        writeFile("german.lg", "open_file = Öffnen\n");
        writeFile("German.lg", "open_file = Capital\n");
        // Trailing separator: no doubled "/" (the file is still found).
        setLanguageRoot(root.path() + "/");
        QCOMPARE(languageRoot(), root.path() + "/"); // given back as set
        loadLanguage("german");
        QCOMPARE(languageText("open_file"), QString::fromUtf8("Öffnen"));
        loadLanguage("german.lg");
        QCOMPARE(languageText("open_file"), QString::fromUtf8("Öffnen"));
        loadLanguage("German");
        QCOMPARE(languageText("open_file"), QString("Capital"));
    }

    void missingFileEmptiesTable()
    {
        writeFile("english.lg", "play = Play\n");
        setLanguageRoot(root.path());
        loadLanguage("english");
        QCOMPARE(languageText("play"), QString("Play"));
        loadLanguage("klingon");
        QCOMPARE(languageText("play"), QString("play"));
        setLanguageRoot(root.filePath("no-such-folder"));
        loadLanguage("english");
        QCOMPARE(languageText("play"), QString("play"));
    }

    // The shipped files: every key the interface looks up has a non-empty text in every
    // language, and each file is read whole (no empty line cuts it short).
    void shippedFilesComplete_data()
    {
        QTest::addColumn<QString>("language");
        for (const char *name : {"english", "chinese", "french", "german", "italian", "polish",
                                 "portuguese", "spanish"})
            QTest::newRow(name) << QString(name);
    }
    void shippedFilesComplete()
    {
        QFETCH(QString, language);
        const QStringList keys = {
            "open_file", "play", "pause", "stop", "screenshot", "fullscreen", "exit", "settings",
            "current_latitude", "current_longitude", "current_speed", "max_speed", "average_speed",
            "total_distance", "language", "maps", "baidu_map", "google_map", "speed_unit", "KM/H",
            "MPH", "gps_correction", "correction", "no_correction", "english", "chinese", "french",
            "german", "italian", "polish", "portuguese", "spanish", "open_in_explore", "remove",
            "remove_invalid_files", "clear_playlist", "drive_clip", "drive_clips", "drive_seconds",
            "drive_minutes", "drive_hours", "drive_km", "drive_miles", "strip_time", "strip_clock",
            "strip_gforce", "strip_event_clip", "strip_brake", "strip_accel", "strip_shock",
            "channel_layout"};
        setLanguageRoot(QStringLiteral(DASHCAM_SOURCE_DIR "/language"));
        loadLanguage(language);
        for (const QString &key : keys) {
            const QString text = languageText(key);
            QVERIFY2(!text.isEmpty(), qPrintable(key));
            if (language != "english" && key != "KM/H" && key != "MPH")
                QVERIFY2(text != key, qPrintable(language + ": " + key));
        }
        if (language == "german")
            QCOMPARE(languageText("open_file"), QString::fromUtf8("Öffnen"));
        if (language == "chinese")
            QCOMPARE(languageText("play"), QString::fromUtf8("播放"));
    }
};

QTEST_GUILESS_MAIN(tst_language)
#include "tst_language.moc"
