#pragma once

#include <QString>
#include <QTemporaryDir>

// Points HOME, the XDG folders and TMPDIR at a fresh temporary folder for the life
// of the object, so a test never reads or writes the user's real configuration,
// playlist, thumbnails or screenshots. Create it before anything asks
// QStandardPaths for a folder.
class TestHome
{
public:
    TestHome();
    ~TestHome();

    QString path() const { return dir.path(); }
    QString dataLocation() const; // what QStandardPaths::AppLocalDataLocation gives

private:
    QTemporaryDir dir;
    QByteArray saved[5];
};
