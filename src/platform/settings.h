#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <QSet>
#include <QString>
#include <QStringList>

// The program's settings: every key, its default and what a stored value
// means, in one place for the tray, the settings window and the command line.
//
// A stored value is either usable, or "broken" when its form cannot mean
// anything: a bound that is not a whole number, an allowlist that is not an
// array of strings, a lister other than "proc" or "lsof". Absent and broken
// values mean the default, and so does a bound of 0 or less.
namespace settings {

inline const QString minPortKey = QStringLiteral("minPort");
inline const QString maxPortKey = QStringLiteral("maxPort");
inline const QString allowlistKey = QStringLiteral("allowlist");
inline const QString listerKey = QStringLiteral("lister");

inline constexpr qint64 defaultMinPort = 3000;
inline constexpr qint64 defaultMaxPort = 9999;
// The discovery sources "lister" names.
inline const QString procLister = QStringLiteral("proc");
inline const QString lsofLister = QStringLiteral("lsof");

// What the settings mean, every key resolved.
struct Values {
    qint64 minPort = defaultMinPort;
    qint64 maxPort = defaultMaxPort;
    QSet<QString> allowlist = defaultAllowlist();
    QString lister = procLister;

    static QSet<QString> defaultAllowlist();
    friend bool operator==(const Values&, const Values&) = default;
};

// The keys above, in the order they are listed.
const QStringList& keys();
// True when `key` is one of the keys above and `value` (present) has a form
// that cannot mean anything.
bool isBroken(const QString& key, const QJsonValue& value);
// What `stored` means.
Values read(const QJsonObject& stored);

} // namespace settings
