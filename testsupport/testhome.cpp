#include "testhome.h"

#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>

namespace {
const char *const kVariables[] = {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME",
                                  "TMPDIR"};
}

TestHome::TestHome() : dir(QDir::tempPath() + QStringLiteral("/dashcam-home-XXXXXX"))
{
    for (int i = 0; i < 5; ++i)
        saved[i] = qgetenv(kVariables[i]);
    const QString root = dir.path();
    QDir(root).mkpath(QStringLiteral(".local/share"));
    QDir(root).mkpath(QStringLiteral(".config"));
    QDir(root).mkpath(QStringLiteral(".cache"));
    QDir(root).mkpath(QStringLiteral("tmp"));
    qputenv("HOME", root.toUtf8());
    qputenv("XDG_DATA_HOME", (root + QStringLiteral("/.local/share")).toUtf8());
    qputenv("XDG_CONFIG_HOME", (root + QStringLiteral("/.config")).toUtf8());
    qputenv("XDG_CACHE_HOME", (root + QStringLiteral("/.cache")).toUtf8());
    qputenv("TMPDIR", (root + QStringLiteral("/tmp")).toUtf8());
}

TestHome::~TestHome()
{
    for (int i = 0; i < 5; ++i) {
        if (saved[i].isNull())
            qunsetenv(kVariables[i]);
        else
            qputenv(kVariables[i], saved[i]);
    }
}

QString TestHome::dataLocation() const
{
    return QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
}
