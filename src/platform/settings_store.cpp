#include "platform/settings_store.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSaveFile>
#include <QStandardPaths>

#include <cstdio>

SettingsStore::SettingsStore(QString filePath, QObject* parent)
    : QObject(parent), m_filePath(std::move(filePath)) {
    QFile file(m_filePath);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll());
    if (doc.isObject())
        m_values = doc.object();
    else
        std::fprintf(stderr, "harborwatch: %s is not a settings file; using defaults\n",
                     qPrintable(QDir::toNativeSeparators(m_filePath)));
}

QString SettingsStore::defaultFilePath() {
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/harborwatch/settings.json");
}

qint64 SettingsStore::integer(const QString& key, qint64 fallback) const {
    // Whole numbers that fit in 64 bits; anything else (text, 1.5, arrays) is
    // the fallback.
    return m_values.value(key).toInteger(fallback);
}

QString SettingsStore::string(const QString& key, const QString& fallback) const {
    return m_values.value(key).toString(fallback);
}

std::optional<QJsonArray> SettingsStore::array(const QString& key) const {
    const QJsonValue value = m_values.value(key);
    if (!value.isArray())
        return std::nullopt;
    return value.toArray();
}

bool SettingsStore::setInteger(const QString& key, qint64 value) {
    return set(key, QJsonValue(value));
}

bool SettingsStore::setString(const QString& key, const QString& value) {
    return set(key, value);
}

bool SettingsStore::setArray(const QString& key, const QJsonArray& value) {
    return set(key, value);
}

bool SettingsStore::set(const QString& key, const QJsonValue& value) {
    m_values.insert(key, value);
    emit changed(key);

    QDir().mkpath(QFileInfo(m_filePath).absolutePath());
    QSaveFile file(m_filePath);
    const QByteArray json = QJsonDocument(m_values).toJson();
    // A large block goes to the file in one call, which reports a short write
    // (disk full, size limit) as a smaller count rather than as an error; such
    // a file must not be committed. Not committing discards it.
    const bool written =
        file.open(QIODevice::WriteOnly) && file.write(json) == json.size() && file.commit();
    if (!written)
        std::fprintf(stderr, "harborwatch: could not save settings to %s: %s\n",
                     qPrintable(QDir::toNativeSeparators(m_filePath)),
                     qPrintable(file.errorString()));
    return written;
}
