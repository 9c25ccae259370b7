#include "oxsettingdialog.h"

#include "configkeys.h"
#include "language.h"
#include "oxconfigure.h"
#include "oxsettingdelegate.h"
#include "version.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QDir>
#include <QKeyEvent>
#include <QLabel>
#include <QRadioButton>

#include <algorithm>

namespace {

const char *const kUsualLanguages[] = {"english", "chinese", "french",     "german",
                                       "italian", "polish",  "portuguese", "spanish"};

const int kLabelWidth = 150;
const int kBoxWidth = 100;
const int kMargin = 10;
const int kRowHeight = 20;
const int kLineHeight = 30;
const int kGap = 30;
const int kOptionGap = 20;

int rightEdge(const QWidget *widget)
{
    return widget->x() + widget->width() - 1;
}

} // namespace

QStringList OxSettingDialog::installedLanguages()
{
    const QString root = languageRoot();
    QStringList found;
    if (!root.isEmpty()) {
        const QStringList files = QDir(root).entryList(
            {QStringLiteral("*.lg")}, QDir::Files | QDir::Readable, QDir::Name | QDir::IgnoreCase);
        for (const QString &file : files)
            found.append(file.chopped(3));
    }

    QStringList keys;
    for (const char *name : kUsualLanguages) {
        const QString key = QString::fromLatin1(name);
        if (found.isEmpty() || found.contains(key))
            keys.append(key);
    }
    for (const QString &key : qAsConst(found)) {
        if (!key.isEmpty() && !keys.contains(key))
            keys.append(key);
    }
    return keys;
}

OxSettingDialog::OxSettingDialog(QWidget *parent, Qt::WindowFlags flags) : QDialog(parent, flags)
{
    _titleLabel = new QLabel(this);
    _languageLabel = new QLabel(this);
    _languageBox = new QComboBox(this);
    _mapLabel = new QLabel(this);
    mapGroup = new QButtonGroup(this);
    _baiduOption = new QRadioButton(this);
    _googleOption = new QRadioButton(this);
    _speedLabel = new QLabel(this);
    speedGroup = new QButtonGroup(this);
    _kmhOption = new QRadioButton(this);
    _mphOption = new QRadioButton(this);
    _gpsLabel = new QLabel(this);
    gpsGroup = new QButtonGroup(this);
    _correctionOption = new QRadioButton(this);
    _noCorrectionOption = new QRadioButton(this);

    _titleLabel->setText(QString::fromLatin1(kVersionText));
    for (QLabel *label : {_titleLabel, _languageLabel, _mapLabel, _speedLabel, _gpsLabel}) {
        label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        label->setStyleSheet(QStringLiteral("color:#ffffff"));
    }
    _mapLabel->setStyleSheet(QStringLiteral("color:#ffffff;"));

    mapGroup->addButton(_baiduOption, 0);
    mapGroup->addButton(_googleOption, 1);
    speedGroup->addButton(_kmhOption, 0);
    speedGroup->addButton(_mphOption, 1);
    gpsGroup->addButton(_correctionOption, 0);
    gpsGroup->addButton(_noCorrectionOption, 1);

    _languageBox->clear();
    for (const QString &key : installedLanguages()) {
        _languageBox->addItem(languageText(key));
        languages.append(key);
    }

    for (QRadioButton *option : {_baiduOption, _googleOption})
        connect(option, SIGNAL(clicked(bool)), this, SLOT(onCheckMap()));
    for (QRadioButton *option : {_kmhOption, _mphOption})
        connect(option, SIGNAL(clicked(bool)), this, SLOT(onCheckSpeed()));
    for (QRadioButton *option : {_correctionOption, _noCorrectionOption})
        connect(option, SIGNAL(clicked(bool)), this, SLOT(onCheckGPS()));
    connect(_languageBox, SIGNAL(currentIndexChanged(int)), this,
            SLOT(onSelectedLanguageIndex(int)));

    resize(550, 300);
    loadSettings();
    retranslate();
    setStyleSheet(QStringLiteral("QDialog{background:#757575;border: 2px solid  white;}"));
}

OxSettingDialog::~OxSettingDialog() = default;

void OxSettingDialog::setDelegate(OxSettingDelegate *settingDelegate)
{
    delegate = settingDelegate;
}

void OxSettingDialog::loadSettings()
{
    if (!configure)
        configure = std::make_unique<OxConfigure>();

    const int languageIndex =
        languages.indexOf(configure->stringValue(ConfigKey::Language, ConfigDefault::Language));
    _languageBox->setCurrentIndex(languageIndex < 0 ? 0 : languageIndex);

    if (configure->intValue(ConfigKey::Map, ConfigDefault::Map) == MapPage::Baidu)
        _baiduOption->setChecked(true);
    else
        _googleOption->setChecked(true);

    if (SpeedUnit::isMiles(configure->intValue(ConfigKey::Speed, ConfigDefault::SpeedInDialog)))
        _mphOption->setChecked(true);
    else
        _kmhOption->setChecked(true);

    if (configure->intValue(ConfigKey::GPSCorrection, ConfigDefault::Correction) !=
        GPSCorrection::Raw)
        _correctionOption->setChecked(true);
    else
        _noCorrectionOption->setChecked(true);
}

void OxSettingDialog::retranslate()
{
    for (int i = 0; i < languages.size(); ++i)
        _languageBox->setItemText(i, languageText(languages.at(i)));
    _languageLabel->setText(languageText(QStringLiteral("language")));
    _mapLabel->setText(languageText(QStringLiteral("maps")));
    _baiduOption->setText(languageText(QStringLiteral("baidu_map")));
    _googleOption->setText(languageText(QStringLiteral("google_map")));
    _speedLabel->setText(languageText(QStringLiteral("speed_unit")));
    _kmhOption->setText(languageText(QStringLiteral("KM/H")));
    _mphOption->setText(languageText(QStringLiteral("MPH")));
    _gpsLabel->setText(languageText(QStringLiteral("gps_correction")));
    _correctionOption->setText(languageText(QStringLiteral("correction")));
    _noCorrectionOption->setText(languageText(QStringLiteral("no_correction")));
    fitTexts();
}

void OxSettingDialog::fitTexts()
{
    labelWidth = kLabelWidth;
    for (const QLabel *label : {_languageLabel, _mapLabel, _speedLabel, _gpsLabel})
        labelWidth = std::max(labelWidth, label->sizeHint().width());
    optionWidth = kLabelWidth;
    for (const QRadioButton *option : {_baiduOption, _googleOption, _kmhOption, _mphOption,
                                       _correctionOption, _noCorrectionOption})
        optionWidth = std::max(optionWidth, option->sizeHint().width());
    // Label, gap, the two options.
    const int needed = labelWidth + kGap + 2 * optionWidth + kOptionGap + kMargin;
    if (width() < needed)
        resize(needed, height());
    placeControls();
}

void OxSettingDialog::store(bool written)
{
    if (!written && delegate)
        delegate->onSettingsNotSaved(configure->fileName());
}

void OxSettingDialog::onCheckMap()
{
    const int map = _googleOption->isChecked() ? MapPage::Google : MapPage::Baidu;
    store(configure->setIntValue(ConfigKey::Map, map));
    if (delegate)
        delegate->onMapChanged(map);
}

void OxSettingDialog::onCheckSpeed()
{
    const int unit = _mphOption->isChecked() ? SpeedUnit::Mph : SpeedUnit::Kmh;
    store(configure->setIntValue(ConfigKey::Speed, unit));
    if (delegate)
        delegate->onSpeedUnitChanged(unit);
}

void OxSettingDialog::onCheckGPS()
{
    const int correction =
        _noCorrectionOption->isChecked() ? GPSCorrection::Raw : GPSCorrection::Corrected;
    store(configure->setIntValue(ConfigKey::GPSCorrection, correction));
    if (delegate)
        delegate->onGPSCorrectionChanged(correction);
}

void OxSettingDialog::onSelectedLanguageIndex(int index)
{
    if (index >= 0 && index < languages.size()) {
        const QString key = languages.at(index);
        store(configure->setStringValue(ConfigKey::Language, key));
        if (delegate)
            delegate->onLanguageChanged(key);
    }
    retranslate();
}

void OxSettingDialog::keyReleaseEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape) {
        accept();
        return;
    }
    QDialog::keyReleaseEvent(event);
}

void OxSettingDialog::resizeEvent(QResizeEvent *event)
{
    QDialog::resizeEvent(event);
    placeControls();
}

// With the usual widths: labels 150 wide, the box and the first options at x = 179, the
// second options at x = 348.
void OxSettingDialog::placeControls()
{
    const int w = width();
    _titleLabel->setGeometry(0, 0, w - kGap, kLineHeight);
    _languageLabel->setGeometry(0, 35, labelWidth, kLineHeight);
    _languageBox->setGeometry(rightEdge(_languageLabel) + kGap, 35, kBoxWidth, kLineHeight);

    QWidget *const rows[3][3] = {{_mapLabel, _baiduOption, _googleOption},
                                 {_speedLabel, _kmhOption, _mphOption},
                                 {_gpsLabel, _correctionOption, _noCorrectionOption}};
    for (int i = 0; i < 3; ++i) {
        const int y = 75 + kLineHeight * i;
        QWidget *label = rows[i][0];
        QWidget *first = rows[i][1];
        QWidget *second = rows[i][2];
        label->setGeometry(0, y, labelWidth, kRowHeight);
        first->setGeometry(rightEdge(label) + kGap, y, optionWidth, kRowHeight);
        second->setGeometry(rightEdge(first) + kOptionGap, y, optionWidth, kRowHeight);
    }
}
