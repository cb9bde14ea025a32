#pragma once

#include <QString>
#include <QStringView>

// A process name as it may be shown on one line: control characters (C0, DEL,
// C1), line and paragraph separators and the characters that change the
// direction of the text that follows (embeddings, overrides, isolates and
// marks) are written as "\xNN" or "\uNNNN"; everything else stays as it is.
// For display only: names are matched as they are.
QString displayName(QStringView name);

// How many terminal cells `text` takes (wide characters take two).
int displayWidth(QStringView text);

// `text` cut at its end to at most `cells` terminal cells, ending in "…" when
// it was cut.
QString elideEnd(const QString& text, int cells);

// `text` cut in the middle to `width` characters, "…" marking the cut; a
// surrogate pair is never split.
QString elideMiddle(const QString& text, qsizetype width);

// `text` cut in the middle to at most `cells` terminal cells, "…" marking the
// cut; wide characters count two.
QString elideMiddleCells(const QString& text, int cells);
