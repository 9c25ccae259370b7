#include "oxvideoinfo.h"

#include "localfiles.h"
#include "oxfileutils.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <algorithm>
#include <cmath>

namespace {

bool sameTag(const QString &tag, const char *name)
{
    return tag.compare(QLatin1String(name), Qt::CaseInsensitive) == 0;
}

// "%g" at precision 6, independent of the desktop's locale.
QString number(double value)
{
    return QString::asprintf("%g", value);
}

// Infinite or NaN values from a damaged file count as not probed, like text that does
// not parse, so nothing later converts them to integers.
double finiteOrZero(double value)
{
    return std::isfinite(value) ? value : 0;
}

// The text as an XML file can hold it: what it cannot (control characters, bytes that
// were not UTF-8) becomes U+FFFD, and the byte form beside it keeps the original. An
// XML writer handed a lone surrogate writes nothing sensible after it.
QString plainText(const QString &text)
{
    QString plain = text;
    for (int i = 0; i < plain.size(); ++i) {
        const QChar c = plain.at(i);
        if (c.isHighSurrogate() && i + 1 < plain.size() && plain.at(i + 1).isLowSurrogate()) {
            ++i;
            continue;
        }
        const ushort u = c.unicode();
        if ((u < 0x20 && u != '\t' && u != '\n') || c.isSurrogate() || u == 0xFFFE || u == 0xFFFF)
            plain[i] = QChar::ReplacementCharacter;
    }
    return plain;
}

// The plain element, and the byte form after it when the text needs one.
void writeText(QXmlStreamWriter &writer, const QString &tag, const QString &rawTag,
               const QString &text)
{
    writer.writeTextElement(tag, plainText(text));
    if (needsByteForm(text))
        writer.writeTextElement(rawTag, QString::fromLatin1(byteForm(text)));
}

bool isInThumbnailFolder(const QString &path)
{
    if (path.isEmpty())
        return false;
    const QFileInfo info(QDir::cleanPath(path));
    return info.isAbsolute() && !info.fileName().isEmpty() &&
           info.path() == QDir::cleanPath(OxFileUtils::thumbnailLocation());
}

} // namespace

bool OxVideoFile::isProbed() const
{
    // An empty or cut thumbnail left by a full disk counts as missing, so it is made again.
    return fps > 0 && duration > 0 && width > 0 && height > 0 && isUsableJpeg(thumb);
}

void OxVideoFile::setField(const QString &tag, const QString &text)
{
    if (sameTag(tag, "name")) {
        name = text;
    } else if (sameTag(tag, "path")) {
        path = text;
    } else if (sameTag(tag, "rawname") || sameTag(tag, "rawpath")) {
        QString value;
        if (fromByteForm(text.toLatin1(), &value))
            (sameTag(tag, "rawname") ? name : path) = value;
    } else if (sameTag(tag, "thumb")) {
        // Anywhere else the probing thread would write the JPEG wherever the file says.
        if (isInThumbnailFolder(text))
            thumb = text;
    } else if (sameTag(tag, "width")) {
        width = text.toInt();
    } else if (sameTag(tag, "height")) {
        height = text.toInt();
    } else if (sameTag(tag, "size")) {
        size = finiteOrZero(text.toDouble());
    } else if (sameTag(tag, "fps")) {
        fps = finiteOrZero(text.toDouble());
    } else if (sameTag(tag, "duration")) {
        duration = finiteOrZero(text.toDouble());
    }
}

void OxVideoFile::write(QXmlStreamWriter &writer) const
{
    writer.writeStartElement(QStringLiteral("Video"));
    // Names an XML file cannot give back unchanged are kept byte for byte as well.
    writeText(writer, QStringLiteral("name"), QStringLiteral("rawname"), name);
    writeText(writer, QStringLiteral("path"), QStringLiteral("rawpath"), path);
    writer.writeTextElement(QStringLiteral("thumb"), plainText(thumb));
    writer.writeTextElement(QStringLiteral("width"), QString::number(width));
    writer.writeTextElement(QStringLiteral("height"), QString::number(height));
    writer.writeTextElement(QStringLiteral("size"), number(size));
    writer.writeTextElement(QStringLiteral("fps"), number(fps));
    writer.writeTextElement(QStringLiteral("duration"), number(duration));
    writer.writeEndElement();
}

OxVideoInfo::OxVideoInfo(const QString &path) : OxVideoInfo(fromFile(path))
{
}

OxVideoInfo OxVideoInfo::fromFile(const QString &path, bool *ok)
{
    if (ok)
        *ok = false;
    // A FIFO or a device in the playlist folder would block the read or never end.
    if (!QFileInfo(path).isFile())
        return OxVideoInfo();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxFileBytes)
        return OxVideoInfo();
    // Read one byte more than allowed: a file growing meanwhile may be larger than it was.
    const QByteArray data = file.read(kMaxFileBytes + 1);
    if (data.size() > kMaxFileBytes)
        return OxVideoInfo();
    return fromXml(data, ok);
}

namespace {

struct Field
{
    QString tag;
    QString text;
};

// A recording's fields in file order, the plain ones first: a byte form is read in
// preference to the plain element, wherever it stands.
OxVideoFile videoFrom(const QList<Field> &fields)
{
    OxVideoFile video;
    for (const bool raw : {false, true}) {
        for (const Field &field : fields) {
            if (field.tag.startsWith(QLatin1String("raw"), Qt::CaseInsensitive) == raw)
                video.setField(field.tag, field.text);
        }
    }
    return video;
}

} // namespace

// The same walk as over a document tree of the file (every child node of "Videos" is a
// recording, text below an element is all its text nodes joined, blank text nodes do
// not count), but streaming, with the nesting bounded: a tree of a deeply nested file
// is built by recursion and overflows the stack.
OxVideoInfo OxVideoInfo::fromXml(const QByteArray &data, bool *ok)
{
    if (ok)
        *ok = false;
    OxVideoInfo info;
    QXmlStreamReader xml(data);
    xml.setNamespaceProcessing(false);
    // Each entity reference may expand to at most this many characters in all, so a
    // file of nested entities ("billion laughs") stops with an error at once.
    xml.setEntityExpansionLimit(4096);

    int depth = 0;   // elements open; the root is at depth 1
    QString topTag;  // the open child of the root
    QString topText; // text below it
    QString rawName; // the entry name's byte form, when the file has one
    bool inVideos = false;
    bool inVideo = false;
    bool textNode = false; // the last token directly inside "Videos" was text
    QList<Field> fields;
    Field field;

    while (!xml.atEnd()) {
        const QXmlStreamReader::TokenType token = xml.readNext();
        if (token == QXmlStreamReader::StartElement) {
            if (++depth > kMaxDepth)
                return OxVideoInfo();
            const QString tag = xml.name().toString();
            if (depth == 2) {
                topTag = tag;
                topText.clear();
                inVideos = sameTag(tag, "Videos");
            } else if (depth == 3 && inVideos) {
                inVideo = true;
                fields.clear();
            } else if (depth == 4 && inVideo) {
                field = Field{tag, QString()};
            }
        } else if (token == QXmlStreamReader::EndElement) {
            if (depth == 4 && inVideo) {
                fields.append(field);
            } else if (depth == 3 && inVideo) {
                info.videos.append(videoFrom(fields));
                inVideo = false;
            } else if (depth == 2) {
                if (sameTag(topTag, "Name"))
                    info.name = topText;
                else if (sameTag(topTag, "rawName"))
                    rawName = topText;
                inVideos = false;
                topTag.clear();
            }
            --depth;
        } else if (token == QXmlStreamReader::Characters && !xml.isWhitespace()) {
            if (depth >= 2)
                topText += xml.text();
            if (depth >= 4 && inVideo)
                field.text += xml.text();
            if (depth == 2 && inVideos && !textNode)
                info.videos.append(OxVideoFile()); // a text node of its own
        } else if ((token == QXmlStreamReader::Comment ||
                    token == QXmlStreamReader::ProcessingInstruction) &&
                   depth == 2 && inVideos) {
            info.videos.append(OxVideoFile());
        }
        textNode = depth == 2 && inVideos && token == QXmlStreamReader::Characters &&
                   (textNode || !xml.isWhitespace());
    }
    if (xml.hasError())
        return OxVideoInfo();
    QString name;
    if (!rawName.isEmpty() && fromByteForm(rawName.toLatin1(), &name))
        info.name = name;
    if (ok)
        *ok = true;
    return info;
}

bool OxVideoInfo::save(const QString &path) const
{
    QByteArray text;
    QXmlStreamWriter writer(&text);
    writer.setCodec("UTF-8");
    writer.setAutoFormatting(true);
    writer.setAutoFormattingIndent(4);
    writer.writeStartDocument();
    writer.writeStartElement(QStringLiteral("OxVideoInfo"));
    writeText(writer, QStringLiteral("Name"), QStringLiteral("rawName"), name);
    writer.writeStartElement(QStringLiteral("Videos"));
    for (const OxVideoFile &video : videos)
        video.write(writer);
    writer.writeEndElement();
    writer.writeEndElement();
    writer.writeEndDocument();

    // Unbuffered, so a short write (a full disk) shows in write()'s count: a buffered
    // QSaveFile commits a cut file without noticing.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return false;
    if (file.write(text) != text.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

void OxVideoInfo::clear()
{
    videos.clear();
    name.clear();
}

bool OxVideoInfo::operator==(const OxVideoInfo &other) const
{
    if (videos.size() != other.videos.size() || name != other.name)
        return false;
    for (int i = 0; i < videos.size(); ++i) {
        if (videos.at(i).path.compare(other.videos.at(i).path, Qt::CaseInsensitive) != 0)
            return false;
    }
    return true;
}

bool OxVideoInfo::filesExist() const
{
    if (videos.isEmpty())
        return false;
    return std::all_of(videos.cbegin(), videos.cend(),
                       [](const OxVideoFile &video) { return QFileInfo::exists(video.path); });
}

void OxVideoInfo::setVideoFile(const QString &path)
{
    clear();
    const QFileInfo info(path);
    OxVideoFile video;
    video.path = path;
    video.name = info.fileName();
    video.size = info.exists() ? double(info.size()) : 0;
    const int dot = video.name.lastIndexOf(QLatin1Char('.'));
    name = dot < 0 ? video.name : video.name.left(dot);
    videos.append(video);
}

namespace {

bool isAsciiDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// Runs of digits compare by their value, everything else letter by letter without
// regard to case. QCollator's numeric mode would do this too, but Qt drops it in the C
// locale, which is what many desktops' services and containers run with.
int naturalCompare(const QString &a, const QString &b)
{
    int i = 0;
    int j = 0;
    while (i < a.size() && j < b.size()) {
        if (isAsciiDigit(a.at(i)) && isAsciiDigit(b.at(j))) {
            while (i < a.size() - 1 && a.at(i) == QLatin1Char('0') && isAsciiDigit(a.at(i + 1)))
                ++i;
            while (j < b.size() - 1 && b.at(j) == QLatin1Char('0') && isAsciiDigit(b.at(j + 1)))
                ++j;
            int endA = i;
            int endB = j;
            while (endA < a.size() && isAsciiDigit(a.at(endA)))
                ++endA;
            while (endB < b.size() && isAsciiDigit(b.at(endB)))
                ++endB;
            if (endA - i != endB - j)
                return (endA - i) - (endB - j);
            const int order = a.midRef(i, endA - i).compare(b.midRef(j, endB - j));
            if (order != 0)
                return order;
            i = endA;
            j = endB;
        } else {
            const QChar x = a.at(i).toCaseFolded();
            const QChar y = b.at(j).toCaseFolded();
            if (x != y)
                return x.unicode() - y.unicode();
            ++i;
            ++j;
        }
    }
    return (a.size() - i) - (b.size() - j);
}

} // namespace

void sortNaturally(QStringList &names)
{
    std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) {
        const int order = naturalCompare(a, b);
        return order != 0 ? order < 0 : a < b;
    });
}
