#include "app/app_globals.h"

#include "settings/location.h"

#include <QCoreApplication>
#include <QFileInfo>

ProcessValues& Process() {
    static ProcessValues values;
    return values;
}

QString ApplicationName() {
    const QString path = QCoreApplication::applicationFilePath();
    return path.isEmpty() ? QStringLiteral("lumidex") : QFileInfo(path).completeBaseName();
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
