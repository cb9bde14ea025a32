#include "probe/page_title.h"

#include <gtest/gtest.h>

TEST(PageTitle, IsTheDocumentsTitleAsATabShowsIt) {
    const QByteArray longTitle = "<title>" + QByteArray(118, 'a') + "\xf0\x9f\x98\x80 more</title>";
    const struct {
        QByteArray html;
        QByteArray contentType;
        QString title;
    } rows[] = {
        {"<html><head><title>Shop</title>", {}, "Shop"},
        {"<TITLE lang=en>\n  Tom &amp; Jerry&#39;s &#x2014;\t&hellip; </TITLE>",
         {},
         "Tom & Jerry's — …"},
        {"<!-- <title>no</title> --><title>yes</title>", {}, "yes"},
        {"<script>t = '<title>no</title>'</script><title>yes</title>", {}, "yes"},
        {"<svg><title>icon</title></svg><title>page</title>", {}, "page"},
        {"<meta content=\"a><title>no</title>\"><title>yes</title>", {}, "yes"},
        {"<titlebar>no</titlebar><title>yes</title>", {}, "yes"},
        {"<html><body>no title</body></html>", {}, {}},
        {"<title>cut off by the read lim", {}, {}},
        {"<script><title>no</title>", {}, {}},
        {"<title> \n </title>", {}, {}},
        {"<title>Caf\xe9</title>", "text/html; charset=ISO-8859-1", "Café"},
        {"<meta charset='windows-1252'><title>\x93Hi\x94</title>", {}, "“Hi”"},
        {"<title>Gr\xc3\xbc\xc3\x9f"
         "e</title>",
         {},
         "Grüße"},
        {"<title>a\x01"
         "b\r\nc&#10;d</title>",
         {},
         "a b c d"},
        {"<title>&#0;&#x110000;&#128;&#xD800;</title>", {}, "\uFFFD\uFFFD€\uFFFD"},
        {"<title>&foo; &amp &lt;b&gt;</title>", {}, "&foo; &amp <b>"},
        {"<title>&nbsp;Shop&nbsp; Co\xc2\xa0</title>", {}, "Shop Co"},
        {longTitle, {}, QString(118, u'a') + u'…'},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.html.left(60).toStdString());
        EXPECT_EQ(pageTitle(row.html, row.contentType), row.title);
    }
    EXPECT_LE(pageTitle(longTitle).size(), pageTitleLimit);
}
