#include "core/project_manifest.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

const QStringList& manifestFiles() {
    static const QStringList files = {
        QStringLiteral("package.json"),  QStringLiteral("pyproject.toml"),
        QStringLiteral("Cargo.toml"),    QStringLiteral("go.mod"),
        QStringLiteral("composer.json"),
    };
    return files;
}

namespace {

constexpr qsizetype longestName = 214; // npm's limit, the longest of the five

QByteArrayView withoutByteOrderMark(QByteArrayView text) {
    return text.startsWith("\xEF\xBB\xBF") ? text.sliced(3) : text;
}

QString usableName(const QString& name) {
    const QString trimmed = name.trimmed();
    const bool control = std::any_of(trimmed.begin(), trimmed.end(), [](QChar c) {
        const auto category = c.category();
        return category == QChar::Other_Control || category == QChar::Separator_Line ||
               category == QChar::Separator_Paragraph;
    });
    if (trimmed.isEmpty() || trimmed.size() > longestName || control)
        return {};
    return trimmed;
}

QString jsonName(QByteArrayView text) {
    const QJsonDocument document =
        QJsonDocument::fromJson(withoutByteOrderMark(text).toByteArray());
    return document.object().value(QLatin1String("name")).toString();
}

QString goModuleName(QByteArrayView text) {
    for (QByteArray line : text.toByteArray().split('\n')) {
        if (const qsizetype comment = line.indexOf("//"); comment >= 0)
            line.truncate(comment);
        line = line.trimmed();
        if (!line.startsWith("module") || line.size() == 6 || (line[6] != ' ' && line[6] != '\t'))
            continue;
        QByteArray path = line.sliced(6).trimmed();
        if (path.size() >= 2 && (path.front() == '"' || path.front() == '`') &&
            path.back() == path.front())
            path = path.sliced(1, path.size() - 2);
        QList<QByteArray> parts = path.split('/');
        const auto isMajorVersion = [](const QByteArray& part) {
            return part.size() >= 2 && part.front() == 'v' &&
                   std::all_of(part.begin() + 1, part.end(),
                               [](char c) { return c >= '0' && c <= '9'; });
        };
        if (parts.size() > 1 && isMajorVersion(parts.last()))
            parts.removeLast();
        return QString::fromUtf8(parts.last());
    }
    return {};
}

bool isBareKeyCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '-';
}

bool endsValue(char c) {
    return c == '\r' || c == '\n' || c == '#' || c == ',' || c == ']' || c == '}';
}

std::optional<uint> hexNumber(QByteArrayView digits) {
    uint value = 0;
    for (const char c : digits) {
        const int digit = c >= '0' && c <= '9'   ? c - '0'
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                 : -1;
        if (digit < 0)
            return std::nullopt;
        value = value * 16 + uint(digit);
    }
    return value;
}

// Just enough TOML to find one string: see tomlString().
class TomlReader {
public:
    explicit TomlReader(QByteArrayView text) : m_text(withoutByteOrderMark(text)) {}

    std::optional<QString> find(const QStringList& path) {
        QStringList table;
        bool arrayTable = false;
        for (;;) {
            skipSpace(true);
            if (atEnd())
                return std::nullopt;
            if (peek() == '[') {
                arrayTable = peek(1) == '[';
                m_pos += arrayTable ? 2 : 1;
                const auto names = keys();
                skipSpace(false);
                if (!names || !take(']') || (arrayTable && !take(']')) || !endOfLine())
                    return std::nullopt;
                table = *names;
                continue;
            }
            const auto names = keys();
            skipSpace(false);
            if (!names || !take('='))
                return std::nullopt;
            skipSpace(false);
            if (!arrayTable && table + *names == path) {
                if (peek() != '"' && peek() != '\'')
                    return std::nullopt;
                return string();
            }
            if (!skipValue(0) || !endOfLine())
                return std::nullopt;
        }
    }

private:
    static constexpr int deepest = 64; // arrays in arrays

    bool atEnd() const { return m_pos >= m_text.size(); }
    char peek(qsizetype ahead = 0) const {
        return m_pos + ahead < m_text.size() ? m_text[m_pos + ahead] : '\0';
    }
    bool take(char c) {
        if (peek() != c || atEnd())
            return false;
        ++m_pos;
        return true;
    }

    // Blanks, and with `lines` also comments and line ends.
    void skipSpace(bool lines) {
        while (!atEnd()) {
            const char c = peek();
            if (c == ' ' || c == '\t' || (lines && (c == '\n' || c == '\r'))) {
                ++m_pos;
            } else if (lines && c == '#') {
                while (!atEnd() && peek() != '\n')
                    ++m_pos;
            } else {
                return;
            }
        }
    }

    // Blanks and a comment up to the end of the line, which is taken.
    bool endOfLine() {
        skipSpace(false);
        if (peek() == '#') {
            while (!atEnd() && peek() != '\n')
                ++m_pos;
        }
        if (atEnd() || take('\n'))
            return true;
        return take('\r') && take('\n');
    }

    std::optional<QStringList> keys() {
        QStringList names;
        for (;;) {
            skipSpace(false);
            const char c = peek();
            if (c == '"' || c == '\'') {
                if (peek(1) == c && peek(2) == c)
                    return std::nullopt; // no multi-line keys
                const auto name = string();
                if (!name)
                    return std::nullopt;
                names.append(*name);
            } else {
                const qsizetype start = m_pos;
                while (!atEnd() && isBareKeyCharacter(peek()))
                    ++m_pos;
                if (m_pos == start)
                    return std::nullopt;
                names.append(QString::fromLatin1(m_text.sliced(start, m_pos - start)));
            }
            skipSpace(false);
            if (!take('.'))
                return names;
        }
    }

    // A basic ("..."), literal ('...') or multi-line ("""...""", '''...''')
    // string starting here.
    std::optional<QString> string() {
        const char quote = peek();
        const bool multiLine = peek(1) == quote && peek(2) == quote;
        m_pos += multiLine ? 3 : 1;
        if (multiLine && !take('\n') && peek() == '\r' && peek(1) == '\n')
            m_pos += 2; // a line end right after the quotes is not part of it
        QByteArray text;
        for (;;) {
            if (atEnd())
                return std::nullopt;
            const char c = peek();
            if (c == quote && (!multiLine || (peek(1) == quote && peek(2) == quote))) {
                m_pos += multiLine ? 3 : 1;
                // Up to two more quotes end the text itself.
                for (int extra = 0; multiLine && extra < 2 && peek() == quote; ++extra, ++m_pos)
                    text.append(quote);
                return QString::fromUtf8(text);
            }
            if (!multiLine && (c == '\n' || c == '\r'))
                return std::nullopt;
            if (quote == '"' && c == '\\') {
                if (!escape(text, multiLine))
                    return std::nullopt;
                continue;
            }
            text.append(c);
            ++m_pos;
        }
    }

    bool escape(QByteArray& text, bool multiLine) {
        const char c = peek(1);
        m_pos += 2;
        switch (c) {
        case 'b':
            text.append('\b');
            return true;
        case 't':
            text.append('\t');
            return true;
        case 'n':
            text.append('\n');
            return true;
        case 'f':
            text.append('\f');
            return true;
        case 'r':
            text.append('\r');
            return true;
        case '"':
            text.append('"');
            return true;
        case '\\':
            text.append('\\');
            return true;
        case 'u':
        case 'U': {
            const qsizetype digits = c == 'u' ? 4 : 8;
            if (m_pos + digits > m_text.size())
                return false;
            const auto code = hexNumber(m_text.sliced(m_pos, digits));
            if (!code || *code > 0x10FFFF || (*code >= 0xD800 && *code <= 0xDFFF))
                return false;
            m_pos += digits;
            const char32_t point = *code;
            text.append(QString::fromUcs4(&point, 1).toUtf8());
            return true;
        }
        case ' ':
        case '\t':
        case '\r':
        case '\n':
            // A backslash ending a line of a multi-line string drops the line
            // end and the white space after it.
            if (!multiLine)
                return false;
            --m_pos;
            skipSpace(true);
            return true;
        default:
            return false;
        }
    }

    bool skipValue(int depth) {
        if (depth > deepest)
            return false;
        const char c = peek();
        if (c == '"' || c == '\'')
            return string().has_value();
        if (take('[')) {
            for (;;) {
                skipSpace(true);
                if (take(']'))
                    return true;
                if (!skipValue(depth + 1))
                    return false;
                skipSpace(true);
                if (take(']'))
                    return true;
                if (!take(','))
                    return false;
            }
        }
        if (take('{')) {
            for (;;) {
                skipSpace(false);
                if (take('}'))
                    return true;
                if (!keys())
                    return false;
                skipSpace(false);
                if (!take('='))
                    return false;
                skipSpace(false);
                if (!skipValue(depth + 1))
                    return false;
                skipSpace(false);
                if (take('}'))
                    return true;
                if (!take(','))
                    return false;
            }
        }
        // A number, a boolean or a date: everything up to what ends a value.
        const qsizetype start = m_pos;
        while (!atEnd() && !endsValue(peek()))
            ++m_pos;
        return m_pos > start;
    }

    QByteArrayView m_text;
    qsizetype m_pos = 0;
};

} // namespace

std::optional<QString> tomlString(QByteArrayView text, const QStringList& path) {
    return TomlReader(text).find(path);
}

QString manifestName(const QString& fileName, QByteArrayView text) {
    QString name;
    if (fileName == QLatin1String("package.json") || fileName == QLatin1String("composer.json")) {
        name = jsonName(text);
    } else if (fileName == QLatin1String("pyproject.toml")) {
        name = tomlString(text, {QStringLiteral("project"), QStringLiteral("name")})
                   .value_or(QString());
        if (name.isEmpty())
            name = tomlString(text, {QStringLiteral("tool"), QStringLiteral("poetry"),
                                     QStringLiteral("name")})
                       .value_or(QString());
    } else if (fileName == QLatin1String("Cargo.toml")) {
        name = tomlString(text, {QStringLiteral("package"), QStringLiteral("name")})
                   .value_or(QString());
    } else if (fileName == QLatin1String("go.mod")) {
        name = goModuleName(text);
    }
    return usableName(name);
}
