#pragma once

#include <QString>

// The address of a local server: "http://localhost:" and the port in plain
// decimal (no grouping, no trailing slash). Every action that hands a server's
// address to the desktop builds it here.
QString localServerUrl(qint64 port);

// Hands the URL to the user's default handler for its scheme (the browser for
// http). Text that is not a valid URL is ignored; false then, or when the
// desktop could not hand it on.
bool openInBrowser(const QString& url);

// Replaces the clipboard's content with `text`, as plain text only.
void copyToClipboard(const QString& text);
