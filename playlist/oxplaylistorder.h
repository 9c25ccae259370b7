#pragma once

#include <QString>
#include <QStringList>

// The order of the playlist's rows. A playlist file holds one entry and nothing about
// its place among the others, so the order is kept beside them, in a file of its own in
// the playlist folder: one playlist file name per line, in row order, each in its byte
// form (a name may hold any character but "/"). The playlist files keep their format;
// the order file ends in ".lst", so a reader of playlist files passes it by.
namespace OxPlaylistOrder {

QString orderFile(const QString &folder);

// The playlist files of the folder (regular files, not links, whose names end in
// ".xml"), as names: those the order file lists in its order, then the others (written
// by an older version, or before a crash) oldest first, names as people count for equal
// times. listed, when given, receives the names the order file held.
QStringList playlistFiles(const QString &folder, QStringList *listed = nullptr);

// Replaces the order file through a temporary file; false when it could not be written.
bool write(const QString &folder, const QStringList &names);

} // namespace OxPlaylistOrder
