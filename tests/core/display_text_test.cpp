#include "core/display_text.h"

#include <gtest/gtest.h>

TEST(DisplayName, EscapesWhatWouldBreakOrTurnTheLine) {
    const struct {
        QString name;
        QString shown;
    } cases[] = {
        {QStringLiteral("node"), QStringLiteral("node")},
        {QStringLiteral("my server"), QStringLiteral("my server")},
        {QStringLiteral("caf\u00e9 (v1"), QStringLiteral("caf\u00e9 (v1")},
        {QStringLiteral("\u65e5\u672c"), QStringLiteral("\u65e5\u672c")},
        {QStringLiteral("a\\x41"), QStringLiteral("a\\x41")},
        {QStringLiteral("two\nlines"), QStringLiteral("two\\x0alines")},
        {QStringLiteral("tab\there\r"), QStringLiteral("tab\\x09here\\x0d")},
        {QStringLiteral("del\u007f c1\u0085"), QStringLiteral("del\\x7f c1\\x85")},
        {QStringLiteral("evil\u202egnp.js"), QStringLiteral("evil\\u202egnp.js")},
        {QStringLiteral("\u2066iso\u2069 \u200f\u061c"),
         QStringLiteral("\\u2066iso\\u2069 \\u200f\\u061c")},
        {QStringLiteral("sep\u2028\u2029"), QStringLiteral("sep\\u2028\\u2029")},
    };
    for (const auto& c : cases)
        EXPECT_EQ(displayName(c.name), c.shown) << c.name.toStdString();
}

TEST(Elision, MiddleKeepsBothEndsAndEndFitsTheCells) {
    const QString long70 = QString(35, u'a') + QString(35, u'b');
    const QString elided = elideMiddle(long70, 60);
    EXPECT_EQ(elided.size(), 60);
    EXPECT_EQ(elided, QString(29, u'a') + QChar(0x2026) + QString(30, u'b'));
    EXPECT_EQ(elideMiddle(QString(60, u'x'), 60), QString(60, u'x'));

    EXPECT_EQ(elideEnd(QStringLiteral("node vite --port 5173"), 11),
              QStringLiteral("node vite ") + QChar(0x2026));
    // A wide character takes two cells and is not cut in half.
    EXPECT_EQ(elideEnd(QStringLiteral("ab中文"), 4), QStringLiteral("ab") + QChar(0x2026));
}
