#pragma once

#include <QByteArray>
#include <QString>

class QUrl;

// File names on this system are byte strings, and Qt holds them as text. These helpers
// keep every name the file system can hold, also one that is not valid UTF-8 or holds
// control characters, so that what was listed can be opened and stored again.

// Makes Qt's conversions between file names and text lossless: bytes that are not
// UTF-8 become the code points U+DC80..U+DCFF and go back to the same bytes, so
// QDir lists such names (it leaves out names it cannot decode) and QFile::encodeName
// gives the bytes the name was read from. Does nothing when the locale's encoding is
// neither UTF-8 nor ASCII (a one-byte encoding loses nothing). Call it once, early in
// main, before any file name is decoded; every name then goes to FFmpeg and to system
// calls through QFile::encodeName.
void installFileNameCodec();

// True when an XML file would not give the text back unchanged: control characters
// (a carriage return comes back as a line feed, U+0001 cannot be written at all), bytes
// that were not UTF-8, or nothing but blanks.
bool needsByteForm(const QString &text);
// The file-name bytes of the text, percent-encoded but for "/": plain ASCII that any XML
// holds.
QByteArray byteForm(const QString &text);
// Back from byteForm; false (and nothing changed) when the form is damaged or holds a
// NUL byte, which no file name can contain.
bool fromByteForm(const QByteArray &form, QString *text);

// The local path of a file URL, byte for byte (URL.toLocalFile turns bytes that are not
// UTF-8 into replacement characters); empty for any other URL.
QString localPathOfUrl(const QUrl &url);

// What a path given as a recording names. Recordings are local regular files (or links
// to one); anything else is refused before it is opened: a FIFO or a device would
// block the reader, and a URL would make it contact the network.
enum class RecordingPath { File, Missing, NotAFile };
RecordingPath recordingPathKind(const QString &path);

// A thumbnail that can be shown: a readable file that starts like a JPEG. An empty or
// cut file left by a full disk is not one.
bool isUsableJpeg(const QString &path);
