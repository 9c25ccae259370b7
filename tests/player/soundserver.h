#pragma once

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>

// A temporary HOME hides the sound server's socket and cookie (both found through the
// home folder). Call before creating the TestHome: names the running server, when there
// is one, explicitly. A PULSE_SERVER already set (for example pointing nowhere) is kept.
inline void keepSoundServer()
{
    if (qEnvironmentVariableIsSet("PULSE_SERVER"))
        return;
    QProcess pactl;
    pactl.start(QStringLiteral("pactl"), {QStringLiteral("info")});
    if (!pactl.waitForFinished(5000) || pactl.exitCode() != 0)
        return;
    const QString info = QString::fromLocal8Bit(pactl.readAllStandardOutput());
    const auto match = QRegularExpression(QStringLiteral("Server String: (\\S+)")).match(info);
    if (!match.hasMatch())
        return;
    QString server = match.captured(1);
    if (server.startsWith(QLatin1Char('/')))
        server.prepend(QStringLiteral("unix:"));
    qputenv("PULSE_SERVER", server.toLocal8Bit());
    const QString cookie = QDir::homePath() + QStringLiteral("/.config/pulse/cookie");
    if (!qEnvironmentVariableIsSet("PULSE_COOKIE") && QFile::exists(cookie))
        qputenv("PULSE_COOKIE", cookie.toLocal8Bit());
}
