#include "configkeys.h"
#include "fulldisk.h"
#include "language.h"
#include "oxconfigure.h"
#include "oxfileutils.h"
#include "oxsettingdelegate.h"
#include "oxsettingdialog.h"
#include "testhome.h"
#include "version.h"

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

// Records each call with what configure.ini holds at that moment, and loads the chosen
// language as the main window does.
class RecordingDelegate : public OxSettingDelegate
{
public:
    QStringList calls;
    void onMapChanged(int map) override { record(QStringLiteral("map %1").arg(map)); }
    void onLanguageChanged(const QString &language) override
    {
        record("language " + language);
        loadLanguage(language);
    }
    void onSpeedUnitChanged(int unit) override { record(QStringLiteral("speed %1").arg(unit)); }
    void onGPSCorrectionChanged(int value) override { record(QStringLiteral("gps %1").arg(value)); }
    void onSettingsNotSaved(const QString &file) override { calls << "not saved in " + file; }

private:
    void record(const QString &call)
    {
        OxConfigure c;
        calls << QStringLiteral("%1 (%2 %3 %4 %5)")
                     .arg(call)
                     .arg(c.intValue(ConfigKey::Map, -1))
                     .arg(c.intValue(ConfigKey::Speed, -1))
                     .arg(c.intValue(ConfigKey::GPSCorrection, -1))
                     .arg(c.stringValue(ConfigKey::Language, "-"));
    }
};

const QStringList kUsual = {"english", "chinese", "french",     "german",
                            "italian", "polish",  "portuguese", "spanish"};

} // namespace

class tst_settingdialog : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestHome> home;
    std::unique_ptr<OxSettingDialog> dialog;
    RecordingDelegate delegate;

    void writeIni(const QByteArray &values)
    {
        QFile file(OxFileUtils().configureDir() + "/configure.ini");
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("[General]\n" + values);
    }

    // A fresh dialog on the given configuration, shown, with the recording delegate.
    void open(const QByteArray &values)
    {
        writeIni(values);
        dialog = std::make_unique<OxSettingDialog>();
        dialog->setDelegate(&delegate);
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    }

    QRadioButton *option(const QString &name) const
    {
        const QMap<QString, QRadioButton *> options{
            {"baidu", dialog->baiduOption()},   {"google", dialog->googleOption()},
            {"kmh", dialog->kmhOption()},       {"mph", dialog->mphOption()},
            {"on", dialog->correctionOption()}, {"off", dialog->noCorrectionOption()}};
        return options.value(name);
    }

    // On the round indicator: a radio button ignores clicks on the empty rest of its
    // rectangle.
    static void click(QRadioButton *button)
    {
        QStyleOptionButton style;
        style.initFrom(button);
        const QRect r =
            button->style()->subElementRect(QStyle::SE_RadioButtonIndicator, &style, button);
        QTest::mouseClick(button, Qt::LeftButton, Qt::NoModifier, r.center());
    }

    // Every translated text the dialog shows, by its language key.
    QMap<QString, QString> shownTexts() const
    {
        QMap<QString, QString> texts{{"language", dialog->languageLabel()->text()},
                                     {"maps", dialog->mapLabel()->text()},
                                     {"baidu_map", dialog->baiduOption()->text()},
                                     {"google_map", dialog->googleOption()->text()},
                                     {"speed_unit", dialog->speedLabel()->text()},
                                     {"KM/H", dialog->kmhOption()->text()},
                                     {"MPH", dialog->mphOption()->text()},
                                     {"gps_correction", dialog->gpsLabel()->text()},
                                     {"correction", dialog->correctionOption()->text()},
                                     {"no_correction", dialog->noCorrectionOption()->text()}};
        for (int i = 0; i < dialog->languageKeys().size(); ++i)
            texts.insert(dialog->languageKeys().at(i), dialog->languageBox()->itemText(i));
        return texts;
    }

private slots:
    void initTestCase()
    {
        home = std::make_unique<TestHome>();
        QCoreApplication::setApplicationName("tst_settingdialog");
    }

    void init()
    {
        setLanguageRoot(DASHCAM_SOURCE_DIR "/language");
        loadLanguage("english");
        delegate.calls.clear();
    }

    void cleanup() { dialog.reset(); }

    // A click stores the value, then tells the delegate once, also when the option was
    // checked already.
    void clicks_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<QString>("clicked");
        QTest::addColumn<QString>("call");
        QTest::newRow("google") << QByteArray("Map=1\nSpeed=0\nGPSCorrection=0\n") << "google"
                                << "map 2 (2 0 0 -)";
        QTest::newRow("baidu") << QByteArray("Map=2\nSpeed=1\nGPSCorrection=1\n") << "baidu"
                               << "map 1 (1 1 1 -)";
        QTest::newRow("google again") << QByteArray("Map=2\n") << "google"
                                      << "map 2 (2 -1 -1 -)";
        QTest::newRow("mph") << QByteArray("Speed=0\n") << "mph"
                             << "speed 1 (-1 1 -1 -)";
        QTest::newRow("km/h") << QByteArray("Speed=1\n") << "kmh"
                              << "speed 0 (-1 0 -1 -)";
        QTest::newRow("km/h again") << QByteArray("Speed=0\n") << "kmh"
                                    << "speed 0 (-1 0 -1 -)";
        QTest::newRow("correct") << QByteArray("GPSCorrection=0\n") << "on"
                                 << "gps 1 (-1 -1 1 -)";
        QTest::newRow("raw") << QByteArray("GPSCorrection=1\n") << "off"
                             << "gps 0 (-1 -1 0 -)";
        QTest::newRow("correct again, stored 5") << QByteArray("GPSCorrection=5\n") << "on"
                                                 << "gps 1 (-1 -1 1 -)";
        QTest::newRow("raw again") << QByteArray("GPSCorrection=0\n") << "off"
                                   << "gps 0 (-1 -1 0 -)";
    }
    void clicks()
    {
        QFETCH(QByteArray, stored);
        QFETCH(QString, clicked);
        QFETCH(QString, call);
        open(stored);
        click(option(clicked));
        QVERIFY(option(clicked)->isChecked());
        QCOMPARE(delegate.calls, QStringList{call});
    }

    // Which options and which language the stored values show; loading tells nobody and
    // leaves an unknown language stored as it was.
    void load_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<QStringList>("checked");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("storedLanguage");
        QTest::newRow("nothing stored")
            << QByteArray() << QStringList{"google", "kmh", "off"} << "english"
            << "-";
        QTest::newRow("map 1, mph, corrected, german")
            << QByteArray("Map=1\nSpeed=1\nGPSCorrection=1\nLanguage=german\n")
            << QStringList{"baidu", "mph", "on"} << "german"
            << "german";
        QTest::newRow("map 3, correction 5, last language")
            << QByteArray("Map=3\nGPSCorrection=5\nLanguage=spanish\n")
            << QStringList{"google", "kmh", "on"} << "spanish"
            << "spanish";
        QTest::newRow("not numbers, unknown language")
            << QByteArray("Map=baidu\nSpeed=mph\nGPSCorrection=yes\nLanguage=klingon\n")
            << QStringList{"google", "kmh", "off"} << "english"
            << "klingon";
    }
    void load()
    {
        QFETCH(QByteArray, stored);
        QFETCH(QStringList, checked);
        QFETCH(QString, shown);
        QFETCH(QString, storedLanguage);
        open(stored);
        dialog->loadSettings(); // again, now with the delegate set
        for (const QString &name : QStringList{"baidu", "google", "kmh", "mph", "on", "off"})
            QVERIFY2(option(name)->isChecked() == checked.contains(name), qPrintable(name));
        QCOMPARE(dialog->languageKeys().value(dialog->languageBox()->currentIndex()), shown);
        QCOMPARE(OxConfigure().stringValue(ConfigKey::Language, "-"), storedLanguage);
        QCOMPARE(delegate.calls, QStringList());
    }

    // Picking a language stores it, tells the delegate, and relabels the dialog at once.
    void languageChange_data()
    {
        QTest::addColumn<QString>("language");
        for (const QString &name : kUsual.mid(1))
            QTest::newRow(qPrintable(name)) << name;
    }
    void languageChange()
    {
        QFETCH(QString, language);
        open("Language=english\n");
        const QMap<QString, QString> before = shownTexts();
        dialog->languageBox()->setCurrentIndex(dialog->languageKeys().indexOf(language));
        QCOMPARE(delegate.calls, QStringList{QString("language %1 (-1 -1 -1 %1)").arg(language)});
        const QMap<QString, QString> after = shownTexts();
        for (const QString &key : after.keys())
            QCOMPARE(after.value(key), languageText(key)); // the new file's text
        QVERIFY(after.value("maps") != before.value("maps"));
        QCOMPARE(dialog->titleLabel()->text(), QString(kVersionText));
        // Every text fits its control, and every control the dialog.
        for (QWidget *control : dialog->findChildren<QWidget *>()) {
            if (qobject_cast<QLabel *>(control) || qobject_cast<QAbstractButton *>(control))
                QVERIFY2(control->sizeHint().width() <= control->width() &&
                             control->geometry().right() < dialog->width(),
                         qPrintable(control->property("text").toString()));
        }
    }

    // A change that cannot be written (a full disk) is reported before the change itself.
    void fullDiskIsReported()
    {
        open("Speed=0\n");
        {
            const FullDisk disk;
            click(option("mph"));
        }
        QCOMPARE(delegate.calls.size(), 2);
        QCOMPARE(delegate.calls.first(), "not saved in " + OxConfigure().fileName());
    }

    void escape_data()
    {
        QTest::addColumn<bool>("releaseOnly");
        QTest::addColumn<int>("key");
        QTest::addColumn<bool>("closes");
        QTest::newRow("Escape released") << true << int(Qt::Key_Escape) << true;
        QTest::newRow("Escape typed") << false << int(Qt::Key_Escape) << true;
        QTest::newRow("other key released") << true << int(Qt::Key_A) << false;
    }
    void escape()
    {
        QFETCH(bool, releaseOnly);
        QFETCH(int, key);
        QFETCH(bool, closes);
        open("");
        if (releaseOnly)
            QTest::keyRelease(dialog.get(), Qt::Key(key));
        else
            QTest::keyClick(dialog.get(), Qt::Key(key));
        QCOMPARE(dialog->isVisible(), !closes);
        if (releaseOnly && closes)
            QCOMPARE(dialog->result(), int(QDialog::Accepted));
    }

    // Without a delegate every change is still stored.
    void noDelegate()
    {
        open("Map=2\nSpeed=0\nGPSCorrection=0\n");
        dialog->setDelegate(nullptr);
        for (const char *name : {"baidu", "mph", "on", "on"})
            click(option(name));
        dialog->languageBox()->setCurrentIndex(dialog->languageKeys().indexOf("french"));
        dialog->onSelectedLanguageIndex(-1);
        OxConfigure stored;
        QCOMPARE(stored.intValue(ConfigKey::Map, -1), 1);
        QCOMPARE(stored.intValue(ConfigKey::Speed, -1), 1);
        QCOMPARE(stored.intValue(ConfigKey::GPSCorrection, -1), 1);
        QCOMPARE(stored.stringValue(ConfigKey::Language, "-"), QString("french"));
    }

    // The box offers the languages that have a file: the usual ones in their order, then
    // others by name; with no file at all, the usual eight.
    void offeredLanguages_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QStringList>("offered");
        QTest::newRow("some, plus others")
            << QStringList{"spanish.lg",   "zulu.lg",    "german.lg",
                           "afrikaans.lg", "english.lg", "a.txt"}
            << QStringList{"english", "german", "spanish", "afrikaans", "zulu"};
        QTest::newRow("none") << QStringList{"a.txt"} << kUsual;
    }
    void offeredLanguages()
    {
        QFETCH(QStringList, files);
        QFETCH(QStringList, offered);
        QTemporaryDir root;
        for (const QString &name : files) {
            QFile file(root.filePath(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        setLanguageRoot(root.path());
        open("");
        QCOMPARE(dialog->languageKeys(), offered);
        QCOMPARE(dialog->languageBox()->count(), offered.size());
    }
};

QTEST_MAIN(tst_settingdialog)
#include "tst_settingdialog.moc"
