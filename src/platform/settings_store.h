#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QObject>
#include <QString>

#include <optional>

// The per-user settings: one JSON object in
// $XDG_CONFIG_HOME/harborwatch/settings.json (~/.config/... when unset). Values
// keep their JSON types. Every write replaces the file atomically. A file that
// does not parse reads as an empty store and is left as it is until a setting
// is changed.
class SettingsStore : public QObject {
    Q_OBJECT
public:
    explicit SettingsStore(QString filePath = defaultFilePath(), QObject* parent = nullptr);

    static QString defaultFilePath();
    const QString& filePath() const { return m_filePath; }

    bool contains(const QString& key) const { return m_values.contains(key); }
    // The stored integer; `fallback` when the key is absent or holds something
    // else.
    qint64 integer(const QString& key, qint64 fallback = 0) const;
    // The stored string; `fallback` when the key is absent or holds something
    // else.
    QString string(const QString& key, const QString& fallback = {}) const;
    // The stored array; none when the key is absent or holds something else.
    std::optional<QJsonArray> array(const QString& key) const;

    // Store a value and write the file. False (and a line on stderr) when the
    // file could not be written; the value is still kept for this run.
    bool setInteger(const QString& key, qint64 value);
    bool setString(const QString& key, const QString& value);
    bool setArray(const QString& key, const QJsonArray& value);

signals:
    void changed(const QString& key);

private:
    bool set(const QString& key, const QJsonValue& value);

    QString m_filePath;
    QJsonObject m_values;
};
