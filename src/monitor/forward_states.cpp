#include "monitor/forward_states.h"

#include "core/presentation.h"
#include "system/procfs.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <algorithm>

namespace {

// The file is the program's own and small; a larger one is not read.
constexpr qint64 largestFile = 1024 * 1024;

std::optional<ForwardState> stateNamed(const QString& name) {
    for (const ForwardState state :
         {ForwardState::Ok, ForwardState::NoServer, ForwardState::Reconnecting}) {
        if (forwardStateName(state) == name)
            return state;
    }
    return std::nullopt;
}

} // namespace

QByteArray forwardStatesText(const ForwardStates& states, qint64 pid, quint64 startTime) {
    QList<std::pair<ForwardPlace, PortForward>> sorted;
    for (auto it = states.cbegin(); it != states.cend(); ++it) {
        if (it->state != ForwardState::Checking)
            sorted.append({it.key(), it.value()});
    }
    std::sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) {
        return std::tie(a.first.host, a.first.port) < std::tie(b.first.host, b.first.port);
    });
    QJsonArray forwards;
    for (const auto& [place, forward] : std::as_const(sorted)) {
        forwards.append(QJsonObject{{QStringLiteral("host"), place.host},
                                    {QStringLiteral("port"), place.port},
                                    {QStringLiteral("local"), forward.localPort},
                                    {QStringLiteral("state"), forwardStateName(forward.state)}});
    }
    return QJsonDocument(QJsonObject{{QStringLiteral("pid"), pid},
                                     {QStringLiteral("started"), QString::number(startTime)},
                                     {QStringLiteral("forwards"), forwards}})
        .toJson(QJsonDocument::Compact);
}

std::optional<ForwardStates> readForwardStates(const QByteArray& text,
                                               const std::function<bool(qint64, quint64)>& alive) {
    const QJsonObject object = QJsonDocument::fromJson(text).object();
    const qint64 pid = object.value(QStringLiteral("pid")).toInteger();
    bool startKnown = false;
    const quint64 started =
        object.value(QStringLiteral("started")).toString().toULongLong(&startKnown);
    if (pid <= 0 || !startKnown || !alive(pid, started))
        return std::nullopt;
    ForwardStates states;
    for (const QJsonValue& entry : object.value(QStringLiteral("forwards")).toArray()) {
        const QJsonObject forward = entry.toObject();
        const QString host = forward.value(QStringLiteral("host")).toString();
        const qint64 port = forward.value(QStringLiteral("port")).toInteger();
        const qint64 local = forward.value(QStringLiteral("local")).toInteger();
        const auto state = stateNamed(forward.value(QStringLiteral("state")).toString());
        if (host.isEmpty() || port <= 0 || port > 65535 || local <= 0 || local > 65535 || !state)
            continue;
        states.insert({host, port}, PortForward{port, local, *state, 0});
    }
    return states;
}

bool writeForwardStates(const QString& path, const ForwardStates& states) {
    if (states.isEmpty())
        return !QFile::exists(path) || QFile::remove(path);
    const qint64 pid = QCoreApplication::applicationPid();
    QSaveFile file(path);
    const QByteArray text = forwardStatesText(states, pid, ProcFs().startTime(pid).value_or(0));
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size() && file.commit();
}

ForwardStates readForwardStatesFile(const QString& path) {
    // Only a regular file is opened: nothing in its place can block the call.
    QFile file(path);
    if (path.isEmpty() || !QFileInfo(path).isFile() || QFileInfo(path).isSymLink() ||
        !file.open(QIODevice::ReadOnly) || file.size() > largestFile)
        return {};
    const ProcFs proc;
    return readForwardStates(
               file.read(largestFile),
               [&proc](qint64 pid, quint64 started) { return proc.startTime(pid) == started; })
        .value_or(ForwardStates{});
}
