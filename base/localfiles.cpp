#include "localfiles.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTextCodec>
#include <QUrl>

namespace {

constexpr ushort kEscapeBase = 0xDC00; // byte b (0x80..0xFF) is held as U+DC00 + b

bool isEscapedByte(ushort c)
{
    return c >= kEscapeBase + 0x80 && c <= kEscapeBase + 0xFF;
}

// Length of the UTF-8 sequence a lead byte starts, 0 for a byte that starts none.
int sequenceLength(uchar lead)
{
    if (lead >= 0xC2 && lead <= 0xDF)
        return 2;
    if (lead >= 0xE0 && lead <= 0xEF)
        return 3;
    if (lead >= 0xF0 && lead <= 0xF4)
        return 4;
    return 0;
}

// Whether byte i (1-based within the sequence) may follow the lead: the ranges that
// leave out overlong forms, surrogates and code points above U+10FFFF.
bool continues(uchar lead, int i, uchar byte)
{
    if ((byte & 0xC0) != 0x80)
        return false;
    if (i != 1)
        return true;
    switch (lead) {
    case 0xE0:
        return byte >= 0xA0;
    case 0xED:
        return byte <= 0x9F;
    case 0xF0:
        return byte >= 0x90;
    case 0xF4:
        return byte <= 0x8F;
    default:
        return true;
    }
}

// UTF-8 where the bytes are UTF-8; every other byte kept as an escape code point.
// Streaming callers (QTextDecoder) hand the bytes in pieces: an incomplete sequence at
// the end of a piece waits in the state for the next one.
class FileNameCodec : public QTextCodec
{
public:
    QByteArray name() const override { return QByteArrayLiteral("x-utf-8-file-names"); }
    int mibEnum() const override { return 3001; }

protected:
    QString convertToUnicode(const char *chars, int length, ConverterState *state) const override
    {
        QByteArray bytes;
        if (state && state->remainingChars > 0) {
            for (int i = 0; i < state->remainingChars; ++i)
                bytes.append(char(state->state_data[i]));
            state->remainingChars = 0;
        }
        bytes.append(chars, length);
        const auto *s = reinterpret_cast<const uchar *>(bytes.constData());
        const int n = bytes.size();
        QString out;
        out.reserve(n);
        int i = 0;
        while (i < n) {
            const uchar lead = s[i];
            if (lead < 0x80) {
                out.append(QChar(lead));
                ++i;
                continue;
            }
            const int need = sequenceLength(lead);
            int have = 1;
            while (need > 0 && have < need && i + have < n && continues(lead, have, s[i + have]))
                ++have;
            if (need > 0 && have == need) {
                out.append(QString::fromUtf8(bytes.constData() + i, need));
                i += need;
            } else if (need > 0 && i + have == n && state) {
                // Cut at the end of this piece: the rest comes with the next one.
                for (int k = 0; k < have; ++k)
                    state->state_data[k] = s[i + k];
                state->remainingChars = have;
                i = n;
            } else {
                out.append(QChar(ushort(kEscapeBase + lead)));
                ++i;
            }
        }
        return out;
    }

    QByteArray convertFromUnicode(const QChar *in, int length, ConverterState *state) const override
    {
        QString text;
        if (state && state->remainingChars > 0) {
            text.append(QChar(ushort(state->state_data[0])));
            state->remainingChars = 0;
        }
        text.append(in, length);
        QByteArray out;
        out.reserve(text.size());
        for (int i = 0; i < text.size(); ++i) {
            const QChar c = text.at(i);
            if (c.isHighSurrogate()) {
                if (i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
                    out.append(text.midRef(i, 2).toUtf8());
                    ++i;
                } else if (i + 1 == text.size() && state) {
                    state->state_data[0] = c.unicode();
                    state->remainingChars = 1;
                } else {
                    out.append('?');
                }
            } else if (isEscapedByte(c.unicode())) {
                out.append(char(c.unicode() - kEscapeBase));
            } else if (c.isLowSurrogate()) {
                out.append('?');
            } else {
                out.append(QStringView(&c, 1).toUtf8());
            }
        }
        return out;
    }
};

bool looksLikeUrl(const QString &path)
{
    // A scheme of two letters or more: "C:/clip.mp4" stays a path.
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]+:"));
    return scheme.match(path).hasMatch();
}

} // namespace

void installFileNameCodec()
{
    const QTextCodec *current = QTextCodec::codecForLocale();
    const int mib = current ? current->mibEnum() : 106;
    if (mib == 3001)
        return; // installed already
    if (mib != 106 && mib != 3)
        return; // a one-byte encoding maps every byte to a character and back
    // Qt keeps every codec made for the life of the process.
    QTextCodec::setCodecForLocale(new FileNameCodec);
}

bool needsByteForm(const QString &text)
{
    for (const QChar c : text) {
        const ushort u = c.unicode();
        if (u < 0x20 || u == 0x7F || c.isSurrogate() || u == 0xFFFE || u == 0xFFFF)
            return true;
    }
    return !text.isEmpty() && text.trimmed().isEmpty();
}

QByteArray byteForm(const QString &text)
{
    return QFile::encodeName(text).toPercentEncoding("/");
}

bool fromByteForm(const QByteArray &form, QString *text)
{
    // Only what byteForm writes: unreserved characters and well-formed escapes.
    static const QRegularExpression valid(QStringLiteral("^([A-Za-z0-9._~/-]|%[0-9A-Fa-f]{2})*$"));
    const QString trimmed = QString::fromLatin1(form.trimmed());
    if (trimmed.isEmpty() || !valid.match(trimmed).hasMatch())
        return false;
    const QByteArray bytes = QByteArray::fromPercentEncoding(trimmed.toLatin1());
    if (bytes.contains('\0'))
        return false;
    *text = QFile::decodeName(bytes);
    return true;
}

QString localPathOfUrl(const QUrl &url)
{
    if (!url.isLocalFile())
        return QString();
    if (!url.host().isEmpty())
        return url.toLocalFile(); // a share on another machine: //host/path
    return QFile::decodeName(
        QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()));
}

RecordingPath recordingPathKind(const QString &path)
{
    const QFileInfo info(path);
    if (info.isFile())
        return RecordingPath::File;
    // Something is there that is not a regular file (QFileInfo counts a FIFO, a socket
    // or a device as existing), or the text is a URL rather than a path.
    if (info.exists() || looksLikeUrl(path))
        return RecordingPath::NotAFile;
    return RecordingPath::Missing;
}

bool isUsableJpeg(const QString &path)
{
    if (path.isEmpty() || !QFileInfo(path).isFile())
        return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray start = file.read(3);
    return start == QByteArray("\xFF\xD8\xFF", 3);
}
