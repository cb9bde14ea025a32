#include "app/command_line_output.h"

#include "scanner/display_text.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>
#include <array>
#include <cwchar>

namespace {

int cellsOf(char32_t c) {
    const int cells = ::wcwidth(static_cast<wchar_t>(c));
    return cells < 0 ? 1 : cells;
}

QString cell(const std::optional<QString>& text) {
    return text ? displayName(*text) : QStringLiteral("-");
}

QString isoUtc(const QDateTime& time) {
    return time.toUTC().toString(Qt::ISODate);
}

} // namespace

int displayWidth(QStringView text) {
    int width = 0;
    for (const char32_t c : text.toUcs4())
        width += cellsOf(c);
    return width;
}

QString elide(const QString& text, int width) {
    if (displayWidth(text) <= width)
        return text;
    if (width <= 0)
        return {};
    QString kept;
    int used = 0;
    for (const char32_t c : text.toUcs4()) {
        if (used + cellsOf(c) > width - 1)
            break;
        used += cellsOf(c);
        kept.append(QString::fromUcs4(&c, 1));
    }
    return kept + QChar(0x2026);
}

QString commandText(const QStringList& arguments) {
    static const QString plain = QStringLiteral("_-./:=@%+,");
    QStringList words;
    words.reserve(arguments.size());
    for (const QString& argument : arguments) {
        const bool safe =
            !argument.isEmpty() && std::all_of(argument.begin(), argument.end(), [](QChar c) {
                return c.isLetterOrNumber() || plain.contains(c);
            });
        if (safe) {
            words.append(argument);
        } else {
            QString quoted = argument;
            quoted.replace(QLatin1Char('\''), QLatin1String("'\\''"));
            words.append(QLatin1Char('\'') + quoted + QLatin1Char('\''));
        }
    }
    return words.join(QLatin1Char(' '));
}

QString serverTable(const QList<ServerRow>& rows, int terminalWidth) {
    constexpr int columns = 6;
    using Line = std::array<QString, columns>;
    QList<Line> lines;
    lines.reserve(rows.size() + 1);
    lines.append({QStringLiteral("PORT"), QStringLiteral("PID"), QStringLiteral("NAME"),
                  QStringLiteral("PROJECT"), QStringLiteral("URL"), QStringLiteral("COMMAND")});
    for (const ServerRow& row : rows) {
        lines.append({QString::number(row.port), QString::number(row.pid), displayName(row.process),
                      cell(row.project), displayName(row.url),
                      cell(row.command ? std::optional(commandText(*row.command)) : std::nullopt)});
    }

    std::array<int, columns> widths{};
    for (const Line& line : std::as_const(lines)) {
        for (int i = 0; i < columns - 1; ++i)
            widths[i] = std::max(widths[i], displayWidth(line[i]));
    }
    constexpr int gap = 2;
    int commandColumn = 0;
    for (int i = 0; i < columns - 1; ++i)
        commandColumn += widths[i] + gap;
    // Past the terminal's edge the line wraps anyway; keep a readable stub.
    constexpr int shortestCommand = 10;
    const int commandWidth =
        terminalWidth > 0 ? std::max(terminalWidth - commandColumn, shortestCommand) : 0;

    QString text;
    for (const Line& line : std::as_const(lines)) {
        for (int i = 0; i < columns - 1; ++i) {
            text += line[i];
            text += QString(widths[i] - displayWidth(line[i]) + gap, QLatin1Char(' '));
        }
        text += commandWidth > 0 ? elide(line[columns - 1], commandWidth) : line[columns - 1];
        text += QLatin1Char('\n');
    }
    return text;
}

QJsonObject serverJson(const ServerRow& row) {
    QJsonObject object;
    object.insert(QStringLiteral("port"), row.port);
    object.insert(QStringLiteral("pid"), row.pid);
    object.insert(QStringLiteral("process"), row.process);
    object.insert(QStringLiteral("url"), row.url);
    object.insert(QStringLiteral("address"), row.address);
    object.insert(QStringLiteral("project"), row.project ? QJsonValue(*row.project) : QJsonValue());
    object.insert(QStringLiteral("folder"), row.folder ? QJsonValue(*row.folder) : QJsonValue());
    object.insert(QStringLiteral("command"),
                  row.command ? QJsonValue(QJsonArray::fromStringList(*row.command))
                              : QJsonValue());
    object.insert(QStringLiteral("started"),
                  row.started ? QJsonValue(isoUtc(*row.started)) : QJsonValue());
    return object;
}

QByteArray serverListJson(const QList<ServerRow>& rows) {
    QJsonArray array;
    for (const ServerRow& row : rows)
        array.append(serverJson(row));
    if (array.isEmpty())
        return "[]\n";
    return QJsonDocument(array).toJson(QJsonDocument::Indented);
}

QByteArray watchLine(ServerEvent event, const ListeningPort& server, bool json,
                     const QDateTime& seenAt) {
    const QString word =
        event == ServerEvent::Started ? QStringLiteral("started") : QStringLiteral("stopped");
    if (json) {
        const QJsonObject object{{QStringLiteral("event"), word},
                                 {QStringLiteral("port"), server.port},
                                 {QStringLiteral("pid"), server.pid},
                                 {QStringLiteral("process"), server.process},
                                 {QStringLiteral("time"), isoUtc(seenAt)}};
        return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
    }
    return QStringLiteral("%1 %2 %3 %4\n")
        .arg(word, QString::number(server.port), QString::number(server.pid),
             displayName(server.process))
        .toUtf8();
}
