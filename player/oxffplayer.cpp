#include "oxffplayer.h"

#include "oxthread.h"

// Interim build: the engine body lands once the reader and queues are in place.
OxFFPlayer::OxFFPlayer() = default;
OxFFPlayer::~OxFFPlayer() = default;
void OxFFPlayer::decodeLoop() {}
void OxFFPlayer::videoLoop() {}
void OxFFPlayer::audioLoop() {}
int OxFFPlayer::seek(double, int) { return -1; }
void OxFFPlayer::setVideoView(OxFrameSink *view) { videoView = view; }
void OxFFPlayer::setCallback(void *o, PlayerCallback cb) { owner = o; callback = cb; }
int OxFFPlayer::open(const char *) { return -1; }
void OxFFPlayer::pause() {}
void OxFFPlayer::resume() {}
void OxFFPlayer::requestSeek(double) {}
void OxFFPlayer::stop() {}
bool OxFFPlayer::isOpened() const { return false; }
bool OxFFPlayer::isPlaying() const { return false; }
double OxFFPlayer::duration() const { return 0; }
qint64 OxFFPlayer::queuedPictures() const { return 0; }
bool OxFFPlayer::anyThreadRunning() const { return false; }
OxYUV420P *OxFFPlayer::toYUV420P(const AVFrame *) { return nullptr; }
int OxFFPlayer::frameCacheForGop(int gop) { return qBound(30, 2 * gop, 60); }
qint64 OxFFPlayer::intervalFor(int num, int den) { return num && den ? qint64(1000000.0 / (double(num) / den)) : 33000; }
