#include "platform/settings.h"

#include "scanner/port_scanner.h"

#include <QJsonArray>

#include <optional>

namespace settings {

namespace {

bool isWholeNumber(const QJsonValue& value) {
    // toInteger() takes whole numbers that fit 64 bits, also when written as
    // 4000.0; anything else gives the fallback.
    return value.toInteger(1) == value.toInteger(2);
}

std::optional<qint64> bound(const QJsonValue& value) {
    if (!isWholeNumber(value))
        return std::nullopt;
    const qint64 port = value.toInteger();
    return port > 0 ? std::optional(port) : std::nullopt;
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

bool isLister(const QJsonValue& value) {
    return value == procLister || value == lsofLister;
}

} // namespace

QSet<QString> Values::defaultAllowlist() {
    return PortScanner::defaultAllowlist();
}

const QStringList& keys() {
    static const QStringList all{minPortKey, maxPortKey, allowlistKey, listerKey};
    return all;
}

bool isBroken(const QString& key, const QJsonValue& value) {
    if (value.isUndefined())
        return false;
    if (key == minPortKey || key == maxPortKey)
        return !isWholeNumber(value);
    if (key == allowlistKey)
        return !names(value).has_value();
    if (key == listerKey)
        return !isLister(value);
    return false;
}

Values read(const QJsonObject& stored) {
    Values v;
    v.minPort = bound(stored.value(minPortKey)).value_or(defaultMinPort);
    v.maxPort = bound(stored.value(maxPortKey)).value_or(defaultMaxPort);
    if (auto allowed = names(stored.value(allowlistKey)))
        v.allowlist = std::move(*allowed);
    if (const QJsonValue lister = stored.value(listerKey); isLister(lister))
        v.lister = lister.toString();
    return v;
}

} // namespace settings
