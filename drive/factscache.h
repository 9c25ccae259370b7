#pragma once

#include "recordingfacts.h"

#include <QString>
#include <QStringList>
#include <QVector>

#include <atomic>
#include <optional>

// The per-user cache of probed facts, one small file per recording in the facts folder
// beside the thumbnails (OxFileUtils::factsDir). A file is keyed like a thumbnail by
// the recording's absolute path, size and modification time, so a changed or replaced
// recording is probed again. Only what probing found is stored; the fields derived
// from it and from the path are derived again on reading, so better rules for names
// and folders apply to cached recordings at once. Playlist files are never touched.
//
// Files are written whole under a temporary name and renamed into place. Reading is
// defensive: a file of another version, too large, cut short, or holding impossible
// values counts as not probed, and the recording is probed again.

// The cache file of the recording at path (which need not exist).
QString factsCachePath(const QString &path);

// The cached facts of the recording at path, when a valid cache file matches its
// current size and modification time.
std::optional<RecordingFacts> readCachedFacts(const QString &path);

// Writes the facts of a recording; false when the file could not be written.
bool writeCachedFacts(const RecordingFacts &facts);

// A fresh probe, then cached. Nothing when stop was set.
std::optional<RecordingFacts> probeAndCacheFacts(const QString &path,
                                                 const std::atomic<bool> *stop = nullptr);

// The cached facts, else a fresh probe that is then cached. Nothing when stop was set.
std::optional<RecordingFacts> cachedOrProbedFacts(const QString &path,
                                                  const std::atomic<bool> *stop = nullptr);

// The recordings a command line names: each folder's recordings (recordingsUnder), each
// file as given, with their facts from the cache or a fresh probe. A path that is neither
// a folder nor a readable regular file sets error and gives nothing. A recording that
// cannot be read is added to unreadable (may be null) and left out.
QVector<RecordingFacts> factsOfArguments(const QStringList &paths, QString *error,
                                         QStringList *unreadable = nullptr);
