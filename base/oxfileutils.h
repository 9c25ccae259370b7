#pragma once

#include <QObject>
#include <QString>

// The per-user folders the player keeps its files in. Every getter creates its
// folder when missing and returns the path even when it could not be created: the
// file operation that follows then fails on its own terms.
class OxFileUtils : public QObject
{
    Q_OBJECT
public:
    explicit OxFileUtils(QObject *parent = nullptr);

    QString cacheDir();     // thumbnails, under the temporary location
    QString configureDir(); // configure.ini, under the data location
    QString playlistDir();  // playlist files, under the data location
    QString captureDir();   // screenshots

    // Thumbnails of the playlist rows, in the user's own cache location
    // (~/.cache/<program>/thumbnails), created readable by the owner only: a folder
    // shared by every account would let one user block or redirect another's writes.
    QString thumbnailDir();
    // The same path, without creating anything.
    static QString thumbnailLocation();
    // What probing found out about recordings (times, camera, track), beside the
    // thumbnails (~/.cache/<program>/facts) and made the same way.
    QString factsDir();
    static QString factsLocation();

    // The name of a file the cache keeps about the recording at path: its file name, then
    // a hash of its absolute path, size and modification time, then extension ("jpg"), so
    // equal names from two folders, or a name reused on a reformatted card, never share a
    // file. Control characters and bytes that are not UTF-8 are replaced and the name is
    // cut so that the whole fits the file system's 255 bytes; the hash keeps them apart.
    static QString recordingCacheName(const QString &path, const QString &extension);

    // Deletes a file, or a folder with everything below it (hidden entries too).
    // Symbolic links are removed as links: nothing outside the tree is touched.
    static void deleteRecursively(const QString &path);
    static bool removeFile(const QString &path);
};
