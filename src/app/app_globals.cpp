#include "app/app_globals.h"

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
