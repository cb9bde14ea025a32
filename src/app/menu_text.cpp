#include "app/menu_text.h"

QString literalMenuText(QString text, LabelStyle style) {
    if (style == LabelStyle::Widgets) // "&&" is Qt's escape for a plain "&"
        return text.replace(QLatin1Char('&'), QStringLiteral("&&"));
    // Qt exports a label with its first "&" (unless it is the last character)
    // turned into "_", and every other character as it is; a panel reads "_x"
    // as a mnemonic on x and "__" as "_". So every "_" is doubled, and the
    // first "&" is doubled into "&&", which Qt sends as "_&": a mnemonic on
    // the "&" itself, shown as "&". Later "&"s are plain text to a panel.
    text.replace(QLatin1Char('_'), QStringLiteral("__"));
    if (const qsizetype first = text.indexOf(QLatin1Char('&')); first >= 0)
        text.insert(first, QLatin1Char('&'));
    return text;
}

LiteralText literalFor(LabelStyle style) {
    return [style](const QString& text) { return literalMenuText(text, style); };
}
