#include "probe/page_title.h"

#include <QList>
#include <QStringDecoder>

#include <algorithm>
#include <array>
#include <optional>
#include <string_view>

namespace {

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

bool isLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Whether `text` holds the lower-case ASCII `word` at `at`, in any case.
bool hasAt(QByteArrayView text, qsizetype at, std::string_view word) {
    if (at < 0 || at + qsizetype(word.size()) > text.size())
        return false;
    for (std::size_t i = 0; i < word.size(); ++i) {
        if (lower(text[at + qsizetype(i)]) != word[i])
            return false;
    }
    return true;
}

qsizetype find(QByteArrayView text, std::string_view word, qsizetype from) {
    for (qsizetype at = from; at + qsizetype(word.size()) <= text.size(); ++at) {
        if (hasAt(text, at, word))
            return at;
    }
    return -1;
}

// The end of the tag whose name ends at `at`: the index after its ">", or -1.
// A ">" in a quoted attribute value does not end it.
qsizetype tagEnd(QByteArrayView text, qsizetype at) {
    while (at < text.size()) {
        const char c = text[at++];
        if (c == '>')
            return at;
        if (c != '=')
            continue;
        while (at < text.size() && isSpace(text[at]))
            ++at;
        if (at < text.size() && (text[at] == '"' || text[at] == '\'')) {
            const qsizetype close = text.indexOf(text[at], at + 1);
            if (close < 0)
                return -1;
            at = close + 1;
        }
    }
    return -1;
}

// Elements whose content is not the document's markup: a <title> in them is
// not the page's.
constexpr std::array<std::string_view, 12> skippedElements = {
    "script", "style",  "svg",     "math",     "template", "textarea",
    "xmp",    "iframe", "noembed", "noframes", "noscript", "plaintext",
};

struct TitleBytes {
    qsizetype tagStart = 0; // where "<title" begins
    QByteArrayView text;    // between the start and end tags
};

std::optional<TitleBytes> findTitle(QByteArrayView html) {
    qsizetype at = 0;
    while ((at = html.indexOf('<', at)) >= 0) {
        const qsizetype start = at;
        if (hasAt(html, at, "<!--")) {
            const qsizetype close = html.indexOf("-->", at + 4);
            if (close < 0)
                return std::nullopt;
            at = close + 3;
            continue;
        }
        if (hasAt(html, at, "<![cdata[")) {
            const qsizetype close = html.indexOf("]]>", at + 9);
            if (close < 0)
                return std::nullopt;
            at = close + 3;
            continue;
        }
        if (hasAt(html, at, "<!") || hasAt(html, at, "<?") || hasAt(html, at, "</")) {
            const qsizetype close = html.indexOf('>', at + 2);
            if (close < 0)
                return std::nullopt;
            at = close + 1;
            continue;
        }
        ++at;
        if (at >= html.size() || !isLetter(html[at]))
            continue; // a "<" in the text
        const qsizetype nameStart = at;
        while (at < html.size() && (isLetter(html[at]) || (html[at] >= '0' && html[at] <= '9') ||
                                    html[at] == '-' || html[at] == ':'))
            ++at;
        const QByteArrayView name = html.sliced(nameStart, at - nameStart);
        const auto is = [&name](std::string_view word) {
            return name.size() == qsizetype(word.size()) && hasAt(name, 0, word);
        };
        const qsizetype end = tagEnd(html, at);
        if (end < 0)
            return std::nullopt;
        at = end;
        if (is("title")) {
            const qsizetype close = find(html, "</title", at);
            if (close < 0)
                return std::nullopt;
            return TitleBytes{start, html.sliced(at, close - at)};
        }
        if (is("plaintext"))
            return std::nullopt;
        const auto skipped = std::find_if(skippedElements.begin(), skippedElements.end(), is);
        if (skipped != skippedElements.end()) {
            const std::string closing = "</" + std::string(*skipped);
            const qsizetype close = find(html, closing, at);
            if (close < 0)
                return std::nullopt;
            at = close + qsizetype(closing.size());
        }
    }
    return std::nullopt;
}

// The value after the first "charset=" in `text`, lower case; empty when none.
QByteArray charsetIn(QByteArrayView text) {
    for (qsizetype at = find(text, "charset", 0); at >= 0; at = find(text, "charset", at + 1)) {
        qsizetype pos = at + 7;
        while (pos < text.size() && isSpace(text[pos]))
            ++pos;
        if (pos >= text.size() || text[pos] != '=')
            continue;
        ++pos;
        while (pos < text.size() && isSpace(text[pos]))
            ++pos;
        if (pos < text.size() && (text[pos] == '"' || text[pos] == '\''))
            ++pos;
        QByteArray name;
        while (pos < text.size() && name.size() < 40 &&
               !QByteArrayView("\"'; \t\r\n\f>/").contains(text[pos]))
            name.append(lower(text[pos++]));
        return name;
    }
    return {};
}

// Windows-1252 for 0x80 to 0x9F, which browsers use for ISO 8859-1 and
// ASCII pages and for character references in that range; the five it leaves
// undefined stay control characters.
constexpr std::array<char16_t, 32> windows1252 = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

char32_t fromWindows1252(char32_t code) {
    return code >= 0x80 && code <= 0x9F ? windows1252[code - 0x80] : code;
}

// `bytes` in `charset`: the Western ones by the table above, as browsers read
// them, others through Qt's converters; UTF-8 for a name not known, and for
// UTF-16 and UTF-32, which a page that was found by its ASCII markup is not in.
QString decode(QByteArrayView bytes, const QByteArray& charset) {
    static const QList<QByteArray> western = {
        "iso-8859-1", "iso8859-1", "latin1", "latin-1",  "l1",
        "us-ascii",   "ascii",     "cp1252", "x-cp1252", "windows-1252",
    };
    if (western.contains(charset)) {
        QString text(bytes.size(), Qt::Uninitialized);
        std::transform(bytes.begin(), bytes.end(), text.begin(),
                       [](char c) { return QChar(char16_t(fromWindows1252(uchar(c)))); });
        return text;
    }
    if (!charset.isEmpty() && charset != "utf-8" && charset != "utf8" &&
        !charset.startsWith("utf-16") && !charset.startsWith("utf-32") &&
        !charset.startsWith("ucs")) {
        QStringDecoder decoder(charset.constData());
        if (decoder.isValid())
            return decoder.decode(bytes);
    }
    return QString::fromUtf8(bytes);
}

struct NamedReference {
    std::string_view name;
    char16_t character;
};

constexpr std::array<NamedReference, 46> namedReferences = {{
    {"amp", u'&'},      {"lt", u'<'},       {"gt", u'>'},       {"quot", u'"'},
    {"apos", u'\''},    {"nbsp", 0x00A0},   {"copy", 0x00A9},   {"reg", 0x00AE},
    {"trade", 0x2122},  {"hellip", 0x2026}, {"mdash", 0x2014},  {"ndash", 0x2013},
    {"lsquo", 0x2018},  {"rsquo", 0x2019},  {"sbquo", 0x201A},  {"ldquo", 0x201C},
    {"rdquo", 0x201D},  {"bdquo", 0x201E},  {"laquo", 0x00AB},  {"raquo", 0x00BB},
    {"lsaquo", 0x2039}, {"rsaquo", 0x203A}, {"middot", 0x00B7}, {"bull", 0x2022},
    {"euro", 0x20AC},   {"deg", 0x00B0},    {"times", 0x00D7},  {"divide", 0x00F7},
    {"sect", 0x00A7},   {"para", 0x00B6},   {"larr", 0x2190},   {"rarr", 0x2192},
    {"auml", 0x00E4},   {"ouml", 0x00F6},   {"uuml", 0x00FC},   {"Auml", 0x00C4},
    {"Ouml", 0x00D6},   {"Uuml", 0x00DC},   {"szlig", 0x00DF},  {"eacute", 0x00E9},
    {"egrave", 0x00E8}, {"aacute", 0x00E1}, {"agrave", 0x00E0}, {"oacute", 0x00F3},
    {"ccedil", 0x00E7}, {"ntilde", 0x00F1},
}};

// The character reference at `at` (just after its "&") and its length up to
// and with its ";"; none when there is none.
std::optional<std::pair<char32_t, qsizetype>> reference(const QString& text, qsizetype at) {
    if (at < text.size() && text[at] == u'#') {
        const bool hex = at + 1 < text.size() && (text[at + 1] == u'x' || text[at + 1] == u'X');
        qsizetype pos = at + (hex ? 2 : 1);
        const qsizetype digitsStart = pos;
        char32_t code = 0;
        for (; pos < text.size(); ++pos) {
            const char16_t c = text[pos].unicode();
            const int digit = c >= u'0' && c <= u'9'          ? c - u'0'
                              : hex && c >= u'a' && c <= u'f' ? c - u'a' + 10
                              : hex && c >= u'A' && c <= u'F' ? c - u'A' + 10
                                                              : -1;
            if (digit < 0)
                break;
            code = std::min<char32_t>(code * (hex ? 16 : 10) + char32_t(digit), 0x110000);
        }
        if (pos == digitsStart)
            return std::nullopt;
        if (pos < text.size() && text[pos] == u';')
            ++pos;
        if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            code = 0xFFFD;
        return std::pair{fromWindows1252(code), pos - at};
    }
    for (const NamedReference& named : namedReferences) {
        const auto length = qsizetype(named.name.size());
        if (at + length < text.size() && text[at + length] == u';' &&
            QStringView(text).sliced(at, length) == QLatin1StringView(named.name.data(), length))
            return std::pair{char32_t(named.character), length + 1};
    }
    return std::nullopt;
}

QString withReferencesDecoded(const QString& text) {
    QString decoded;
    decoded.reserve(text.size());
    for (qsizetype at = 0; at < text.size(); ++at) {
        if (text[at] == u'&') {
            if (const auto found = reference(text, at + 1)) {
                const char32_t code = found->first;
                decoded.append(QString::fromUcs4(&code, 1));
                at += found->second;
                continue;
            }
        }
        decoded.append(text[at]);
    }
    return decoded;
}

// White space of any kind (a no-break space too: a menu shows no difference)
// and control characters.
bool isBlank(QChar c) {
    return c.isSpace() || c.category() == QChar::Other_Control;
}

} // namespace

QString pageTitle(QByteArrayView html, QByteArrayView contentType) {
    const auto title = findTitle(html);
    if (!title)
        return {};
    QByteArray charset = charsetIn(contentType);
    if (html.startsWith("\xEF\xBB\xBF"))
        charset = "utf-8";
    else if (charset.isEmpty())
        charset = charsetIn(html.first(title->tagStart));
    const QString text = withReferencesDecoded(decode(title->text, charset));

    QString shown;
    shown.reserve(text.size());
    for (const QChar c : text) {
        if (!isBlank(c))
            shown.append(c);
        else if (!shown.isEmpty() && shown.back() != u' ')
            shown.append(u' ');
    }
    if (shown.endsWith(u' '))
        shown.chop(1);
    if (!shown.isValidUtf16()) {
        // A converter's odd output: a surrogate without its pair is replaced.
        for (qsizetype i = 0; i < shown.size(); ++i) {
            if (shown[i].isHighSurrogate() && i + 1 < shown.size() && shown[i + 1].isLowSurrogate())
                ++i;
            else if (shown[i].isSurrogate())
                shown[i] = QChar::ReplacementCharacter;
        }
    }
    if (shown.size() > pageTitleLimit) {
        qsizetype cut = pageTitleLimit - 1;
        if (shown[cut - 1].isHighSurrogate())
            --cut;
        shown.truncate(cut);
        if (shown.endsWith(u' '))
            shown.chop(1);
        shown.append(u'…');
    }
    return shown;
}
