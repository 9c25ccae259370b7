#include "language.h"
#include "localfiles.h"
#include "mainwindow.h"
#include "oxconfigure.h"
#include "version.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>
#include <QIcon>

#include <cstdio>
#include <malloc.h>

namespace {

// The recordings and folders named on the command line that can be read; a message on
// standard error for each of the others.
QStringList readablePaths(const QStringList &arguments)
{
    QStringList paths;
    for (const QString &argument : arguments) {
        const QFileInfo info(argument);
        const char *problem = !info.exists()       ? "no such file or folder"
                              : !info.isReadable() ? "permission denied"
                                                   : nullptr;
        if (problem) {
            std::fprintf(stderr, "dashcam-player: cannot open %s: %s\n",
                         QFile::encodeName(argument).constData(), problem);
            continue;
        }
        paths.append(info.absoluteFilePath());
    }
    return paths;
}

// --help and --version are answered before any window system is needed, so they work
// on a console without a display.
QStringList parseCommandLine(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    // Before the arguments are decoded: a name that is not UTF-8 keeps its bytes.
    installFileNameCodec();
    QCoreApplication::setApplicationVersion(QString::fromLatin1(kVersionText).mid(2));
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Plays dash-camera recordings with their GPS track, speed and route.\n"
                       "Recordings and folders given are added to the playlist, and the "
                       "first recording plays."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("paths"),
                                 QStringLiteral("Recordings (.mp4, .mov, .avi) or folders."),
                                 QStringLiteral("[FILE|FOLDER...]"));
    parser.process(app);
    return readablePaths(parser.positionalArguments());
}

} // namespace

int main(int argc, char *argv[])
{
    // At most two heaps for all threads (the C library's default grows to eight per
    // core): each heap keeps what its threads freed, and the decoders' threads would
    // otherwise each keep one, full of freed pictures' memory.
    mallopt(M_ARENA_MAX, 2);
    // The OpenGL picture view and the web engine of the map share GL contexts.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    const QStringList paths = parseCommandLine(argc, argv);

    Q_INIT_RESOURCE(resources);
    int result = 0;
    {
        QApplication app(argc, argv);
        app.setWindowIcon(QIcon(QStringLiteral(":resources/icon.png")));
        app.setDesktopFileName(QStringLiteral("dashcam-player"));
        setLanguageRoot(QStringLiteral("%1/language").arg(QCoreApplication::applicationDirPath()));
        OxConfigure::initDefaults();

        auto *window = new MainWindow();
        window->show();
        if (!paths.isEmpty())
            window->openPaths(paths);
        result = app.exec();
        delete window;
    }
    return result;
}
