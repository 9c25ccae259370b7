#pragma once

#include "oxthread.h"

class OxFFPlayer;

// The engine's three worker threads: each runs one loop of the player.
class OxFFPlayerThread : public OxThread
{
public:
    explicit OxFFPlayerThread(OxFFPlayer *player);
    ~OxFFPlayerThread() override;

protected:
    OxFFPlayer *player = nullptr; // borrowed
};

class OxDecodeThread : public OxFFPlayerThread
{
public:
    using OxFFPlayerThread::OxFFPlayerThread;

protected:
    void run() override;
};

class OxVideoThread : public OxFFPlayerThread
{
public:
    using OxFFPlayerThread::OxFFPlayerThread;

protected:
    void run() override;
};

class OxAudioThread : public OxFFPlayerThread
{
public:
    using OxFFPlayerThread::OxFFPlayerThread;

protected:
    void run() override;
};

// Carries out frame steps while the player is paused.
class OxStepThread : public OxFFPlayerThread
{
public:
    using OxFFPlayerThread::OxFFPlayerThread;

protected:
    void run() override;
};
