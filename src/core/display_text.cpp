#include "core/display_text.h"

#include <QList>

#include <cwchar>

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

namespace {

int cellsOf(char32_t c) {
    const int cells = ::wcwidth(static_cast<wchar_t>(c));
    return cells < 0 ? 1 : cells;
}

} // namespace

int displayWidth(QStringView text) {
    int width = 0;
    for (const char32_t c : text.toUcs4())
        width += cellsOf(c);
    return width;
}

QString elideEnd(const QString& text, int cells) {
    if (displayWidth(text) <= cells)
        return text;
    if (cells <= 0)
        return {};
    QString kept;
    int used = 0;
    for (const char32_t c : text.toUcs4()) {
        if (used + cellsOf(c) > cells - 1)
            break;
        used += cellsOf(c);
        kept.append(QString::fromUcs4(&c, 1));
    }
    return kept + QChar(0x2026);
}

QString elideMiddle(const QString& text, qsizetype width) {
    if (text.size() <= width || width < 2)
        return text;
    const qsizetype tail = width / 2;
    qsizetype head = width - 1 - tail;
    if (head > 0 && text.at(head - 1).isHighSurrogate())
        --head;
    qsizetype from = text.size() - tail;
    if (text.at(from).isLowSurrogate())
        ++from;
    return text.left(head) + QChar(0x2026) + text.mid(from);
}

QString elideMiddleCells(const QString& text, int cells) {
    if (displayWidth(text) <= cells)
        return text;
    const QList<uint> characters = text.toUcs4();
    const auto cellsOf = [](uint c) {
        const char32_t one = c;
        return displayWidth(QString::fromUcs4(&one, 1));
    };
    const int tailBudget = (cells - 1) / 2;
    const int headBudget = cells - 1 - tailBudget;
    qsizetype head = 0;
    for (int used = 0; head < characters.size(); ++head) {
        used += cellsOf(characters[head]);
        if (used > headBudget)
            break;
    }
    qsizetype tail = characters.size();
    for (int used = 0; tail > head; --tail) {
        used += cellsOf(characters[tail - 1]);
        if (used > tailBudget)
            break;
    }
    const auto part = [&](qsizetype from, qsizetype to) {
        QString piece;
        for (qsizetype i = from; i < to; ++i) {
            const char32_t c = characters[i];
            piece += QString::fromUcs4(&c, 1);
        }
        return piece;
    };
    return part(0, head) + QChar(0x2026) + part(tail, characters.size());
}
