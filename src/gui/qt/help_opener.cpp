#include "gui/qt/help_opener.h"

#include "settings/location.h"

#include <QDesktopServices>
#include <QProcess>
#include <QUrl>

#include <filesystem>

namespace {

// Starts the opener on one file; `failed` runs when it ends with a failure.
template <typename Failed>
void StartOpener(const QString& opener, const QString& file, QObject* owner, Failed failed) {
    auto* process = new QProcess(owner);
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    QObject::connect(process, &QProcess::finished, owner,
                     [process, failed](int exit_code, QProcess::ExitStatus status) {
                         process->deleteLater();
                         if (status != QProcess::NormalExit || exit_code != 0) {
                             failed();
                         }
                     });
    QObject::connect(process, &QProcess::errorOccurred, owner,
                     [process, file](QProcess::ProcessError error) {
                         if (error == QProcess::FailedToStart) {
                             process->deleteLater();
                             QDesktopServices::openUrl(QUrl::fromLocalFile(file));
                         }
                     });
    process->start(opener, {file});
}

} // namespace

void OpenHelpDocument(const QString& path, QObject* owner, const QString& opener) {
    const QString html = QString::fromStdString(
        lumidex::HtmlHelpFor(std::filesystem::path(path.toStdString())).string());
    StartOpener(opener, path, owner, [opener, html, owner] {
        StartOpener(opener, html, owner, [] {});
    });
}
