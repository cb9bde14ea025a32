#include "platform/desktop_links.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QMimeData>
#include <QUrl>

QString localServerUrl(qint64 port) {
    return QStringLiteral("http://localhost:") + QString::number(port);
}

bool openInBrowser(const QString& url) {
    const QUrl parsed(url, QUrl::StrictMode);
    if (!parsed.isValid())
        return false;
    return QDesktopServices::openUrl(parsed);
}

void copyToClipboard(const QString& text) {
    auto* data = new QMimeData; // the clipboard takes it
    data->setText(text);
    QGuiApplication::clipboard()->setMimeData(data, QClipboard::Clipboard);
}
