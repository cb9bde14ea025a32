#pragma once

#include "config/settings.h"

#include <QFileSystemWatcher>
#include <QJsonArray>
#include <QJsonObject>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>

#include <optional>

// The per-user settings: one JSON object in
// $XDG_CONFIG_HOME/harborwatch/settings.json (~/.config/... when unset). Values
// keep their JSON types.
//
// Only a regular file (after following links) of at most 1 MiB is read, and
// it is opened without blocking. Anything else, and a file that does not
// parse, reads as an empty store with one line on stderr, and is left as it
// is until a setting is changed; a file that did not parse is then kept as
// "settings.json.bad".
//
// A broken value (see settings.h) of a known key is not taken: at start the
// key reads as absent, later the value in force stays.
//
// Every write re-reads the file, changes only the key being written, and
// replaces the file atomically, so keys written by others survive.
class SettingsStore : public QObject {
    Q_OBJECT
public:
    static constexpr qint64 maxFileSize = 1024 * 1024;

    explicit SettingsStore(QString filePath = defaultFilePath(), QObject* parent = nullptr);

    static QString defaultFilePath();
    const QString& filePath() const { return m_filePath; }

    // What the settings mean, every key resolved to its value or default.
    settings::Values values() const { return settings::read(m_values); }
    // What one key means.
    template <typename T> T get(const settings::Key<T>& key) const { return key.read(m_values); }
    // Stores a value of one key, as setValue() does.
    template <typename T> bool set(const settings::Key<T>& key, const T& value) {
        return setValue(key.name, key.toJson(value));
    }

    bool contains(const QString& key) const { return m_values.contains(key); }
    // The stored value as it is; undefined when the key is absent.
    QJsonValue stored(const QString& key) const { return m_values.value(key); }
    // The stored integer; `fallback` when the key is absent or holds something
    // else.
    qint64 integer(const QString& key, qint64 fallback = 0) const;
    // The stored string; `fallback` when the key is absent or holds something
    // else.
    QString string(const QString& key, const QString& fallback = {}) const;
    // The stored array; none when the key is absent or holds something else.
    std::optional<QJsonArray> array(const QString& key) const;

    // Store a value and write the file, also when it equals the stored one;
    // changed(key) is sent either way. False (and a line on stderr) when the
    // file could not be written; the value is still kept for this run, and
    // saveError() says why until a write succeeds.
    bool setInteger(const QString& key, qint64 value);
    bool setString(const QString& key, const QString& value);
    bool setArray(const QString& key, const QJsonArray& value);
    bool setValue(const QString& key, const QJsonValue& value);

    // Why the latest write failed; empty when it succeeded or none was made.
    const QString& saveError() const { return m_saveError; }

    // From now on, edits of the file by others are read shortly after they
    // land (the file and its folder are watched, so a replace-by-rename is
    // seen) and announced through changed().
    void watch();
    // Reads the file again now.
    void reload();

signals:
    void changed(const QString& key);
    void saveErrorChanged();

private:
    // Makes `stored` the values in force, keeping the values in force for
    // keys it breaks, and announces every key that changed, and `announce`.
    void take(const QJsonObject& stored, const QString& announce = {});
    bool write(const QJsonObject& stored, QString* failure);
    // Copies a file that did not parse next to it; why that failed, if it did.
    QString keepUnparsable(const QByteArray& bytes);
    void watchPaths();

    QString m_filePath;
    QJsonObject m_values; // the values in force
    QJsonObject m_seen;   // the file's object as last read or written
    QString m_saveError;
    QString m_problem;       // why the file could not be read, as last reported
    QSet<QString> m_unsaved; // keys whose value in force is not in the file
    std::optional<QFileSystemWatcher> m_watcher;
    QTimer m_settle;
};

// Edits of the allowlist as the Processes tab and the menu make them: the
// whole list is stored again, also when it does not change.
bool addAllowed(SettingsStore& store, const QString& name);
bool removeAllowed(SettingsStore& store, const QString& name);
// Keeps the forward of the host's port as made (one per host and port),
// forgets it, or forgets every forward of the host.
bool storeForward(SettingsStore& store, const settings::StoredForward& forward);
bool forgetForward(SettingsStore& store, const QString& host, qint64 port);
bool forgetForwardsOf(SettingsStore& store, const QString& host);
// Whether the host's new servers are forwarded at once.
bool setAutoForward(SettingsStore& store, const QString& host, bool on);
// Makes `choice` the user's choice for `port`, keeping what others wrote in
// the "ports" object.
bool setPortChoice(SettingsStore& store, qint64 port, const settings::PortChoice& choice);
