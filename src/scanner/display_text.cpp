#include "scanner/display_text.h"

namespace {

bool needsEscape(char16_t c) {
    return c < 0x20 || (c >= 0x7f && c <= 0x9f) // C0, DEL, C1
           || c == 0x061c                       // Arabic letter mark
           || c == 0x200e || c == 0x200f        // left-to-right and right-to-left marks
           || (c >= 0x2028 && c <= 0x202e)      // separators, embeddings, overrides
           || (c >= 0x2066 && c <= 0x2069);     // isolates
}

} // namespace

QString displayName(QStringView name) {
    QString shown;
    shown.reserve(name.size());
    for (const QChar c : name) {
        const char16_t u = c.unicode();
        if (!needsEscape(u))
            shown.append(c);
        else if (u < 0x100)
            shown.append(QStringLiteral("\\x%1").arg(uint(u), 2, 16, QLatin1Char('0')));
        else
            shown.append(QStringLiteral("\\u%1").arg(uint(u), 4, 16, QLatin1Char('0')));
    }
    return shown;
}
