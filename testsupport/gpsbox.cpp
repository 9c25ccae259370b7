#include "gpsbox.h"
#include "gpslayouts.h"

#include <QFile>
#include <QtEndian>

namespace {

// Offset and size of the top-level box of that type, or -1.
qint64 findTopLevel(const QByteArray &data, const char *type, qint64 *size)
{
    qint64 offset = 0;
    while (offset + 8 <= data.size()) {
        qint64 s = qFromBigEndian<quint32>(data.constData() + offset);
        if (s == 1 && offset + 16 <= data.size())
            s = qint64(qFromBigEndian<quint64>(data.constData() + offset + 8));
        else if (s == 0)
            s = data.size() - offset;
        if (s < 8)
            return -1;
        if (data.mid(int(offset) + 4, 4) == type) {
            *size = s;
            return offset;
        }
        offset += s;
    }
    return -1;
}

} // namespace

QByteArray rmcSentence(int s, const char *tag, char status, double knots)
{
    const QByteArray body = QStringLiteral("%1,%2.000,%3,3112.0000,N,%4,E,%5,90.0,070324,,,A")
                                .arg(QLatin1String(tag + 1))
                                .arg(80000 + (s / 60) * 100 + s % 60, 6, 10, QLatin1Char('0'))
                                .arg(QLatin1Char(status))
                                .arg(12124.0 + s * 0.01, 0, 'f', 4)
                                .arg(knots < 0 ? 20.0 + s : knots, 0, 'f', 1)
                                .toLatin1();
    return withChecksum("$" + body);
}

QByteArray withChecksum(const QByteArray &sentence)
{
    const int star = sentence.indexOf('*');
    const QByteArray body = sentence.mid(1, star < 0 ? -1 : star - 1);
    quint8 sum = 0;
    for (char c : body)
        sum ^= quint8(c);
    return "$" + body + "*" + QByteArray::number(sum, 16).rightJustified(2, '0').toUpper();
}

bool addGpsBox(const QString &path, const GpsBoxSpec &recipe)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QByteArray data = file.readAll();
    file.close();

    qint64 moovSize = 0;
    const qint64 moov = findTopLevel(data, "moov", &moovSize);
    if (moov < 0 || moov + moovSize != data.size())
        return false;

    if (recipe.wideBoxBeforeMoov) {
        // Nothing before "moov" is referred to by offset from inside it except
        // chunk data in "mdat", which comes earlier, so inserting here is safe.
        QByteArray wide = gpsBe32(1) + QByteArray("skip", 4);
        QByteArray large(8, '\0');
        qToBigEndian(quint64(16 + 8), large.data());
        wide += large + QByteArray(8, 'w');
        data.insert(int(moov), wide);
    }

    const int payloadLength = recipe.payloadSize >= 0
                                  ? recipe.payloadSize
                                  : 8 + 8 * (recipe.blocks.size() + recipe.extraOffsets.size());
    const qint64 freeStart = data.size() + 8 + payloadLength;

    QByteArray payload("GPSINDEX", 8);
    qint64 blockOffset = freeStart + 8;
    QByteArray blocks;
    for (const QByteArray &block : recipe.blocks) {
        payload += gpsBe32(quint32(blockOffset)) + gpsBe32(quint32(block.size()));
        const QByteArray stored = recipe.blockStride > block.size()
                                      ? block.leftJustified(recipe.blockStride, '\0')
                                      : block;
        blocks += stored;
        blockOffset += stored.size();
    }
    for (qint64 offset : recipe.extraOffsets)
        payload += gpsBe32(quint32(offset)) + gpsBe32(4096);
    payload = payload.leftJustified(payloadLength, '\0', true);

    data += gpsBox("gps ", payload);
    if (!recipe.afterMoov) {
        const qint64 moovAt = recipe.wideBoxBeforeMoov ? moov + 24 : moov;
        qToBigEndian(quint32(moovSize + 8 + payloadLength), data.data() + moovAt);
    }
    data += gpsBox("free", blocks);

    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return file.write(data) == data.size();
}
