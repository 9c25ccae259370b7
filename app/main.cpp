#include "language.h"
#include "mainwindow.h"
#include "oxconfigure.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char *argv[])
{
    Q_INIT_RESOURCE(resources);
    // The OpenGL picture view and the web engine of the map share GL contexts.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    int result = 0;
    {
        QApplication app(argc, argv);
        app.setWindowIcon(QIcon(QStringLiteral(":resources/icon.png")));
        setLanguageRoot(QStringLiteral("%1/language").arg(QCoreApplication::applicationDirPath()));
        OxConfigure::initDefaults();

        auto *window = new MainWindow();
        window->show();
        result = app.exec();
        delete window;
    }
    return result;
}
