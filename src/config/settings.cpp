#include "config/settings.h"

#include "core/integers.h"

#include <QJsonArray>

#include <algorithm>

namespace settings {

namespace {

bool isWholeNumber(const QJsonValue& value) {
    // toInteger() takes whole numbers that fit 64 bits, also when written as
    // 4000.0; anything else gives the fallback.
    return value.toInteger(1) == value.toInteger(2);
}

// A whole number; one of 0 or less means the default.
std::function<std::optional<qint64>(const QJsonValue&)> bound(qint64 fallback) {
    return [fallback](const QJsonValue& value) -> std::optional<qint64> {
        if (!isWholeNumber(value))
            return std::nullopt;
        const qint64 port = value.toInteger();
        return port > 0 ? port : fallback;
    };
}

QJsonValue integer(const qint64& value) {
    return QJsonValue(value);
}

std::optional<QSet<QString>> names(const QJsonValue& value) {
    if (!value.isArray())
        return std::nullopt;
    const QJsonArray array = value.toArray();
    QSet<QString> out;
    out.reserve(array.size());
    for (const QJsonValue& name : array) {
        if (!name.isString())
            return std::nullopt; // one foreign element rejects the whole list
        out.insert(name.toString());
    }
    return out;
}

QJsonValue nameArray(const QSet<QString>& names) {
    QJsonArray array;
    for (const QString& name : names)
        array.append(name);
    return array;
}

std::optional<QString> listerName(const QJsonValue& value) {
    if (value == procLister || value == lsofLister)
        return value.toString();
    return std::nullopt;
}

std::optional<bool> flag(const QJsonValue& value) {
    if (!value.isBool())
        return std::nullopt;
    return value.toBool();
}

// Destinations in their order, each once; one that is not a destination
// (see isSshDestination) rejects the list.
std::optional<QStringList> destinations(const QJsonValue& value) {
    if (!value.isArray())
        return std::nullopt;
    QStringList out;
    for (const QJsonValue& entry : value.toArray()) {
        const QString text = entry.toString().trimmed();
        if (!entry.isString() || !isSshDestination(text))
            return std::nullopt;
        if (!out.contains(text))
            out.append(text);
    }
    return out;
}

const QString labelField = QStringLiteral("label");
const QString protocolField = QStringLiteral("protocol");
const QString notifyField = QStringLiteral("notify");

// A port key as the program writes it: no sign, no leading zero.
std::optional<qint64> portNumber(const QString& text) {
    const auto port = parsePort(text);
    if (!port || QString::number(*port) != text)
        return std::nullopt;
    return port;
}

// Reads every entry of a "ports" object it can; names what it cannot.
PortChoices readPortChoices(const QJsonObject& object, QStringList* ignored) {
    PortChoices choices;
    const auto ignore = [ignored](const QString& part) {
        if (ignored)
            ignored->append(QStringLiteral("ports.") + part);
    };
    for (auto it = object.begin(); it != object.end(); ++it) {
        const auto port = portNumber(it.key());
        if (!port || !it.value().isObject()) {
            ignore(it.key());
            continue;
        }
        PortChoice choice;
        const QJsonObject entry = it.value().toObject();
        for (auto field = entry.begin(); field != entry.end(); ++field) {
            const QJsonValue value = field.value();
            if (field.key() == labelField && value.isString())
                choice.label = value.toString().trimmed();
            else if (field.key() == protocolField &&
                     (value == QStringLiteral("https") || value == QStringLiteral("http")))
                choice.https = value == QStringLiteral("https");
            else if (field.key() == notifyField && value.isBool())
                choice.notify = value.toBool();
            else
                ignore(it.key() + QLatin1Char('.') + field.key());
        }
        if (!choice.isEmpty())
            choices.insert(*port, choice);
    }
    return choices;
}

std::optional<PortChoices> portChoices(const QJsonValue& value) {
    if (!value.isObject())
        return std::nullopt;
    return readPortChoices(value.toObject(), nullptr);
}

QJsonValue portChoicesObject(const PortChoices& choices) {
    QJsonObject object;
    for (auto it = choices.begin(); it != choices.end(); ++it)
        object = withPortChoice(object, it.key(), it.value());
    return object;
}

} // namespace

bool isSshDestination(QStringView text) {
    return !text.isEmpty() && !text.startsWith(u'-') &&
           std::none_of(text.begin(), text.end(), [](QChar c) {
               return c.isSpace() || c.category() == QChar::Other_Control;
           });
}

QStringList PortChoicesKey::ignoredParts(const QJsonValue& stored) const {
    QStringList ignored;
    if (stored.isObject())
        readPortChoices(stored.toObject(), &ignored);
    return ignored;
}

QJsonObject withPortChoice(QJsonObject stored, qint64 port, const PortChoice& choice) {
    const QString key = QString::number(port);
    QJsonObject entry = stored.value(key).toObject();
    if (choice.label.isEmpty())
        entry.remove(labelField);
    else
        entry.insert(labelField, choice.label);
    if (choice.https)
        entry.insert(protocolField,
                     *choice.https ? QStringLiteral("https") : QStringLiteral("http"));
    else
        entry.remove(protocolField);
    if (choice.notify)
        entry.remove(notifyField);
    else
        entry.insert(notifyField, false);
    if (entry.isEmpty())
        stored.remove(key);
    else
        stored.insert(key, entry);
    return stored;
}

const QSet<QString>& defaultAllowlist() {
    static const QSet<QString> names = {
        QStringLiteral("node"),         QStringLiteral("npm"),          QStringLiteral("npx"),
        QStringLiteral("deno"),         QStringLiteral("bun"),          QStringLiteral("Python"),
        QStringLiteral("python"),       QStringLiteral("python3"),      QStringLiteral("uvicorn"),
        QStringLiteral("gunicorn"),     QStringLiteral("flask"),        QStringLiteral("django"),
        QStringLiteral("ruby"),         QStringLiteral("rails"),        QStringLiteral("puma"),
        QStringLiteral("unicorn"),      QStringLiteral("php"),          QStringLiteral("php-fpm"),
        QStringLiteral("java"),         QStringLiteral("gradle"),       QStringLiteral("mvn"),
        QStringLiteral("go"),           QStringLiteral("air"),          QStringLiteral("cargo"),
        QStringLiteral("rustc"),        QStringLiteral("dotnet"),       QStringLiteral("beam.smp"),
        QStringLiteral("elixir"),       QStringLiteral("mix"),          QStringLiteral("nginx"),
        QStringLiteral("httpd"),        QStringLiteral("apache"),       QStringLiteral("postgres"),
        QStringLiteral("mysql"),        QStringLiteral("redis-server"), QStringLiteral("mongod"),
        QStringLiteral("docker-proxy"),
    };
    return names;
}

const Key<qint64> minPort{QStringLiteral("minPort"), true, defaultMinPort, bound(defaultMinPort),
                          integer};
const Key<qint64> maxPort{QStringLiteral("maxPort"), true, defaultMaxPort, bound(defaultMaxPort),
                          integer};
const Key<QSet<QString>> allowlist{QStringLiteral("allowlist"), true, defaultAllowlist(), names,
                                   nameArray};
const Key<QString> lister{QStringLiteral("lister"), true, procLister, listerName,
                          [](const QString& name) { return QJsonValue(name); }};

// Labels, protocols and notifications change how servers are shown and
// told, not which are listed.
const PortChoicesKey ports{QStringLiteral("ports"), false, {}, portChoices, portChoicesObject};
const Key<QSet<QString>> quietProcesses{
    QStringLiteral("quietProcesses"), false, {}, names, nameArray};
const Key<bool> containers{QStringLiteral("containers"), true, true, flag,
                           [](const bool& on) { return QJsonValue(on); }};

// Looking is how servers are told, not which are listed.
const Key<bool> probe{QStringLiteral("probe"), false, true, flag,
                      [](const bool& on) { return QJsonValue(on); }};

const Key<QStringList> hosts{
    QStringLiteral("hosts"), true, {}, destinations, [](const QStringList& list) {
        return QJsonValue(QJsonArray::fromStringList(list));
    }};

// A window's place on the screen: four whole numbers, a size of at least 1 x 1.
const Key<QRect> serversWindow{
    QStringLiteral("serversWindow"), false, QRect(),
    [](const QJsonValue& value) -> std::optional<QRect> {
        const QJsonObject object = value.toObject();
        qint64 field[4] = {};
        const char* names[4] = {"x", "y", "width", "height"};
        for (int i = 0; i < 4; ++i) {
            const QJsonValue part = object.value(QLatin1String(names[i]));
            if (!isWholeNumber(part) || qAbs(part.toInteger()) > 1'000'000)
                return std::nullopt;
            field[i] = part.toInteger();
        }
        if (!value.isObject() || field[2] < 1 || field[3] < 1)
            return std::nullopt;
        return QRect(int(field[0]), int(field[1]), int(field[2]), int(field[3]));
    },
    [](const QRect& place) {
        return QJsonValue(QJsonObject{{QStringLiteral("x"), place.x()},
                                      {QStringLiteral("y"), place.y()},
                                      {QStringLiteral("width"), place.width()},
                                      {QStringLiteral("height"), place.height()}});
    }};

namespace {

// A port from 1 to 65535, as a whole number.
std::optional<qint64> portIn(const QJsonValue& value) {
    if (!isWholeNumber(value) || value.toInteger() < 1 || value.toInteger() > 65535)
        return std::nullopt;
    return value.toInteger();
}

std::optional<QString> destination(const QJsonValue& value) {
    const QString text = value.toString().trimmed();
    if (!value.isString() || !isSshDestination(text))
        return std::nullopt;
    return text;
}

std::optional<StoredForward> storedForward(const QJsonValue& value) {
    const QJsonObject object = value.toObject();
    const auto host = destination(object.value(QStringLiteral("host")));
    const auto port = portIn(object.value(QStringLiteral("port")));
    const QJsonValue localValue = object.value(QStringLiteral("local"));
    const auto local = localValue.isUndefined() ? port : portIn(localValue);
    if (!value.isObject() || !host || !port || !local)
        return std::nullopt;
    return StoredForward{*host, *port, *local};
}

} // namespace

// Forwards and the hosts to forward from change how servers are reached,
// not which are listed.
const EntriesKey<StoredForward> forwards{QStringLiteral("forwards"), false, storedForward,
                                         [](const StoredForward& a, const StoredForward& b) {
                                             return a.host == b.host && a.port == b.port;
                                         },
                                         [](const StoredForward& f) {
                                             return QJsonValue(
                                                 QJsonObject{{QStringLiteral("host"), f.host},
                                                             {QStringLiteral("port"), f.port},
                                                             {QStringLiteral("local"), f.local}});
                                         }};
const Key<bool> restoreForwards{QStringLiteral("restoreForwards"), false, true, flag,
                                [](const bool& on) { return QJsonValue(on); }};
const EntriesKey<QString> autoForward{QStringLiteral("autoForward"), false, destination,
                                      [](const QString& a, const QString& b) { return a == b; },
                                      [](const QString& host) { return QJsonValue(host); }};

const QList<const KeyBase*>& keys() {
    static const QList<const KeyBase*> all{
        &minPort,        &maxPort,         &allowlist,  &lister, &ports,
        &quietProcesses, &containers,      &hosts,      &probe,  &serversWindow,
        &forwards,       &restoreForwards, &autoForward};
    return all;
}

const KeyBase* find(const QString& name) {
    for (const KeyBase* key : keys()) {
        if (key->name == name)
            return key;
    }
    return nullptr;
}

Values read(const QJsonObject& stored) {
    return {minPort.read(stored),       maxPort.read(stored),  allowlist.read(stored),
            lister.read(stored),        ports.read(stored),    quietProcesses.read(stored),
            containers.read(stored),    hosts.read(stored),    probe.read(stored),
            serversWindow.read(stored), forwards.read(stored), restoreForwards.read(stored),
            autoForward.read(stored)};
}

} // namespace settings
