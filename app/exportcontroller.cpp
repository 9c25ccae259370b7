#include "exportcontroller.h"

#include "language.h"

#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QStandardPaths>

#include <cmath>

namespace {

QString minutesSeconds(double seconds)
{
    const int s = qMax(0, int(std::lround(seconds)));
    return QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

ExportController::ExportController(QWidget *window) : QObject(window), window(window)
{
    connect(&job, &ExportJob::progressChanged, this, &ExportController::showProgress);
    connect(&job, &ExportJob::finished, this, &ExportController::exportFinished);
}

ExportController::~ExportController()
{
    job.cancel();
    job.wait();
}

QString ExportController::defaultFolder()
{
    QString videos = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
    if (videos.isEmpty())
        videos = QDir::homePath();
    return QDir(videos).filePath(QStringLiteral("dashcam-exports"));
}

void ExportController::setDuration(double seconds)
{
    duration = seconds;
    in = out = -1;
    emit marksChanged(in, out);
}

void ExportController::markIn(double position)
{
    in = qBound(0.0, position, duration);
    if (out >= 0 && out <= in)
        out = -1;
    emit marksChanged(in, out);
}

void ExportController::markOut(double position)
{
    out = qBound(0.0, position, duration);
    if (in >= 0 && in >= out)
        in = -1;
    emit marksChanged(in, out);
}

std::pair<double, double> ExportController::span(double position) const
{
    double from = in >= 0 ? in : position - kDefaultBefore;
    double to = out >= 0 ? out : position + kDefaultAfter;
    // Only an out mark before the position: the default span ends there.
    if (in < 0 && out >= 0)
        from = out - kDefaultBefore - kDefaultAfter;
    // Only an in mark after the position: the default span starts there.
    if (out < 0 && in >= 0 && to <= in)
        to = in + kDefaultBefore + kDefaultAfter;
    return {qBound(0.0, from, duration), qBound(0.0, to, duration)};
}

QString ExportController::spanText(double position) const
{
    const auto [from, to] = span(position);
    return languageText(QStringLiteral("export_span"))
        .arg(minutesSeconds(from), minutesSeconds(to), minutesSeconds(to - from));
}

void ExportController::exportSpan(const Drive &drive, const DriveTrack &track, double position,
                                  int speedUnit, const ChannelPairing &rear)
{
    if (job.isRunning()) {
        emit notice(languageText(QStringLiteral("export_running")));
        return;
    }
    const auto [from, to] = span(position);
    if (drive.isEmpty() || !(to > from)) {
        emit notice(languageText(QStringLiteral("export_nothing")));
        return;
    }

    QDialog dialog(window);
    dialog.setWindowTitle(languageText(QStringLiteral("export")));
    auto *form = new QFormLayout(&dialog);
    form->addRow(new QLabel(spanText(position)));
    auto *folderEdit = new QLineEdit(lastFolder.isEmpty() ? defaultFolder() : lastFolder);
    folderEdit->setMinimumWidth(360);
    auto *browse = new QPushButton(languageText(QStringLiteral("export_browse")));
    auto *folderRow = new QHBoxLayout;
    folderRow->addWidget(folderEdit);
    folderRow->addWidget(browse);
    form->addRow(languageText(QStringLiteral("export_folder")), folderRow);
    auto *band = new QCheckBox(languageText(QStringLiteral("export_band")));
    band->setChecked(true);
    auto *routeMap = new QCheckBox(languageText(QStringLiteral("export_route_map")));
    routeMap->setChecked(true);
    connect(band, &QCheckBox::toggled, routeMap, &QCheckBox::setEnabled);
    form->addRow(band);
    form->addRow(routeMap);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttons->button(QDialogButtonBox::Ok)->setText(languageText(QStringLiteral("export_start")));
    form->addRow(buttons);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    connect(browse, &QPushButton::clicked, &dialog, [&] {
        const QString chosen =
            QFileDialog::getExistingDirectory(&dialog, QString(), folderEdit->text());
        if (!chosen.isEmpty())
            folderEdit->setText(chosen);
    });
    if (dialog.exec() != QDialog::Accepted)
        return;

    const QString folder = QDir::cleanPath(folderEdit->text().trimmed());
    if (folder.isEmpty() || !QDir().mkpath(folder)) {
        emit notice(languageText(QStringLiteral("export_failed"))
                        .arg(languageText(QStringLiteral("export_no_folder")).arg(folder)));
        return;
    }
    lastFolder = folder;
    ExportRequest request = driveExportRequest(drive, track, from, to);
    request.band = band->isChecked();
    request.routeMap = request.band && routeMap->isChecked();
    request.speedUnit = speedUnit;
    request.targetFolder = folder;
    addPairedChannel(request, rear);
    start(request);
}

bool ExportController::start(const ExportRequest &request)
{
    if (!job.start(request))
        return false;
    progress = new QProgressDialog(window);
    progress->setWindowModality(Qt::NonModal);
    progress->setWindowTitle(languageText(QStringLiteral("export")));
    progress->setCancelButtonText(languageText(QStringLiteral("export_cancel")));
    progress->setRange(0, 100);
    progress->setMinimumDuration(0);
    progress->setAutoClose(false);
    progress->setAutoReset(false);
    connect(progress, &QProgressDialog::canceled, &job, &ExportJob::cancel);
    showProgress(0, -1);
    progress->show();
    return true;
}

void ExportController::showProgress(double fraction, double secondsLeft)
{
    if (!progress)
        return;
    const int percent = qBound(0, int(fraction * 100), 100);
    QString text = languageText(QStringLiteral("export_progress")).arg(percent);
    if (secondsLeft >= 0)
        text += QStringLiteral(" · ") +
                languageText(QStringLiteral("export_left")).arg(minutesSeconds(secondsLeft));
    // Most reports change neither: each change costs the window a layout and a repaint.
    if (percent != progress->value())
        progress->setValue(percent);
    if (text != progress->labelText())
        progress->setLabelText(text);
}

void ExportController::exportFinished(const ExportResult &result)
{
    if (progress)
        progress->deleteLater();
    if (result.ok)
        emit notice(languageText(QStringLiteral("export_done")).arg(result.folder));
    else if (result.cancelled)
        emit notice(languageText(QStringLiteral("export_cancelled")));
    else
        emit notice(languageText(QStringLiteral("export_failed")).arg(result.error));
}
