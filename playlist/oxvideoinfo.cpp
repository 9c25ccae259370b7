#include "oxvideoinfo.h"

#include "oxfileutils.h"

#include <QDir>
#include <QDomDocument>
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
    return fps > 0 && duration > 0 && width > 0 && height > 0 && !thumb.isEmpty() &&
           QFileInfo::exists(thumb);
}

void OxVideoFile::setField(const QString &tag, const QString &text)
{
    if (sameTag(tag, "name")) {
        name = text;
    } else if (sameTag(tag, "path")) {
        path = text;
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
    writer.writeTextElement(QStringLiteral("name"), name);
    writer.writeTextElement(QStringLiteral("path"), path);
    writer.writeTextElement(QStringLiteral("thumb"), thumb);
    writer.writeTextElement(QStringLiteral("width"), QString::number(width));
    writer.writeTextElement(QStringLiteral("height"), QString::number(height));
    writer.writeTextElement(QStringLiteral("size"), number(size));
    writer.writeTextElement(QStringLiteral("fps"), number(fps));
    writer.writeTextElement(QStringLiteral("duration"), number(duration));
    writer.writeEndElement();
}

OxVideoInfo::OxVideoInfo(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxFileBytes)
        return;
    // Read one byte more than allowed: a device or a growing file may report no size.
    const QByteArray data = file.read(kMaxFileBytes + 1);
    if (data.size() > kMaxFileBytes)
        return;
    *this = fromXml(data);
}

OxVideoInfo OxVideoInfo::fromXml(const QByteArray &data)
{
    OxVideoInfo info;
    QXmlStreamReader reader(data);
    reader.setNamespaceProcessing(false);
    // Each entity reference may expand to at most this many characters in all, so a
    // file of nested entities ("billion laughs") stops with an error at once.
    reader.setEntityExpansionLimit(4096);
    QDomDocument document;
    if (!document.setContent(&reader, false))
        return info;

    const QDomElement root = document.documentElement();
    for (QDomNode node = root.firstChild(); !node.isNull(); node = node.nextSibling()) {
        if (!node.isElement())
            continue;
        const QDomElement element = node.toElement();
        const QString tag = element.tagName();
        if (sameTag(tag, "Name")) {
            info.name = element.text();
        } else if (sameTag(tag, "Videos")) {
            for (QDomNode video = element.firstChild(); !video.isNull();
                 video = video.nextSibling()) {
                OxVideoFile file;
                for (QDomNode field = video.firstChild(); !field.isNull();
                     field = field.nextSibling()) {
                    if (field.isElement())
                        file.setField(field.toElement().tagName(), field.toElement().text());
                }
                info.videos.append(file);
            }
        }
    }
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
    writer.writeTextElement(QStringLiteral("Name"), name);
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
