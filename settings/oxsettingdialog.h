#pragma once

#include <QDialog>
#include <QStringList>

#include <memory>

class OxConfigure;
class OxSettingDelegate;
class QButtonGroup;
class QComboBox;
class QLabel;
class QRadioButton;

// The settings window: language, map page, speed unit and GPS correction. Every click
// is written to configure.ini at once and then reported to the delegate; there is
// nothing to confirm or undo. Escape closes it.
class OxSettingDialog : public QDialog
{
    Q_OBJECT
public:
    explicit OxSettingDialog(QWidget *parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());
    ~OxSettingDialog() override;

    // Borrowed; may be null (changes are then only stored).
    void setDelegate(OxSettingDelegate *delegate);

    // Shows the stored values in the controls. Checking the options from here reports
    // nothing; moving the box to the stored language counts as picking it (stored
    // again, delegate told). An unknown stored language shows the first entry and stays
    // stored as it was.
    void loadSettings();
    // Sets every text from the current language table.
    void retranslate();

    // The language keys offered, in box order: those of the language files in the
    // language folder, the usual eight first (english leading), then any others by
    // name. With no language file at all, the usual eight.
    static QStringList installedLanguages();

    QStringList languageKeys() const { return languages; }
    QLabel *titleLabel() const { return _titleLabel; }
    QLabel *languageLabel() const { return _languageLabel; }
    QComboBox *languageBox() const { return _languageBox; }
    QLabel *mapLabel() const { return _mapLabel; }
    QRadioButton *baiduOption() const { return _baiduOption; }
    QRadioButton *googleOption() const { return _googleOption; }
    QLabel *speedLabel() const { return _speedLabel; }
    QRadioButton *kmhOption() const { return _kmhOption; }
    QRadioButton *mphOption() const { return _mphOption; }
    QLabel *gpsLabel() const { return _gpsLabel; }
    QRadioButton *correctionOption() const { return _correctionOption; }
    QRadioButton *noCorrectionOption() const { return _noCorrectionOption; }

public slots:
    void onCheckMap();
    void onCheckSpeed();
    void onCheckGPS();
    void onSelectedLanguageIndex(int index);

protected:
    void keyReleaseEvent(QKeyEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    // Tells the delegate when a value could not be written to file.
    void store(bool written);
    // Widens the label column and the options to their texts in the current language
    // (never below their usual widths), and the dialog with them.
    void fitTexts();
    void placeControls();

    OxSettingDelegate *delegate = nullptr;
    std::unique_ptr<OxConfigure> configure; // made by loadSettings
    QLabel *_titleLabel = nullptr;
    QLabel *_languageLabel = nullptr;
    QComboBox *_languageBox = nullptr;
    QLabel *_mapLabel = nullptr;
    QButtonGroup *mapGroup = nullptr;
    QRadioButton *_baiduOption = nullptr;
    QRadioButton *_googleOption = nullptr;
    QLabel *_speedLabel = nullptr;
    QButtonGroup *speedGroup = nullptr;
    QRadioButton *_kmhOption = nullptr;
    QRadioButton *_mphOption = nullptr;
    QLabel *_gpsLabel = nullptr;
    QButtonGroup *gpsGroup = nullptr;
    QRadioButton *_correctionOption = nullptr;
    QRadioButton *_noCorrectionOption = nullptr;
    QStringList languages;
    int labelWidth = 0;
    int optionWidth = 0;
};
