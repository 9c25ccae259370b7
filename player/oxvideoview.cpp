#include "oxvideoview.h"

#include "oxjpeg.h"
#include "oxmediadata.h"

#include <QDebug>
#include <QMutexLocker>
#include <QOpenGLContext>

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

OxVideoView::OxVideoView(QWidget *parent) : QOpenGLWidget(parent)
{
    connect(this, &OxVideoView::updateAsyncSignal, this,
            static_cast<void (QWidget::*)()>(&QWidget::update));
}

OxVideoView::~OxVideoView()
{
    releaseGL();
    if (QOpenGLContext *glContext = context())
        disconnect(glContext, nullptr, this, nullptr);

    QMutexLocker locker(&mutex);
    picture.reset();
}

void OxVideoView::setFrame(OxYUV420P *newPicture)
{
    {
        QMutexLocker locker(&mutex);
        picture.reset(newPicture);
    }
    emit updateAsyncSignal();
}

void OxVideoView::clearFrame()
{
    {
        QMutexLocker locker(&mutex);
        picture.reset();
    }
    update();
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

void OxVideoView::initializeGL()
{
    QMutexLocker locker(&mutex);
    initializeOpenGLFunctions();

    // The context goes away with the widget and when the widget moves to another
    // window; its objects must be released while it still exists.
    connect(context(), &QOpenGLContext::aboutToBeDestroyed, this, &OxVideoView::releaseGL,
            Qt::UniqueConnection);

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
}

void OxVideoView::resizeGL(int, int)
{
}

void OxVideoView::paintGL()
{
    QMutexLocker locker(&mutex);
    const int ratio = devicePixelRatio();
    glViewport(0, 0, ratio * width(), ratio * height());
    glUseProgram(program);
    if (!drawingWarmedUp) {
        // A software renderer builds its drawing code for the first picture drawn, which
        // takes several frame intervals, all the while holding the lock the video thread
        // hands pictures over with. A small picture of the same kind (sizes that are not
        // powers of two), drawn before anything is shown and cleared away, has that done
        // before playback starts.
        const uint8_t black[36] = {};
        const uint8_t *planes[3] = {black, black, black};
        placeQuad(6, 6, true);
        uploadPlanes(planes, 6, 6);
        glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
        drawingWarmedUp = true;
    }
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);

    if (picture) {
        placeQuad(picture->width, picture->height, true);
        const uint8_t *planes[3] = {picture->y, picture->u, picture->v};
        uploadPlanes(planes, picture->width, picture->height);
    } else {
        placeQuad(width(), height(), false);
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
        glTexImage2D(GL_TEXTURE_2D, 0, GL_LUMINANCE, sizes[i][0], sizes[i][1], 0, GL_LUMINANCE,
                     GL_UNSIGNED_BYTE, planes[i]);
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
    QMutexLocker locker(&mutex);
    if (!program && !textures[0])
        return;
    if (!context())
        return;
    makeCurrent();
    glDeleteTextures(3, textures);
    glDeleteProgram(program);
    doneCurrent();
    program = 0;
    textures[0] = textures[1] = textures[2] = 0;
    drawingWarmedUp = false;
}
