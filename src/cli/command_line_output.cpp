#include "cli/command_line_output.h"

#include "core/display_text.h"
#include "core/presentation.h"
#include "core/server_details.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>
#include <array>

namespace {

QString cell(const std::optional<QString>& text) {
    return text ? displayName(*text) : QStringLiteral("-");
}

QString isoUtc(const QDateTime& time) {
    return time.toUTC().toString(Qt::ISODate);
}

// The widest the table's columns of names may be, in terminal cells: a name
// or a host of any length leaves the other rows as narrow as their own values.
constexpr int nameCells = 32;
constexpr int portCells = 32;
constexpr int frameworkCells = 20;
constexpr int projectCells = 24;
constexpr int urlCells = 48;
constexpr int titleCells = 32;

QString portCell(const QString& host, qint64 port) {
    if (host.isEmpty())
        return QString::number(port);
    const QString number = QLatin1Char(':') + QString::number(port);
    return elideMiddleCells(displayName(host), portCells - int(number.size())) + number;
}

} // namespace

QString serverTable(const QList<ServerRow>& rows, int terminalWidth) {
    constexpr int columns = 8;
    using Line = std::array<QString, columns>;
    QList<Line> lines;
    lines.reserve(rows.size() + 1);
    lines.append({QStringLiteral("PORT"), QStringLiteral("PID"), QStringLiteral("NAME"),
                  QStringLiteral("FRAMEWORK"), QStringLiteral("PROJECT"), QStringLiteral("URL"),
                  QStringLiteral("TITLE"), QStringLiteral("COMMAND")});
    for (const ServerRow& row : rows) {
        lines.append(
            {portCell(row.host, row.port), QString::number(row.pid),
             elideMiddleCells(displayName(row.process), nameCells),
             elideEnd(cell(row.framework), frameworkCells),
             elideMiddleCells(cell(row.project), projectCells),
             elideMiddleCells(displayName(row.url), urlCells),
             elideEnd(cell(row.title), titleCells),
             cell(row.command ? std::optional(shellCommandText(*row.command)) : std::nullopt)});
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
        text += commandWidth > 0 ? elideEnd(line[columns - 1], commandWidth) : line[columns - 1];
        text += QLatin1Char('\n');
    }
    return text;
}

QJsonObject serverJson(const ServerRow& row) {
    QJsonObject object;
    object.insert(QStringLiteral("host"), row.host.isEmpty() ? QJsonValue() : QJsonValue(row.host));
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
    object.insert(QStringLiteral("framework"),
                  row.framework ? QJsonValue(*row.framework) : QJsonValue());
    QJsonValue container;
    if (const std::optional<ContainerFacts>& facts = row.container) {
        container = QJsonObject{{QStringLiteral("id"), facts->id},
                                {QStringLiteral("name"), facts->name},
                                {QStringLiteral("image"), facts->image},
                                {QStringLiteral("project"), facts->project},
                                {QStringLiteral("service"), facts->service}};
    }
    object.insert(QStringLiteral("container"), container);
    QJsonValue probe;
    if (const std::optional<PortAnswer>& answer = row.probe) {
        const auto orNull = [](bool known, const QJsonValue& value) {
            return known ? value : QJsonValue();
        };
        probe =
            QJsonObject{{QStringLiteral("state"), kindName(answer->kind)},
                        {QStringLiteral("status"), orNull(answer->status > 0, answer->status)},
                        {QStringLiteral("title"), orNull(!answer->title.isEmpty(), answer->title)}};
    }
    object.insert(QStringLiteral("probe"), probe);
    QJsonValue forward;
    if (row.forward && row.forward->state != ForwardState::Checking)
        forward = QJsonObject{{QStringLiteral("local"), row.forward->localPort},
                              {QStringLiteral("state"), forwardStateName(row.forward->state)}};
    object.insert(QStringLiteral("forward"), forward);
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
        QJsonObject object{{QStringLiteral("event"), word},
                           {QStringLiteral("port"), server.port},
                           {QStringLiteral("pid"), server.pid},
                           {QStringLiteral("process"), server.process},
                           {QStringLiteral("time"), isoUtc(seenAt)}};
        if (!server.host.isEmpty())
            object.insert(QStringLiteral("host"), server.host);
        return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
    }
    return QStringLiteral("%1 %2 %3 %4\n")
        .arg(word, portCell(server.host, server.port), QString::number(server.pid),
             displayName(server.process))
        .toUtf8();
}

QByteArray problemEventLine(const SourceId& source, const std::optional<QString>& text,
                            const QDateTime& seenAt) {
    QJsonObject object{{QStringLiteral("event"),
                        text ? QStringLiteral("problem") : QStringLiteral("problem-ended")},
                       {QStringLiteral("source"), source.text()},
                       {QStringLiteral("time"), isoUtc(seenAt)}};
    if (text)
        object.insert(QStringLiteral("text"), *text);
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

QByteArray forwardStateLine(const PortForward& forward) {
    const QString state = forwardStateName(forward.state);
    if (state.isEmpty())
        return {};
    return QStringLiteral("forward %1 -> localhost:%2 %3\n")
        .arg(QString::number(forward.remotePort), QString::number(forward.localPort), state)
        .toUtf8();
}
