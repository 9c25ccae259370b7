#pragma once

class OxYUV420P;

// Where the player's video thread hands its pictures. OxVideoView draws them; tests and
// benchmarks use sinks that only record what they are given. setFrame is called on the
// video thread and takes ownership of the picture.
class OxFrameSink
{
public:
    virtual ~OxFrameSink() = default;
    virtual void setFrame(OxYUV420P *picture) = 0;
};
