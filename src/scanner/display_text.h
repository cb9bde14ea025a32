#pragma once

#include <QString>
#include <QStringView>

// A process name as it may be shown on one line: control characters (C0, DEL,
// C1), line and paragraph separators and the characters that change the
// direction of the text that follows (embeddings, overrides, isolates and
// marks) are written as "\xNN" or "\uNNNN"; everything else stays as it is.
// For display only: names are matched as they are.
QString displayName(QStringView name);
