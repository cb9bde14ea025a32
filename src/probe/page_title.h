#pragma once

#include <QByteArrayView>
#include <QString>

// The longest title pageTitle() gives, in UTF-16 units, "…" included.
inline constexpr qsizetype pageTitleLimit = 120;

// The title of an HTML page as a browser shows it in its tab, from the first
// bytes of the page (what a look read of it): the text of the document's
// first <title> element (one inside a comment, a script, a style or an <svg>
// does not count), decoded in the charset that `contentType` (the
// Content-Type header) or a <meta> before the title names (UTF-8 when none,
// or one not known), its character references decoded (&amp;, &#39;, &#x2014;
// and the common named ones), control characters taken for spaces, runs of
// white space (no-break spaces too) made one space and the ends trimmed; cut to pageTitleLimit,
// ending in "…" where it was cut. Empty when the page has none, or the bytes
// end before the title does (a page cut off is not guessed at).
QString pageTitle(QByteArrayView html, QByteArrayView contentType = {});
