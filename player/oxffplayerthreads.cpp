#include "oxffplayerthreads.h"

#include "oxffplayer.h"

OxFFPlayerThread::OxFFPlayerThread(OxFFPlayer *player) : player(player)
{
}

OxFFPlayerThread::~OxFFPlayerThread()
{
    player = nullptr;
}

void OxDecodeThread::run()
{
    if (player)
        player->decodeLoop();
}

void OxVideoThread::run()
{
    if (player)
        player->videoLoop();
}

void OxAudioThread::run()
{
    if (player)
        player->audioLoop();
}

void OxStepThread::run()
{
    if (player)
        player->stepLoop();
}
