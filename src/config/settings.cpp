#include "config/settings.h"

#include <QJsonArray>

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

} // namespace

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

const QList<const KeyBase*>& keys() {
    static const QList<const KeyBase*> all{&minPort, &maxPort, &allowlist, &lister};
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
    return {minPort.read(stored), maxPort.read(stored), allowlist.read(stored),
            lister.read(stored)};
}

} // namespace settings
