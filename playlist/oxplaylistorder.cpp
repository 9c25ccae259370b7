#include "oxplaylistorder.h"

#include "localfiles.h"
#include "oxvideoinfo.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSaveFile>

#include <algorithm>

namespace OxPlaylistOrder {

QString orderFile(const QString &folder)
{
    return QStringLiteral("%1/order.lst").arg(folder);
}

namespace {

QStringList readOrder(const QString &folder)
{
    QStringList names;
    QFile file(orderFile(folder));
    if (!QFileInfo(file.fileName()).isFile() || !file.open(QIODevice::ReadOnly))
        return names;
    // As many lines as a folder of playlist files can sensibly hold.
    const QByteArray data = file.read(OxVideoInfo::kMaxFileBytes * 16);
    for (const QByteArray &line : data.split('\n')) {
        QString name;
        if (fromByteForm(line, &name) && !name.contains(QLatin1Char('/')))
            names.append(name);
    }
    return names;
}

} // namespace

QStringList playlistFiles(const QString &folder, QStringList *listed)
{
    const QFileInfoList found =
        QDir(folder).entryInfoList(QDir::Files | QDir::Hidden | QDir::NoSymLinks, QDir::NoSort);
    QHash<QString, QDateTime> times;
    for (const QFileInfo &info : found) {
        if (info.fileName().endsWith(QLatin1String(".xml")))
            times.insert(info.fileName(), info.lastModified());
    }
    const QStringList order = readOrder(folder);
    if (listed)
        *listed = order;

    QStringList names;
    for (const QString &name : order) {
        if (times.remove(name) > 0)
            names.append(name);
    }
    QStringList rest = times.keys();
    sortNaturally(rest);
    std::stable_sort(rest.begin(), rest.end(), [&times](const QString &a, const QString &b) {
        return times.value(a) < times.value(b);
    });
    return names + rest;
}

bool write(const QString &folder, const QStringList &names)
{
    QByteArray text;
    for (const QString &name : names)
        text += byteForm(name) + '\n';
    // Unbuffered, so a short write (a full disk) shows in write()'s count.
    QSaveFile file(orderFile(folder));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return false;
    if (file.write(text) != text.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

} // namespace OxPlaylistOrder
