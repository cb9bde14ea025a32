#include "sources/containers/engine_api.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QUrl>

#include <algorithm>

namespace {

// The context of this file's texts for translation.
struct ContainerEngine {
    Q_DECLARE_TR_FUNCTIONS(ContainerEngine)
};

// The first of a container's names: "/shop-web-1" -> "shop-web-1". A linked
// container's alias ("/other/alias") is passed over for its own name.
QString containerName(const QJsonArray& names) {
    QString first;
    for (const QJsonValue& value : names) {
        QString name = value.toString();
        if (name.startsWith(QLatin1Char('/')))
            name.remove(0, 1);
        if (name.isEmpty())
            continue;
        if (!name.contains(QLatin1Char('/')))
            return name;
        if (first.isEmpty())
            first = name;
    }
    return first;
}

// "1.41" -> 41; 0 for anything else.
int apiMinor(const QString& text) {
    if (!text.startsWith(QLatin1String("1.")))
        return 0;
    bool ok = false;
    const int minor = text.mid(2).toInt(&ok);
    return ok && minor > 0 && minor < 1000 ? minor : 0;
}

// IPv4 first, then any address, then IPv6.
int addressRank(const QString& address) {
    if (address == QLatin1String("*"))
        return 1;
    return address.contains(QLatin1Char(':')) ? 2 : 0;
}

} // namespace

ContainerList readContainerList(QByteArrayView json) {
    QJsonParseError parseError;
    const QJsonDocument document =
        QJsonDocument::fromJson(QByteArray::fromRawData(json.data(), json.size()), &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return {{}, ContainerEngine::tr("the engine's container list is not valid JSON")};
    if (!document.isArray())
        return {{}, ContainerEngine::tr("the engine's container list is not a list")};

    ContainerList list;
    for (const QJsonValue& entry : document.array()) {
        const QJsonObject object = entry.toObject();
        ContainerInfo container;
        container.id = object.value(QLatin1String("Id")).toString();
        if (container.id.isEmpty())
            continue;
        container.name = containerName(object.value(QLatin1String("Names")).toArray());
        if (container.name.isEmpty())
            container.name = container.id.left(12);
        container.image = object.value(QLatin1String("Image")).toString();
        container.command = object.value(QLatin1String("Command")).toString();
        container.state = object.value(QLatin1String("State")).toString();
        // The list holds running containers only unless all=true is asked
        // for; an engine that lists others anyway is not followed.
        if (!container.state.isEmpty() && container.state != QLatin1String("running"))
            continue;
        const QJsonObject labels = object.value(QLatin1String("Labels")).toObject();
        container.project = labels.value(QLatin1String("com.docker.compose.project")).toString();
        container.service = labels.value(QLatin1String("com.docker.compose.service")).toString();
        container.workingDir =
            labels.value(QLatin1String("com.docker.compose.project.working_dir")).toString();
        for (const QJsonValue& value : object.value(QLatin1String("Ports")).toArray()) {
            const QJsonObject port = value.toObject();
            PortBinding binding;
            binding.ip = port.value(QLatin1String("IP")).toString();
            binding.publicPort = port.value(QLatin1String("PublicPort")).toInteger();
            binding.privatePort = port.value(QLatin1String("PrivatePort")).toInteger();
            binding.type = port.value(QLatin1String("Type")).toString();
            container.ports.append(std::move(binding));
        }
        list.containers.append(std::move(container));
    }
    return list;
}

QList<PublishedPort> publishedPorts(const QList<ContainerInfo>& containers) {
    QList<PublishedPort> ports;
    for (qsizetype i = 0; i < containers.size(); ++i) {
        const ContainerInfo& container = containers[i];
        for (const PortBinding& binding : container.ports) {
            if (binding.type.compare(QLatin1String("tcp"), Qt::CaseInsensitive) != 0 ||
                binding.publicPort <= 0 || binding.publicPort > 65535)
                continue;
            PublishedPort port;
            port.record.port = binding.publicPort;
            port.record.pid = 0;
            port.record.process = container.name;
            port.record.address = binding.ip.isEmpty() ? QStringLiteral("*") : binding.ip;
            port.record.origin = SourceId::of(SourceId::Kind::Containers);
            port.record.anyProcess = true;
            port.container = i;
            ports.append(std::move(port));
        }
    }
    std::stable_sort(ports.begin(), ports.end(),
                     [](const PublishedPort& a, const PublishedPort& b) {
                         if (a.record.port != b.record.port)
                             return a.record.port < b.record.port;
                         const int rankA = addressRank(a.record.address);
                         const int rankB = addressRank(b.record.address);
                         if (rankA != rankB)
                             return rankA < rankB;
                         if (a.record.address != b.record.address)
                             return a.record.address < b.record.address;
                         return a.container < b.container;
                     });
    const auto end = std::unique(ports.begin(), ports.end(), [](const auto& a, const auto& b) {
        return a.record.port == b.record.port;
    });
    ports.erase(end, ports.end());
    return ports;
}

EngineVersion readEngineVersion(QByteArrayView json) {
    QJsonParseError parseError;
    const QJsonDocument document =
        QJsonDocument::fromJson(QByteArray::fromRawData(json.data(), json.size()), &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject())
        return {{}, {}, 0, 0, ContainerEngine::tr("the engine's version reply is not valid JSON")};
    const QJsonObject object = document.object();
    EngineVersion engine;
    engine.product = QStringLiteral("Docker");
    for (const QJsonValue& component : object.value(QLatin1String("Components")).toArray()) {
        if (component.toObject()
                .value(QLatin1String("Name"))
                .toString()
                .contains(QLatin1String("Podman"), Qt::CaseInsensitive))
            engine.product = QStringLiteral("Podman");
    }
    engine.version = object.value(QLatin1String("Version")).toString();
    engine.api = apiMinor(object.value(QLatin1String("ApiVersion")).toString());
    engine.minApi = apiMinor(object.value(QLatin1String("MinAPIVersion")).toString());
    if (engine.api == 0)
        engine.error = ContainerEngine::tr("the engine does not name its API version");
    return engine;
}

QByteArray apiPrefix(const EngineVersion& engine, QString* error) {
    int chosen = kPreferredApi;
    if (engine.api < chosen)
        chosen = engine.api;
    if (engine.minApi > chosen)
        chosen = engine.minApi;
    if (chosen < kOldestUsableApi || (engine.api > 0 && chosen > engine.api)) {
        if (error) {
            *error = ContainerEngine::tr(
                         "its API version 1.%1 is older than 1.%2, the oldest this program reads")
                         .arg(engine.api)
                         .arg(kOldestUsableApi);
        }
        return {};
    }
    return "/v1." + QByteArray::number(chosen);
}

QByteArray eventsTarget(QByteArrayView prefix) {
    static const QByteArray filters =
        QUrl::toPercentEncoding(QStringLiteral(R"({"type":["container"]})"));
    return prefix.toByteArray() + "/events?filters=" + filters;
}

std::optional<bool> readRunning(QByteArrayView json) {
    const QJsonDocument document =
        QJsonDocument::fromJson(QByteArray::fromRawData(json.data(), json.size()));
    const QJsonValue running =
        document.object().value(QLatin1String("State")).toObject().value(QLatin1String("Running"));
    if (!running.isBool())
        return std::nullopt;
    return running.toBool();
}

QStringList readCommand(QByteArrayView json) {
    const QJsonObject object =
        QJsonDocument::fromJson(QByteArray::fromRawData(json.data(), json.size())).object();
    const QString path = object.value(QLatin1String("Path")).toString();
    if (path.isEmpty())
        return {};
    QStringList command{path};
    for (const QJsonValue& argument : object.value(QLatin1String("Args")).toArray())
        command.append(argument.toString());
    return command;
}

QString engineMessage(QByteArrayView body) {
    const QByteArray bytes = QByteArray::fromRawData(body.data(), body.size());
    QString text =
        QJsonDocument::fromJson(bytes).object().value(QLatin1String("message")).toString();
    if (text.isEmpty())
        text = QString::fromUtf8(bytes);
    text = text.simplified();
    constexpr qsizetype limit = 200;
    if (text.size() > limit)
        text = text.left(limit - 1) + QChar(0x2026);
    return text;
}

bool isSafeContainerId(QStringView id) {
    if (id.isEmpty() || id.size() > 128)
        return false;
    return std::all_of(id.begin(), id.end(), [](QChar c) {
        return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
               c == u'_' || c == u'.' || c == u'-';
    });
}
