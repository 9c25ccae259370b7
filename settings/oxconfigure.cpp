#include "oxconfigure.h"

#include "configkeys.h"
#include "language.h"
#include "oxfileutils.h"

#include <QSettings>

OxConfigure::OxConfigure()
{
    const QString dir = OxFileUtils().configureDir();
    settings =
        new QSettings(QStringLiteral("%1/configure.ini").arg(dir), QSettings::IniFormat, this);
}

OxConfigure::~OxConfigure()
{
    settings->sync();
}

bool OxConfigure::exists(const QString &key) const
{
    return !settings->value(key).isNull();
}

int OxConfigure::intValue(const QString &key, int defaultValue) const
{
    const QVariant value = settings->value(key);
    if (value.isNull())
        return defaultValue;
    bool ok = false;
    const int result = value.toInt(&ok);
    return ok ? result : defaultValue;
}

QString OxConfigure::stringValue(const QString &key, const QString &defaultValue) const
{
    const QVariant value = settings->value(key);
    return value.isNull() ? defaultValue : value.toString();
}

bool OxConfigure::setIntValue(const QString &key, int value)
{
    settings->setValue(key, value);
    settings->sync();
    return settings->status() == QSettings::NoError;
}

bool OxConfigure::setStringValue(const QString &key, const QString &value)
{
    settings->setValue(key, value);
    settings->sync();
    return settings->status() == QSettings::NoError;
}

QString OxConfigure::fileName() const
{
    return settings->fileName();
}

void OxConfigure::initDefaults()
{
    OxConfigure configure;
    if (!configure.exists(ConfigKey::Map))
        configure.setIntValue(ConfigKey::Map, ConfigDefault::MapAtStartUp);
    if (!configure.exists(ConfigKey::Speed))
        configure.setIntValue(ConfigKey::Speed, ConfigDefault::SpeedAtStartUp);
    if (!configure.exists(ConfigKey::GPSCorrection))
        configure.setIntValue(ConfigKey::GPSCorrection, ConfigDefault::CorrectionAtStartUp);
    if (!configure.exists(ConfigKey::Language))
        configure.setStringValue(ConfigKey::Language, ConfigDefault::Language);
    loadLanguage(configure.stringValue(ConfigKey::Language, ConfigDefault::Language));
}
