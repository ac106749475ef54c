#include "gui/qt/app_globals.h"

#include "settings/location.h"

#include <QCoreApplication>
#include <QFileInfo>

QString ApplicationName() {
    const QString path = QCoreApplication::applicationFilePath();
    return path.isEmpty() ? QStringLiteral("lumidex") : QFileInfo(path).completeBaseName();
}

QIcon ApplicationIcon() {
    // The icon lives in a static library's resources, which register only
    // when asked to.
    static const bool registered = [] {
        Q_INIT_RESOURCE(lumidex);
        return true;
    }();
    Q_UNUSED(registered);
    return QIcon(QStringLiteral(":/lumidex.png"));
}

QString HelpDocumentPath() {
    const std::filesystem::path program_dir(QCoreApplication::applicationDirPath().toStdString());
    const auto help =
        lumidex::ChooseHelpDocument(program_dir, lumidex::InstalledDataDirectory(program_dir),
                                    [](const std::filesystem::path& path) {
                                        std::error_code ec;
                                        return std::filesystem::is_regular_file(path, ec);
                                    });
    return QString::fromStdString(help.string());
}
