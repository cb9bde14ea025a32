#include "platform/app_icon.h"

#include <QString>

QIcon harborwatchIcon() {
    QIcon compiled;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
        compiled.addFile(QStringLiteral(":/icons/%1/harborwatch.png").arg(size), QSize(size, size));
    return QIcon::fromTheme(QStringLiteral("harborwatch"), compiled);
}

QIcon harborwatchTrayIcon() {
    return QIcon::fromTheme(QStringLiteral("harborwatch-symbolic"), harborwatchIcon());
}
