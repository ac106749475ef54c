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
    return QIcon(QStringLiteral(":/lumidex.png"));
}
