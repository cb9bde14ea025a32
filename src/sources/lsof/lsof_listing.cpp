#include "sources/lsof/lsof_listing.h"

#include "core/integers.h"
#include "core/split_ports.h"

#include <QSet>
#include <QVarLengthArray>

#include <algorithm>

namespace {

int hexDigit(QChar c) {
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

// The byte that a backslash followed by `c` stands for; none for others.
std::optional<char> backslashEscape(QChar c) {
    switch (c.unicode()) {
    case u'\\':
        return '\\';
    case u't':
        return '\t';
    case u'n':
        return '\n';
    case u'r':
        return '\r';
    case u'b':
        return '\b';
    case u'f':
        return '\f';
    default:
        return std::nullopt;
    }
}

// lsof prints the bytes of a command name that are not printable ASCII as
// escapes: "\x20" for a space (so that a name stays one column), "\\" for a
// backslash, "\t", "\n", "\r", "\b", "\f", "^A" to "^_" for the other control
// characters and "\xNN" for the rest. The decoded bytes are read as UTF-8.
// Text that is not one of these escapes is kept as it is.
QString decodeCommandName(QStringView name) {
    if (!name.contains(u'\\') && !name.contains(u'^'))
        return name.toString();
    QByteArray bytes;
    bytes.reserve(name.size());
    qsizetype plainFrom = 0; // start of the text since the last escape
    const auto escape = [&](qsizetype at, qsizetype length, char byte) {
        bytes += name.sliced(plainFrom, at - plainFrom).toUtf8();
        bytes += byte;
        plainFrom = at + length;
    };
    for (qsizetype i = 0; i + 1 < name.size(); ++i) {
        const QChar next = name[i + 1];
        if (name[i] == u'^' && next >= u'A' && next <= u'_') {
            escape(i, 2, static_cast<char>(next.unicode() - u'@'));
            ++i;
        } else if (name[i] != u'\\') {
            continue;
        } else if (const auto byte = backslashEscape(next)) {
            escape(i, 2, *byte);
            ++i;
        } else if (next == u'x' && i + 3 < name.size() && hexDigit(name[i + 2]) >= 0 &&
                   hexDigit(name[i + 3]) >= 0) {
            escape(i, 4, static_cast<char>(hexDigit(name[i + 2]) * 16 + hexDigit(name[i + 3])));
            i += 3;
        }
    }
    bytes += name.sliced(plainFrom).toUtf8();
    return QString::fromUtf8(bytes);
}

} // namespace

QList<ListeningPort> parseLsofListing(QStringView text) {
    QList<ListeningPort> result;
    QSet<std::pair<qint64, QString>> seen; // (port, address)
    QVarLengthArray<QStringView, 16> pieces;
    bool headerSkipped = false;

    qsizetype lineStart = 0;
    while (lineStart < text.size()) {
        qsizetype lineEnd = text.indexOf(u'\n', lineStart);
        if (lineEnd < 0)
            lineEnd = text.size();
        const QStringView line = text.sliced(lineStart, lineEnd - lineStart);
        lineStart = lineEnd + 1;
        if (line.isEmpty())
            continue;
        // The first non-empty line is the header, whatever it says.
        if (!headerSkipped) {
            headerSkipped = true;
            continue;
        }

        pieces.clear();
        qsizetype pos = 0;
        while (pos < line.size()) {
            while (pos < line.size() && line[pos] == u' ')
                ++pos;
            const qsizetype start = pos;
            while (pos < line.size() && line[pos] != u' ')
                ++pos;
            if (pos > start)
                pieces.append(line.sliced(start, pos - start));
        }
        if (pieces.size() < 9)
            continue;

        const auto pid = parseInteger(pieces[1]);
        if (!pid)
            continue;
        const QStringView address = pieces[pieces.size() - 2];
        const qsizetype colon = address.lastIndexOf(u':');
        if (colon < 0)
            continue;
        const auto port = parseInteger(address.sliced(colon + 1));
        if (!port || *port < 1 || *port > 65535)
            continue;
        QStringView host = address.first(colon);
        if (host.size() >= 2 && host.front() == u'[' && host.back() == u']')
            host = host.sliced(1, host.size() - 2);
        QString hostText = host.toString();
        if (hostText == QStringLiteral("*"))
            hostText = pieces[4] == u"IPv6" ? QStringLiteral("::") : QStringLiteral("0.0.0.0");
        if (seen.contains({*port, hostText}))
            continue;
        seen.insert({*port, hostText});
        result.append({*port, *pid, decodeCommandName(pieces[0]), 0, std::move(hostText)});
    }

    std::stable_sort(
        result.begin(), result.end(),
        [](const ListeningPort& a, const ListeningPort& b) { return a.port < b.port; });
    return splitByHolder(result);
}
