#include "oxvideoview.h"

#include "oxjpeg.h"
#include "oxmediadata.h"

#include <QBackingStore>
#include <QDebug>
#include <QExposeEvent>
#include <QMutexLocker>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFramebufferObject>
#include <QPainter>
#include <QPlatformSurfaceEvent>
#include <QWindow>

#include <algorithm>

namespace {

const char vertexShaderSource[] =
    "attribute vec4 vertexIn; attribute vec2 textureIn; varying vec2 textureOut; void "
    "main(void) { gl_Position = vertexIn; textureOut = textureIn; }";

const char fragmentShaderSource[] =
    "varying vec2 textureOut; uniform sampler2D textureY; uniform sampler2D textureU; uniform "
    "sampler2D textureV; uniform mat3 colorConversionMatrix; void main(void){ vec3 yuv; vec3 "
    "rgb; yuv.x = texture2D(textureY, textureOut).r; yuv.y = texture2D(textureU, "
    "textureOut).r - 0.5; yuv.z = texture2D(textureV, textureOut).r - 0.5; rgb = "
    "colorConversionMatrix * yuv; gl_FragColor = vec4(rgb, 1); }";

// One pair per vertex, in the order of the quad's vertices: bottom-left, bottom-right,
// top-left, top-right. Row 0 of a plane is the top of the picture.
const GLfloat textureCoordinates[8] = {0, 1, 1, 1, 0, 0, 1, 0};

// BT.601, column by column.
const GLfloat colorConversion[9] = {1.164f, 1.164f, 1.164f,  0.0f, -0.392f,
                                    2.017f, 1.596f, -0.813f, 0.0f};
// Without a picture the quad comes out black.
const GLfloat zeroConversion[9] = {0, 0, 0, 0, 0, 0, 0, 0, 0};

} // namespace

// The window the pictures are drawn on. It takes neither clicks nor the focus: X hands
// mouse input to the window below it, so the widgets around see it as before.
class OxVideoWindow : public QWindow
{
public:
    explicit OxVideoWindow(OxVideoView *owner) : view(owner)
    {
        setSurfaceType(QSurface::OpenGLSurface);
        // A flat picture needs neither depth nor stencil: no buffers to keep and clear.
        QSurfaceFormat surfaceFormat = QSurfaceFormat::defaultFormat();
        surfaceFormat.setDepthBufferSize(0);
        surfaceFormat.setStencilBufferSize(0);
        setFormat(surfaceFormat);
        setFlags(Qt::WindowTransparentForInput | Qt::WindowDoesNotAcceptFocus);
    }

protected:
    void exposeEvent(QExposeEvent *) override
    {
        if (isExposed())
            view->present(true);
    }
    void resizeEvent(QResizeEvent *) override
    {
        if (isExposed())
            view->present(true);
    }
    bool event(QEvent *event) override
    {
        // The context must not stay current on a surface that goes away.
        if (event->type() == QEvent::PlatformSurface &&
            static_cast<QPlatformSurfaceEvent *>(event)->surfaceEventType() ==
                QPlatformSurfaceEvent::SurfaceAboutToBeDestroyed &&
            view->glContext && view->glContext->surface() == this)
            view->glContext->doneCurrent();
        return QWindow::event(event);
    }

private:
    OxVideoView *view;
};

OxVideoView::OxVideoView(QWidget *parent) : QWidget(parent)
{
    // Everything the widget shows is painted in paintEvent or covered by the window.
    setAttribute(Qt::WA_OpaquePaintEvent);
    pictureWindow = new OxVideoWindow(this);
    container = QWidget::createWindowContainer(pictureWindow, this);
    container->setAttribute(Qt::WA_TransparentForMouseEvents);
    container->setGeometry(rect());
    connect(this, &OxVideoView::updateAsyncSignal, this, [this] { present(false); });
}

OxVideoView::~OxVideoView()
{
    releaseGL();
    glContext.reset();
    // The window goes before this object does: no event reaches it half destroyed.
    delete container;

    QMutexLocker locker(&mutex);
    picture.reset();
}

void OxVideoView::setFrame(OxYUV420P *newPicture)
{
    QSize resized;
    {
        QMutexLocker locker(&mutex);
        picture.reset(newPicture);
        pictureChanged = true;
        ++pictureSerial;
        const QSize size = picture ? QSize(picture->width, picture->height) : QSize();
        if (picture && size != lastPictureSize)
            resized = lastPictureSize = size;
    }
    if (resized.isValid())
        emit pictureSizeChanged(resized);
    emit updateAsyncSignal();
}

std::unique_ptr<OxYUV420P> OxVideoView::copyPicture()
{
    QMutexLocker locker(&mutex);
    if (!picture)
        return nullptr;
    const uint8_t *planes[3] = {picture->y, picture->u, picture->v};
    auto copy = std::make_unique<OxYUV420P>(planes, picture->width, picture->height);
    copy->time = picture->time;
    return copy;
}

QSize OxVideoView::pictureSize()
{
    QMutexLocker locker(&mutex);
    return lastPictureSize;
}

void OxVideoView::clearFrame()
{
    {
        QMutexLocker locker(&mutex);
        picture.reset();
        pictureChanged = true;
        ++pictureSerial;
    }
    present(true);
    qDebug("clear");
}

bool OxVideoView::screenshot(const QString &path)
{
    QMutexLocker locker(&mutex);
    if (!picture)
        return false;
    return saveYUV420PAsJpeg(picture->y, picture->u, picture->v, picture->width, picture->height,
                             path) >= 0;
}

QOpenGLContext *OxVideoView::context() const
{
    return glContext.get();
}

bool OxVideoView::isValid() const
{
    return glContext && glContext->isValid();
}

bool OxVideoView::makeCurrent()
{
    if (glFailed || !pictureWindow->handle())
        return false;
    if (glContext)
        return glContext->makeCurrent(pictureWindow);

    auto created = std::make_unique<QOpenGLContext>();
    created->setFormat(pictureWindow->requestedFormat());
    // With shared contexts (the program's and the tests' setting) the view's objects are
    // visible to the other contexts of the application.
    created->setShareContext(QOpenGLContext::globalShareContext());
    if (!created->create() || !created->makeCurrent(pictureWindow)) {
        glFailed = true;
        qDebug("no OpenGL context for the picture view");
        return false;
    }
    glContext = std::move(created);
    initializeGL();
    return true;
}

void OxVideoView::doneCurrent()
{
    if (glContext)
        glContext->doneCurrent();
}

void OxVideoView::present(bool always)
{
    if (!pictureWindow->isExposed())
        return;
    {
        QMutexLocker locker(&mutex);
        if (!always && !pictureChanged)
            return;
        pictureChanged = false;
    }
    if (!makeCurrent())
        return;
    paintGL();
    glContext->swapBuffers(pictureWindow);
    emit frameSwapped();
}

QImage OxVideoView::grabFramebuffer()
{
    if (!makeCurrent())
        return QImage();
    const int ratio = devicePixelRatio();
    QOpenGLFramebufferObject target(QSize(width(), height()) * ratio);
    if (!target.bind())
        return QImage();
    paintGL();
    QImage image = target.toImage();
    target.release();
    return image;
}

void OxVideoView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    container->setGeometry(rect());
}

void OxVideoView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    // On screen the window covers this widget and nothing of this shows: reading the
    // window back would cost a picture's drawing on every repaint of the window around it.
    // Rendered into an image (grab, render), the widget shows the picture as drawn.
    QBackingStore *store = backingStore();
    if (!sharedPainter() && store && redirected(nullptr) == store->paintDevice()) {
        painter.fillRect(rect(), Qt::black);
        return;
    }
    const QImage image = grabFramebuffer();
    if (image.isNull())
        painter.fillRect(rect(), Qt::black);
    else
        painter.drawImage(rect(), image);
}

void OxVideoView::initializeGL()
{
    QMutexLocker locker(&mutex);
    initializeOpenGLFunctions();

    const GLuint vertexShader = glCreateShader(GL_VERTEX_SHADER);
    const char *source = vertexShaderSource;
    GLint length = GLint(sizeof(vertexShaderSource) - 1);
    glShaderSource(vertexShader, 1, &source, &length);
    glCompileShader(vertexShader);

    const GLuint fragmentShader = glCreateShader(GL_FRAGMENT_SHADER);
    source = fragmentShaderSource;
    length = GLint(sizeof(fragmentShaderSource) - 1);
    glShaderSource(fragmentShader, 1, &source, &length);
    glCompileShader(fragmentShader);

    program = glCreateProgram();
    glAttachShader(program, vertexShader);
    glAttachShader(program, fragmentShader);
    glLinkProgram(program);
    // Attached shaders live as long as the program; deleting the program frees them.
    glDeleteShader(vertexShader);
    glDeleteShader(fragmentShader);
    GLint linked = GL_FALSE;
    glGetProgramiv(program, GL_LINK_STATUS, &linked);
    if (linked != GL_TRUE)
        qDebug("glLinkProgram failed");
    glUseProgram(program);

    glUniform1i(glGetUniformLocation(program, "textureY"), 0);
    glUniform1i(glGetUniformLocation(program, "textureU"), 1);
    glUniform1i(glGetUniformLocation(program, "textureV"), 2);

    for (GLuint &texture : textures) {
        glGenTextures(1, &texture);
        glBindTexture(GL_TEXTURE_2D, texture);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    }

    // A software renderer builds its drawing code for the first picture drawn, which
    // takes several frame intervals, all the while holding the lock the video thread
    // hands pictures over with. A small picture of the same kind (sizes that are not
    // powers of two), drawn before anything is shown, has that done before playback
    // starts; every drawing clears it away.
    const uint8_t black[36] = {};
    const uint8_t *planes[3] = {black, black, black};
    placeQuad(6, 6, true);
    uploadPlanes(planes, 6, 6);
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    uploadedSerial = 0;
}

void OxVideoView::paintGL()
{
    QMutexLocker locker(&mutex);
    const int ratio = devicePixelRatio();
    glViewport(0, 0, ratio * width(), ratio * height());
    glUseProgram(program);
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);

    if (picture) {
        placeQuad(picture->width, picture->height, true);
        if (uploadedSerial != pictureSerial) {
            const uint8_t *planes[3] = {picture->y, picture->u, picture->v};
            uploadPlanes(planes, picture->width, picture->height);
            uploadedSerial = pictureSerial;
        }
    } else {
        placeQuad(width(), height(), false);
    }
    for (int i = 0; i < 3; ++i) {
        glActiveTexture(GL_TEXTURE0 + GLenum(i));
        glBindTexture(GL_TEXTURE_2D, textures[i]);
    }

    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    const GLenum error = glGetError();
    if (error != GL_NO_ERROR)
        qDebug("glGetError() = %x", error);
    glFlush();
}

// Plane rows are tightly packed; with the default alignment of 4, rows whose length is
// not a multiple of 4 would be read skewed.
void OxVideoView::uploadPlanes(const uint8_t *const planes[3], int width, int height)
{
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    const int sizes[3][2] = {{width, height}, {width / 2, height / 2}, {width / 2, height / 2}};
    for (int i = 0; i < 3; ++i) {
        glActiveTexture(GL_TEXTURE0 + GLenum(i));
        glBindTexture(GL_TEXTURE_2D, textures[i]);
        // Pictures of one recording keep their size: the texture's storage is kept too.
        const QSize size(sizes[i][0], sizes[i][1]);
        if (textureSizes[i] == size) {
            glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, size.width(), size.height(), GL_LUMINANCE,
                            GL_UNSIGNED_BYTE, planes[i]);
        } else {
            glTexImage2D(GL_TEXTURE_2D, 0, GL_LUMINANCE, size.width(), size.height(), 0,
                         GL_LUMINANCE, GL_UNSIGNED_BYTE, planes[i]);
            textureSizes[i] = size;
        }
    }
}

// w x h is the picture, in the widget's logical pixels the quad keeps its aspect ratio.
void OxVideoView::placeQuad(int w, int h, bool withPicture)
{
    const qint64 W = width();
    const qint64 H = height();
    if (w > 0 && h > 0 && W > 0 && H > 0) {
        if (W * h < H * w) {
            // Relatively narrower widget: full width, bars above and below.
            const double s = (double(h) * double(W) / double(w)) / double(H);
            const GLfloat quad[8] = {-1, GLfloat(-s), 1, GLfloat(-s),
                                     -1, GLfloat(s),  1, GLfloat(s)};
            std::copy(quad, quad + 8, vertices);
        } else {
            const double t = (double(w) * double(H) / double(h)) / double(W);
            const GLfloat quad[8] = {GLfloat(-t), -1, GLfloat(t), -1,
                                     GLfloat(-t), 1,  GLfloat(t), 1};
            std::copy(quad, quad + 8, vertices);
        }
    } else {
        const GLfloat quad[8] = {-1, -1, 1, -1, -1, 1, 1, 1};
        std::copy(quad, quad + 8, vertices);
    }

    const GLint vertexIn = glGetAttribLocation(program, "vertexIn");
    const GLint textureIn = glGetAttribLocation(program, "textureIn");
    if (vertexIn >= 0) {
        glVertexAttribPointer(GLuint(vertexIn), 2, GL_FLOAT, GL_FALSE, 0, vertices);
        glEnableVertexAttribArray(GLuint(vertexIn));
    }
    if (textureIn >= 0) {
        glVertexAttribPointer(GLuint(textureIn), 2, GL_FLOAT, GL_FALSE, 0, textureCoordinates);
        glEnableVertexAttribArray(GLuint(textureIn));
    }
    glUniformMatrix3fv(glGetUniformLocation(program, "colorConversionMatrix"), 1, GL_FALSE,
                       withPicture ? colorConversion : zeroConversion);
}

void OxVideoView::releaseGL()
{
    if (!glContext || (!program && !textures[0]))
        return;
    // Without its window (already gone, or never made) the context is made current on a
    // surface of its own.
    QOffscreenSurface fallback;
    if (!makeCurrent()) {
        fallback.setFormat(glContext->format());
        fallback.create();
        if (!glContext->makeCurrent(&fallback))
            return;
    }
    QMutexLocker locker(&mutex);
    glDeleteTextures(3, textures);
    glDeleteProgram(program);
    glContext->doneCurrent();
    program = 0;
    textures[0] = textures[1] = textures[2] = 0;
    for (QSize &size : textureSizes)
        size = QSize();
}
