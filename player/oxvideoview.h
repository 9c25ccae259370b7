#pragma once

#include "oxframesink.h"

#include <QMutex>
#include <QOpenGLFunctions>
#include <QOpenGLWidget>

#include <memory>

class OxYUV420P;

// Draws the player's YUV 4:2:0 pictures: the three planes go up as luminance textures
// and a fragment shader turns them into RGB. The picture keeps its aspect ratio inside
// black bars.
//
// Threads: setFrame runs on the player's video thread, everything else on the GUI
// thread. `mutex` guards `picture` and is held for all GL work, so a picture is never
// destroyed while it is being uploaded or encoded.
class OxVideoView : public QOpenGLWidget, protected QOpenGLFunctions, public OxFrameSink
{
    Q_OBJECT
public:
    explicit OxVideoView(QWidget *parent = nullptr);
    ~OxVideoView() override;

    // Takes ownership of the picture and asks for a repaint on the GUI thread.
    void setFrame(OxYUV420P *picture) override;
    void clearFrame();
    // Saves the held picture at full size as a JPEG; false when there is none or
    // nothing could be written.
    bool screenshot(const QString &path);

signals:
    void updateAsyncSignal();

protected:
    void initializeGL() override;
    void resizeGL(int w, int h) override;
    void paintGL() override;

private:
    void placeQuad(int w, int h, bool withPicture);
    void uploadPlanes(const uint8_t *const planes[3], int width, int height);
    void releaseGL();

    std::unique_ptr<OxYUV420P> picture; // guarded by mutex
    GLuint program = 0;
    GLuint textures[3] = {0, 0, 0};
    // GUI thread: the first draw of the current context has been made.
    bool drawingWarmedUp = false;
    QMutex mutex;
    GLfloat vertices[8] = {0, 0, 0, 0, 0, 0, 0, 0};
};
