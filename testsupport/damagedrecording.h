#pragma once

#include <QString>

// A long recording whose pictures never decode, as a damaged card gives: a short clip
// repeated (stream copy) to the given length, then every byte of its "mdat" payload
// overwritten, so the index is intact and every packet reads but none decodes. A probe
// looking for the first picture reads the whole file. Returns the path, or an empty
// string on failure. The short clip is made as dir/name-short.mp4.
QString makeUndecodableRecording(const QString &dir, const QString &name, int seconds);
