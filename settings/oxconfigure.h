#pragma once

#include <QObject>
#include <QString>

class QSettings;

// One short-lived view of configure.ini. Every instance opens the same file; within
// the process they share QSettings' per-file cache, so a value written through one is
// read by the next at once.
class OxConfigure : public QObject
{
    Q_OBJECT
public:
    OxConfigure();
    ~OxConfigure() override;

    bool exists(const QString &key) const;
    int intValue(const QString &key, int defaultValue) const;
    QString stringValue(const QString &key, const QString &defaultValue) const;
    // Store the value and write the file at once; false when it could not be written
    // (a full or read-only disk). The value is kept in memory for the process all the
    // same.
    bool setIntValue(const QString &key, int value);
    bool setStringValue(const QString &key, const QString &value);
    // The path of configure.ini.
    QString fileName() const;

    // Start-up: writes every missing key with its default, then loads the configured
    // language.
    static void initDefaults();

private:
    QSettings *settings;
};
