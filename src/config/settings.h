#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QMap>
#include <QRect>
#include <QSet>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <functional>
#include <optional>

// The program's settings as one table: every key of the settings file with its
// name, its default and what a stored value means, in one place for the tray,
// the settings window and the command line.
//
// A stored value is either usable, or "broken" when its form cannot mean
// anything (a bound that is not a whole number, an allowlist that is not an
// array of strings, a lister other than "proc" or "lsof"). Absent and broken
// values mean the default, and so does a bound of 0 or less.
namespace settings {

// What the table knows of every key, whatever its type.
struct KeyBase {
    KeyBase(QString keyName, bool relistsOnChange)
        : name(std::move(keyName)), relists(relistsOnChange) {}
    virtual ~KeyBase() = default;

    QString name;
    // Whether a new value makes the list of servers be made anew (the range,
    // the allowlist, the sources), rather than only how it is shown.
    bool relists = false;

    // False for a present value whose form cannot mean anything.
    virtual bool usable(const QJsonValue& stored) const = 0;
    // The parts of a usable value that are ignored, named for the user
    // ("ports.3000.protocol"); none for most keys, whose values are usable or
    // not as a whole.
    virtual QStringList ignoredParts(const QJsonValue&) const { return {}; }
};

template <typename T> struct Key : KeyBase {
    Key(QString keyName, bool relistsOnChange, T defaultValue,
        std::function<std::optional<T>(const QJsonValue&)> meaningOf,
        std::function<QJsonValue(const T&)> toStored)
        : KeyBase(std::move(keyName), relistsOnChange), fallback(std::move(defaultValue)),
          meaning(std::move(meaningOf)), toJson(std::move(toStored)) {}

    T fallback;
    // What a present stored value means; none when it is broken.
    std::function<std::optional<T>(const QJsonValue&)> meaning;
    std::function<QJsonValue(const T&)> toJson;

    bool usable(const QJsonValue& stored) const override {
        return stored.isUndefined() || meaning(stored).has_value();
    }
    // The value of the key in `stored`: its meaning, or the default.
    T read(const QJsonObject& stored) const {
        const QJsonValue value = stored.value(name);
        if (value.isUndefined())
            return fallback;
        return meaning(value).value_or(fallback);
    }
};

inline constexpr qint64 defaultMinPort = 3000;
inline constexpr qint64 defaultMaxPort = 9999;
// The discovery sources "lister" names.
inline const QString procLister = QStringLiteral("proc");
inline const QString lsofLister = QStringLiteral("lsof");

// The process names that count as development servers until the user edits
// the list. Built once.
const QSet<QString>& defaultAllowlist();

// What the user chose for one port of this machine. Absent choices leave the
// program's own: the process name, HTTPS when the command line asks for it,
// notifications on.
struct PortChoice {
    QString label;
    std::optional<bool> https; // from "protocol": "https" or "http"
    bool notify = true;

    bool isEmpty() const { return label.isEmpty() && !https && notify; }
    friend bool operator==(const PortChoice&, const PortChoice&) = default;
};
using PortChoices = QMap<qint64, PortChoice>;

// A key whose value is an object of port entries, each read on its own: an
// entry, field or value that cannot mean anything is left out (and named by
// ignoredParts()), the rest is taken.
struct PortChoicesKey : Key<PortChoices> {
    using Key<PortChoices>::Key;
    QStringList ignoredParts(const QJsonValue& stored) const override;
};

// A key whose value is an array read entry by entry: an entry that cannot
// mean anything, or that is the same as an earlier one, is left out (and
// named by ignoredParts() as "key[index]"), the rest is taken. A value that
// is no array is broken.
template <typename T> struct EntriesKey : Key<QList<T>> {
    using Entry = std::function<std::optional<T>(const QJsonValue&)>;
    using Same = std::function<bool(const T&, const T&)>;

    EntriesKey(QString keyName, bool relistsOnChange, Entry entryOf, Same sameAs,
               std::function<QJsonValue(const T&)> entryToJson)
        : Key<QList<T>>(
              keyName, relistsOnChange, {},
              [entryOf, sameAs](const QJsonValue& value) -> std::optional<QList<T>> {
                  if (!value.isArray())
                      return std::nullopt;
                  return readEntries(value.toArray(), entryOf, sameAs, {}, nullptr);
              },
              [entryToJson](const QList<T>& list) {
                  QJsonArray array;
                  for (const T& entry : list)
                      array.append(entryToJson(entry));
                  return QJsonValue(array);
              }),
          entry(std::move(entryOf)), same(std::move(sameAs)) {}

    Entry entry;
    Same same;

    QStringList ignoredParts(const QJsonValue& stored) const override {
        QStringList ignored;
        if (stored.isArray())
            readEntries(stored.toArray(), entry, same, this->name, &ignored);
        return ignored;
    }

    static QList<T> readEntries(const QJsonArray& array, const Entry& entryOf, const Same& sameAs,
                                const QString& keyName, QStringList* ignored) {
        QList<T> out;
        for (qsizetype i = 0; i < array.size(); ++i) {
            const std::optional<T> read = entryOf(array.at(i));
            const bool known = read && std::any_of(out.cbegin(), out.cend(), [&](const T& earlier) {
                                   return sameAs(earlier, *read);
                               });
            if (read && !known)
                out.append(*read);
            else if (ignored)
                ignored->append(QStringLiteral("%1[%2]").arg(keyName).arg(i));
        }
        return out;
    }
};

// A forward the user made, to be set up again at the next start: the host's
// `port` to `local` here (when that is free).
struct StoredForward {
    QString host;
    qint64 port = 0;
    qint64 local = 0;

    friend bool operator==(const StoredForward&, const StoredForward&) = default;
};
using StoredForwards = QList<StoredForward>;

// Whether `text` can be an SSH destination as ssh takes it ("box",
// "me@10.0.0.5", "ssh://me@box:2222"): not empty, no space or control
// character in it, and not starting with "-", which ssh would read as an
// option. The one rule for the settings file, the Hosts tab and --host; the
// caller trims.
bool isSshDestination(QStringView text);

// The keys.
extern const Key<qint64> minPort;
extern const Key<qint64> maxPort;
extern const Key<QSet<QString>> allowlist;
extern const Key<QString> lister;
extern const PortChoicesKey ports;
// Process names listed without start and stop notifications.
extern const Key<QSet<QString>> quietProcesses;
extern const Key<bool> containers;
// Whether the program looks at what answers on each listed port (TLS, the
// HTTP status and the page's title).
extern const Key<bool> probe;
// The SSH destinations whose servers are listed too, as `ssh` takes them
// ("box", "me@10.0.0.5", "ssh://me@box:2222"), in the user's order.
extern const Key<QStringList> hosts;
// Where the Servers window was when it was last closed:
// {"x": 100, "y": 80, "width": 820, "height": 480}; none (an invalid
// rectangle) until it has been closed once.
extern const Key<QRect> serversWindow;
// The forwards the user made and has not stopped, each of a host and a port
// once: [{"host": "box", "port": 5173, "local": 5173}] (ports from 1 to
// 65535; without "local", the same port).
extern const EntriesKey<StoredForward> forwards;
// Whether the stored forwards are set up again at start.
extern const Key<bool> restoreForwards;
// The hosts whose new servers are forwarded at once.
extern const EntriesKey<QString> autoForward;

// Every key of the table, in the order they are listed.
const QList<const KeyBase*>& keys();
// The table's entry for `name`; null for a key the program does not know.
const KeyBase* find(const QString& name);

// What the settings mean, every key resolved.
struct Values {
    qint64 minPort = defaultMinPort;
    qint64 maxPort = defaultMaxPort;
    QSet<QString> allowlist = defaultAllowlist();
    QString lister = procLister;
    PortChoices ports = {};
    QSet<QString> quietProcesses = {};
    bool containers = true;
    QStringList hosts = {};
    bool probe = true;
    QRect serversWindow = {};
    StoredForwards forwards = {};
    bool restoreForwards = true;
    QStringList autoForward = {};

    friend bool operator==(const Values&, const Values&) = default;
};

// What `stored` means.
Values read(const QJsonObject& stored);

// The "ports" object `stored` with the entry of `port` made `choice`: fields
// the program does not know are kept, an entry left with nothing is removed.
QJsonObject withPortChoice(QJsonObject stored, qint64 port, const PortChoice& choice);

} // namespace settings
