#include "language.h"

#include <QDebug>
#include <QFile>
#include <QMap>
#include <QTextStream>

namespace {

QString &rootStorage()
{
    static QString root;
    return root;
}

QMap<QString, QString> &languageTable()
{
    static QMap<QString, QString> table;
    return table;
}

} // namespace

void setLanguageRoot(const QString &root)
{
    rootStorage() = root;
    qDebug("root = %s", root.toUtf8().constData());
}

QString languageRoot()
{
    return rootStorage();
}

QString trimLanguageField(const QString &field)
{
    QString text = field;
    int start = 0;
    while (start < text.size() && text.at(start) == QLatin1Char(' '))
        ++start;
    text.remove(0, start);
    int end = text.size();
    while (end > 0 && (text.at(end - 1) == QLatin1Char(' ') || text.at(end - 1) == QLatin1Char(';')))
        --end;
    text.truncate(end);
    if (text.startsWith(QLatin1Char('"')))
        text.remove(0, 1);
    if (text.endsWith(QLatin1Char('"')))
        text.chop(1);
    return text;
}

void loadLanguage(const QString &name)
{
    QMap<QString, QString> &table = languageTable();
    table.clear();

    const QString fileName = name.endsWith(QLatin1String(".lg")) ? name : QStringLiteral("%1.lg").arg(name);
    const QString &root = rootStorage();
    const QString path = root.endsWith(QLatin1Char('/')) ? QStringLiteral("%1%2").arg(root, fileName)
                                                          : QStringLiteral("%1/%2").arg(root, fileName);
    QFile file(path);
    if (file.exists() && file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        QTextStream in(&file);
        in.setCodec("UTF-8");
        // The file ends at its first empty line.
        for (QString line = in.readLine(); !line.isEmpty(); line = in.readLine()) {
            const QStringList parts = line.split(QLatin1Char('='), Qt::KeepEmptyParts);
            if (parts.size() != 2)
                continue;
            const QString key = trimLanguageField(parts.at(0));
            const QString value = trimLanguageField(parts.at(1));
            qDebug("2 %s = %s", key.toUtf8().constData(), value.toUtf8().constData());
            table.insert(key, value);
        }
    }
    qDebug("%d", table.size());
}

QString languageText(const QString &key)
{
    const QMap<QString, QString> &table = languageTable();
    const auto it = table.constFind(key);
    return it == table.constEnd() ? key : it.value();
}
