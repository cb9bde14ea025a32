#include "platform/desktop_links.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QTimer>
#include <QUrl>

#include <chrono>

namespace {
// How long after a copy a loss of the clipboard counts as its refusal: the
// compositor answers the offer within a round trip.
constexpr std::chrono::milliseconds refusalWindow{1500};
} // namespace

bool openInBrowser(const QString& url) {
    const QUrl parsed(url, QUrl::StrictMode);
    if (!parsed.isValid())
        return false;
    return QDesktopServices::openUrl(parsed);
}

void copyToClipboard(const QString& text, QObject* context, std::function<void()> refused) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->setText(text, QClipboard::Clipboard); // text/plain only

    // Whoever owns the clipboard now, it holds the text or the copy failed.
    // Reading another owner's text is a round trip, so it is only done when
    // ownership was lost.
    const auto judge = [clipboard, text, refused] {
        if (!clipboard->ownsClipboard() && clipboard->text(QClipboard::Clipboard) != text)
            refused();
    };
    if (!clipboard->ownsClipboard()) {
        judge();
        return;
    }
    auto* watch = new QObject(context);
    QObject::connect(clipboard, &QClipboard::changed, watch,
                     [clipboard, watch, judge](QClipboard::Mode mode) {
                         if (mode != QClipboard::Clipboard || clipboard->ownsClipboard())
                             return;
                         const auto verdict = judge; // outlives this connection
                         QObject::disconnect(clipboard, nullptr, watch, nullptr);
                         watch->deleteLater();
                         verdict();
                     });
    QTimer::singleShot(refusalWindow, watch, [clipboard, watch] {
        QObject::disconnect(clipboard, nullptr, watch, nullptr);
        watch->deleteLater();
    });
}
