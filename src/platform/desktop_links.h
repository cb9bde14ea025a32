#pragma once

#include <QString>

#include <functional>

class QObject;

// Hands the URL to the user's default handler for its scheme (the browser for
// http). Text that is not a valid URL is ignored; false then, or when the
// desktop could not hand it on.
bool openInBrowser(const QString& url);

// Replaces the clipboard's content with `text`, as plain text only. A copy
// the windowing system refuses calls `refused` (while `context` lives): a
// Wayland compositor cancels a clipboard offer from a client without keyboard
// focus right away, and a tray program has no focused window. Losing the
// clipboard a moment later to a clipboard manager that took the text over is
// no refusal.
void copyToClipboard(const QString& text, QObject* context, std::function<void()> refused);
