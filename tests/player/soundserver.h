#pragma once

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

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

// A sound server of the test's own: a pulseaudio daemon with a null sink, reached through
// a socket in a temporary folder. A shared server lives as long as whoever started it
// (scripts/with-test-services of another run stops its daemon when that run ends), and a
// test that checks the sound against the picture must not lose it half way. start()
// points PULSE_SERVER at the new server; it keeps a PULSE_SERVER already set, and gives
// false when no daemon could be started (then keepSoundServer() is the fallback).
class PrivateSoundServer
{
public:
    bool start()
    {
        if (qEnvironmentVariableIsSet("PULSE_SERVER") || !dir.isValid())
            return false;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), dir.path());
        env.insert(QStringLiteral("PULSE_RUNTIME_PATH"), dir.path());
        daemon.setProcessEnvironment(env);
        daemon.setStandardOutputFile(QProcess::nullDevice());
        daemon.setStandardErrorFile(QProcess::nullDevice());
        daemon.start(QStringLiteral("pulseaudio"),
                     {"--daemonize=no", "--exit-idle-time=-1", "--disallow-exit", "-n",
                      "--use-pid-file=no", "--load=module-null-sink sink_name=private",
                      "--load=module-native-protocol-unix auth-anonymous=1 socket=" + dir.path() +
                          "/native"});
        if (!daemon.waitForStarted(5000))
            return false;
        const QString server = "unix:" + dir.path() + "/native";
        for (int i = 0; i < 100 && daemon.state() == QProcess::Running; ++i) {
            QProcess info;
            env.insert(QStringLiteral("PULSE_SERVER"), server);
            info.setProcessEnvironment(env);
            info.start(QStringLiteral("pactl"), {QStringLiteral("info")});
            if (info.waitForFinished(2000) && info.exitCode() == 0) {
                qputenv("PULSE_SERVER", server.toLocal8Bit());
                return true;
            }
            QThread::msleep(50);
        }
        return false;
    }

    ~PrivateSoundServer()
    {
        if (daemon.state() == QProcess::NotRunning)
            return;
        daemon.terminate();
        if (!daemon.waitForFinished(5000))
            daemon.kill();
        daemon.waitForFinished();
    }

    // What the server plays, for a recorder such as parec.
    static QString monitor() { return QStringLiteral("private.monitor"); }

private:
    QTemporaryDir dir;
    QProcess daemon;
};
