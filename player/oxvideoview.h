#pragma once

#include "oxframesink.h"

#include <QImage>
#include <QMutex>
#include <QOpenGLFunctions>
#include <QSize>
#include <QWidget>

#include <memory>

class OxYUV420P;
class OxVideoWindow;
class QOpenGLContext;

// Draws the player's YUV 4:2:0 pictures: the three planes go up as luminance textures
// and a fragment shader turns them into RGB. The picture keeps its aspect ratio inside
// black bars.
//
// The drawing happens in a window of its own (an OpenGL surface with its own context)
// that covers this widget, so a new picture costs its upload and one quad on that
// window only; the rest of the top-level window is not composed again for it. The
// window lets mouse input through to the widgets below it. Where this widget is
// rendered into an image (QWidget::grab of its window), it paints the picture as drawn.
//
// Threads: setFrame runs on the player's video thread, everything else on the GUI
// thread. `mutex` guards `picture` and `pictureChanged` and is held for all GL work, so a
// picture is never destroyed while it is being uploaded or encoded.
class OxVideoView : public QWidget, protected QOpenGLFunctions, public OxFrameSink
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
    // A copy of the held picture, or none. GUI thread.
    std::unique_ptr<OxYUV420P> copyPicture();
    // The size of the pictures handed over last; empty before the first.
    QSize pictureSize();

    // Draws what the view shows now (the held picture in its bars, or black) off screen
    // and reads it back, in device pixels. Null before the view's window exists.
    QImage grabFramebuffer();
    // The view's GL context: made when the view is first drawn or grabbed, null before.
    QOpenGLContext *context() const;
    bool isValid() const;
    // Makes the view's context current on its window (making the context if needed);
    // false when there is no window or no GL.
    bool makeCurrent();
    void doneCurrent();

signals:
    void updateAsyncSignal();
    // A drawing has been put on screen.
    void frameSwapped();
    // The pictures handed over changed size; sent from the thread that hands them over.
    void pictureSizeChanged(QSize size);

protected:
    void resizeEvent(QResizeEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    friend class OxVideoWindow;

    void initializeGL();
    void paintGL();
    // Draws on the window and shows it: always, or only when the picture changed since
    // the last drawing.
    void present(bool always);
    void placeQuad(int w, int h, bool withPicture);
    void uploadPlanes(const uint8_t *const planes[3], int width, int height);
    void releaseGL();

    OxVideoWindow *pictureWindow = nullptr; // owned by the container
    QWidget *container = nullptr;
    std::unique_ptr<QOpenGLContext> glContext;
    bool glFailed = false;

    std::unique_ptr<OxYUV420P> picture; // guarded by mutex
    // Guarded by mutex: the video thread sets it with a new picture, a drawing on the
    // GUI thread clears it. Repaint requests that find it clear have nothing to draw:
    // pictures that come faster than they are drawn are replaced unseen.
    bool pictureChanged = false;
    // Guarded by mutex: counts the pictures handed over; the textures hold picture
    // `uploadedSerial` (GUI thread), so a repaint of the same picture uploads nothing.
    quint64 pictureSerial = 0;
    quint64 uploadedSerial = 0;
    // Guarded by mutex: the size of the last picture handed over (kept over clearFrame).
    QSize lastPictureSize;
    QSize textureSizes[3];

    GLuint program = 0;
    GLuint textures[3] = {0, 0, 0};
    QMutex mutex;
    GLfloat vertices[8] = {0, 0, 0, 0, 0, 0, 0, 0};
};
