#include "sources/containers/engine_events.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

#include <optional>

namespace {

std::optional<ContainerChange> changeOf(const QString& action) {
    if (action == QLatin1String("start"))
        return ContainerChange::Started;
    if (action == QLatin1String("die") || action == QLatin1String("died") ||
        action == QLatin1String("stop") || action == QLatin1String("destroy") ||
        action == QLatin1String("remove"))
        return ContainerChange::Ended;
    if (action == QLatin1String("kill"))
        return ContainerChange::Signalled;
    return std::nullopt;
}

// One line of the stream into `read`.
void readLine(QByteArrayView line, EventsRead& read) {
    if (line.trimmed().isEmpty())
        return;
    QJsonParseError error;
    const QJsonDocument document =
        QJsonDocument::fromJson(QByteArray::fromRawData(line.data(), line.size()), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        read.unreadable = true;
        return;
    }
    const QJsonObject object = document.object();
    const QString type = object.value(QLatin1String("Type")).toString();
    if (!type.isEmpty() && type != QLatin1String("container"))
        return;
    QString action = object.value(QLatin1String("Action")).toString();
    if (action.isEmpty())
        action = object.value(QLatin1String("status")).toString();
    const auto change = changeOf(action);
    if (!change)
        return;
    QString id = object.value(QLatin1String("id")).toString();
    if (id.isEmpty())
        id = object.value(QLatin1String("Actor")).toObject().value(QLatin1String("ID")).toString();
    read.events.append({*change, id});
}

} // namespace

EventsRead readEvents(EventStream& stream, QByteArrayView chunk) {
    EventsRead read;
    while (!chunk.isEmpty()) {
        const qsizetype end = chunk.indexOf('\n');
        const QByteArrayView piece = end < 0 ? chunk : chunk.first(end);
        chunk = end < 0 ? QByteArrayView() : chunk.sliced(end + 1);
        if (!stream.skipping && stream.pending.size() + piece.size() > kMaxEventLine) {
            stream.pending.clear();
            stream.skipping = true;
            read.unreadable = true;
        }
        if (stream.skipping) {
            if (end >= 0)
                stream.skipping = false;
            continue;
        }
        if (end < 0) {
            stream.pending.append(piece);
            break;
        }
        if (stream.pending.isEmpty()) {
            readLine(piece, read);
        } else {
            stream.pending.append(piece);
            readLine(stream.pending, read);
            stream.pending.clear();
        }
    }
    return read;
}
