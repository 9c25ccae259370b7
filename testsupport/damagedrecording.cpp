#include "damagedrecording.h"

#include "testrecordings.h"

#include <QFile>
#include <QtEndian>

namespace {

// Fills the payload of the first top-level "mdat" box with 0xFF: every AVCC length
// prefix then points past its packet.
bool spoilMdat(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite))
        return false;
    const qint64 total = file.size();
    qint64 pos = 0;
    while (pos + 8 <= total) {
        file.seek(pos);
        const QByteArray header = file.read(16);
        if (header.size() < 8)
            return false;
        quint64 size = qFromBigEndian<quint32>(header.constData());
        qint64 payload = 8;
        if (size == 1 && header.size() == 16) {
            size = qFromBigEndian<quint64>(header.constData() + 8);
            payload = 16;
        } else if (size == 0) {
            size = quint64(total - pos);
        }
        if (size < quint64(payload))
            return false;
        if (header.mid(4, 4) == "mdat") {
            file.seek(pos + payload);
            const QByteArray ones(1 << 16, '\xff');
            for (qint64 left = qint64(size) - payload; left > 0; left -= ones.size())
                file.write(ones.constData(), std::min<qint64>(left, ones.size()));
            return true;
        }
        pos += qint64(size);
    }
    return false;
}

} // namespace

QString makeUndecodableRecording(const QString &dir, const QString &name, int seconds)
{
    RecordingSpec recipe;
    recipe.width = 64;
    recipe.height = 48;
    recipe.fpsNum = 50;
    recipe.seconds = 2;
    recipe.gop = 50;
    recipe.audioCodec.clear();
    const QString shortClip = makeRecording(dir, name + QStringLiteral("-short"), recipe);
    if (shortClip.isEmpty())
        return QString();
    const QString path = dir + QLatin1Char('/') + name + QStringLiteral(".mp4");
    if (!runFfmpeg({"-stream_loop", "-1", "-i", shortClip, "-t", QString::number(seconds), "-c",
                    "copy", path}) ||
        !spoilMdat(path))
        return QString();
    return path;
}
