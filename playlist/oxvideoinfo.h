#pragma once

#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>

class QByteArray;
class QXmlStreamWriter;

// One recording of a playlist entry. The probe values stay 0 until the probing thread
// has opened the recording.
class OxVideoFile
{
public:
    QString thumb; // full path of the thumbnail JPEG, always inside the thumbnail folder
    QString name;  // file name with its extension
    QString path;  // as given when the entry was made
    double fps = 0;
    double duration = 0; // seconds
    double size = 0;     // bytes, taken when the entry was made
    int width = 0;
    int height = 0;

    // The thumbnail is a usable JPEG and all four probe values are positive.
    bool isProbed() const;
    // Sets one field from a playlist file's tag (compared without case) and its text.
    // A "thumb" outside the thumbnail folder is ignored, and nothing is ever created on
    // disk: the file is outside data. "rawname" and "rawpath" hold a name or path in its
    // byte form (see localfiles.h); one that does not decode is ignored.
    void setField(const QString &tag, const QString &text);
    void write(QXmlStreamWriter &writer) const;
};

// One playlist entry: a name and its recordings, stored as one XML file.
class OxVideoInfo
{
public:
    OxVideoInfo() = default;
    // Reads the playlist file at path; an empty entry when it cannot be read (see
    // fromFile).
    explicit OxVideoInfo(const QString &path);
    OxVideoInfo(const OxVideoInfo &) = default;
    OxVideoInfo &operator=(const OxVideoInfo &) = default;
    virtual ~OxVideoInfo() = default;

    // The playlist file at path. ok tells whether it could be read: false, with an empty
    // entry, for anything but a regular file, a file that is not well-formed, larger
    // than kMaxFileBytes, nested deeper than kMaxDepth or expanding entities beyond a
    // small limit.
    static OxVideoInfo fromFile(const QString &path, bool *ok = nullptr);
    // The same from the file's bytes.
    static OxVideoInfo fromXml(const QByteArray &data, bool *ok = nullptr);

    // Writes the playlist file through a temporary file renamed into place, so a crash
    // or a full disk keeps the old file. False when any write fails.
    bool save(const QString &path) const;
    void clear();
    // Same name, same number of recordings, paths equal without regard to case.
    bool operator==(const OxVideoInfo &other) const;
    bool operator!=(const OxVideoInfo &other) const { return !(*this == other); }
    // At least one recording, and every recording's path exists.
    bool filesExist() const;
    // Makes the entry hold exactly the recording at path.
    void setVideoFile(const QString &path);

    QList<OxVideoFile> videos;
    QString name;

    // A hand-made file this large is not read at all: entries the program writes are a
    // few hundred bytes per recording.
    static constexpr qint64 kMaxFileBytes = 1 << 20;
    // Entries the program writes nest four elements deep.
    static constexpr int kMaxDepth = 32;
};
Q_DECLARE_METATYPE(OxVideoInfo)

// Sorts file names as people count: "2.mp4" before "10.mp4", letters without regard to
// case. Camera file names are dates and counters, so this is the order of the card.
void sortNaturally(QStringList &names);
