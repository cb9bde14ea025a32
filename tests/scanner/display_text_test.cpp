#include "scanner/display_text.h"

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
