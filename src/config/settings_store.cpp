#include "config/settings_store.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QSaveFile>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

// The context of the reasons told to the user, for translation.
struct SettingsFile {
    Q_DECLARE_TR_FUNCTIONS(SettingsFile)
};

// How long after the last change of the file or its folder it is read again:
// a writer's temporary file and its rename arrive as one edit.
constexpr int settleMs = 100;

struct FileContents {
    enum class State { Missing, Unreadable, Unparsable, Parsed };
    State state = State::Missing;
    QJsonObject object; // Parsed
    QByteArray bytes;   // Unparsable
    QString reason;     // Unreadable, Unparsable
};

QByteArray shown(const QString& path) {
    return QDir::toNativeSeparators(path).toLocal8Bit();
}

QString errnoText(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

FileContents unreadable(QString reason) {
    return {FileContents::State::Unreadable, {}, {}, std::move(reason)};
}

// Reads the settings file without ever blocking on it: a FIFO, a device or a
// folder in its place, or a file larger than the limit, is unreadable.
FileContents readFile(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        const int error = errno;
        return error == ENOENT ? FileContents{} : unreadable(errnoText(error));
    }
    const auto result = [fd](FileContents contents) {
        ::close(fd);
        return contents;
    };
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        return result(unreadable(errnoText(errno)));
    if (S_ISDIR(info.st_mode))
        return result(unreadable(SettingsFile::tr("it is a folder")));
    if (!S_ISREG(info.st_mode))
        return result(unreadable(SettingsFile::tr("it is not a regular file")));
    const QString tooLarge = SettingsFile::tr("it is larger than 1 MiB");
    if (info.st_size > SettingsStore::maxFileSize)
        return result(unreadable(tooLarge));

    // The size may change while reading; one byte more than allowed shows it.
    QByteArray bytes(qsizetype(info.st_size) + 1, Qt::Uninitialized);
    qsizetype got = 0;
    for (;;) {
        if (got == bytes.size()) {
            if (bytes.size() > SettingsStore::maxFileSize)
                return result(unreadable(tooLarge));
            bytes.resize(std::min<qsizetype>(bytes.size() * 2, SettingsStore::maxFileSize + 1));
        }
        const ssize_t n = ::read(fd, bytes.data() + got, size_t(bytes.size() - got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return result(unreadable(errnoText(errno)));
        if (n == 0)
            break;
        got += n;
    }
    ::close(fd);
    bytes.truncate(got);

    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    if (doc.isObject())
        return {FileContents::State::Parsed, doc.object(), {}, {}};
    const QString reason =
        error.error != QJsonParseError::NoError
            ? SettingsFile::tr("%1 at byte %2").arg(error.errorString()).arg(error.offset)
            : SettingsFile::tr("it does not hold a JSON object");
    return {FileContents::State::Unparsable, {}, bytes, reason};
}

// A link to anything but a regular file, or a FIFO, socket or device in the
// file's place: what a save replaces rather than writes through.
bool isReplaceable(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists() || info.isFile())
        return false;
    return info.isSymLink() || !info.isDir();
}

} // namespace

SettingsStore::SettingsStore(QString filePath, QObject* parent)
    : QObject(parent), m_filePath(std::move(filePath)) {
    m_settle.setSingleShot(true);
    m_settle.setInterval(settleMs);
    connect(&m_settle, &QTimer::timeout, this, &SettingsStore::reload);

    const FileContents file = readFile(m_filePath);
    if (file.state == FileContents::State::Parsed) {
        take(file.object);
        m_seen = file.object;
    } else if (file.state != FileContents::State::Missing) {
        std::fprintf(stderr,
                     "harborwatch: cannot read the settings file %s (%s); using the defaults\n",
                     shown(m_filePath).constData(), qPrintable(file.reason));
        m_problem = file.reason;
    }
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
    return setValue(key, QJsonValue(value));
}

bool SettingsStore::setString(const QString& key, const QString& value) {
    return setValue(key, value);
}

bool SettingsStore::setArray(const QString& key, const QJsonArray& value) {
    return setValue(key, value);
}

bool SettingsStore::setValue(const QString& key, const QJsonValue& value) {
    // What others wrote since the file was last read stays; values of this
    // run that could not be saved yet go in again.
    const FileContents file = readFile(m_filePath);
    QJsonObject stored = m_values;
    QString failure;
    switch (file.state) {
    case FileContents::State::Parsed:
        stored = file.object;
        for (const QString& unsaved : std::as_const(m_unsaved))
            stored.insert(unsaved, m_values.value(unsaved));
        break;
    case FileContents::State::Missing:
        break;
    case FileContents::State::Unparsable:
        failure = keepUnparsable(file.bytes);
        break;
    case FileContents::State::Unreadable:
        // A device or a FIFO, or a link to one, is replaced by the file itself
        // rather than written through.
        if (isReplaceable(m_filePath) && !QFile::remove(m_filePath))
            failure = SettingsFile::tr("%1 could not be replaced")
                          .arg(QString::fromLocal8Bit(shown(m_filePath)));
        break;
    }
    stored.insert(key, value);

    const bool written = failure.isEmpty() && write(stored, &failure);
    if (written) {
        m_unsaved.clear();
        m_seen = stored;
        m_problem.clear();
        watchPaths();
    } else {
        m_unsaved.insert(key);
        std::fprintf(stderr, "harborwatch: could not save settings to %s: %s\n",
                     shown(m_filePath).constData(), qPrintable(failure));
    }
    if (failure != m_saveError) {
        m_saveError = failure;
        emit saveErrorChanged();
    }
    take(stored, key);
    return written;
}

QString SettingsStore::keepUnparsable(const QByteArray& bytes) {
    if (bytes.isEmpty())
        return {};
    const QString copy = m_filePath + QStringLiteral(".bad");
    QSaveFile file(copy);
    if (!(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit()))
        return SettingsFile::tr("the unreadable settings file could not be kept as %1 (%2)")
            .arg(QString::fromLocal8Bit(shown(copy)), file.errorString());
    std::fprintf(stderr, "harborwatch: the settings file %s could not be read; kept it as %s\n",
                 shown(m_filePath).constData(), shown(copy).constData());
    return {};
}

bool SettingsStore::write(const QJsonObject& stored, QString* failure) {
    QDir().mkpath(QFileInfo(m_filePath).absolutePath());
    QSaveFile file(m_filePath);
    const QByteArray json = QJsonDocument(stored).toJson();
    // A large block goes to the file in one call, which reports a short write
    // (disk full, size limit) as a smaller count rather than as an error; such
    // a file must not be committed. Not committing discards it.
    const bool written =
        file.open(QIODevice::WriteOnly) && file.write(json) == json.size() && file.commit();
    if (!written) {
        *failure = file.errorString();
        if (failure->isEmpty() || *failure == QLatin1String("Unknown error"))
            *failure = SettingsFile::tr("the file could not be written in full");
    }
    return written;
}

void SettingsStore::take(const QJsonObject& stored, const QString& announce) {
    QJsonObject values = stored;
    QStringList broken;
    for (const settings::KeyBase* entry : settings::keys()) {
        const QString& key = entry->name;
        const QJsonValue value = stored.value(key);
        if (entry->usable(value)) {
            if (value != m_seen.value(key))
                broken.append(entry->ignoredParts(value));
            continue;
        }
        if (value != m_seen.value(key))
            broken.append(key);
        if (m_values.contains(key))
            values.insert(key, m_values.value(key));
        else
            values.remove(key);
    }
    if (!broken.isEmpty())
        std::fprintf(stderr,
                     "harborwatch: ignoring %s in the settings file %s: not a usable value\n",
                     qPrintable(broken.join(QStringLiteral(", "))), shown(m_filePath).constData());

    const QJsonObject before = std::exchange(m_values, values);
    QStringList keys = before.keys() + m_values.keys();
    keys.removeDuplicates();
    for (const QString& key : std::as_const(keys)) {
        if (key == announce || before.value(key) != m_values.value(key))
            emit changed(key);
    }
    if (!announce.isEmpty() && !keys.contains(announce))
        emit changed(announce);
}

void SettingsStore::watch() {
    if (m_watcher)
        return;
    m_watcher.emplace();
    connect(&*m_watcher, &QFileSystemWatcher::fileChanged, &m_settle, qOverload<>(&QTimer::start));
    connect(&*m_watcher, &QFileSystemWatcher::directoryChanged, &m_settle,
            qOverload<>(&QTimer::start));
    watchPaths();
}

void SettingsStore::watchPaths() {
    if (!m_watcher)
        return;
    const auto watching = [this](const QString& path) {
        return m_watcher->files().contains(path) || m_watcher->directories().contains(path);
    };
    // Until the folder exists, its parent shows it being made.
    const QString folder = QFileInfo(m_filePath).absolutePath();
    const QString parent = QFileInfo(folder).absolutePath();
    const bool folderExists = QFileInfo::exists(folder);
    if (folderExists && watching(parent))
        m_watcher->removePath(parent);
    // A file replaced by a rename is a new file: it is watched again.
    for (const QString& path : {folderExists ? folder : parent, m_filePath}) {
        if (QFileInfo::exists(path) && !watching(path))
            m_watcher->addPath(path);
    }
}

void SettingsStore::reload() {
    watchPaths();
    const FileContents file = readFile(m_filePath);
    switch (file.state) {
    case FileContents::State::Unreadable:
    case FileContents::State::Unparsable:
        if (file.reason != m_problem)
            std::fprintf(stderr, "harborwatch: ignoring the edit of the settings file %s: %s\n",
                         shown(m_filePath).constData(), qPrintable(file.reason));
        m_problem = file.reason;
        return;
    case FileContents::State::Missing:
    case FileContents::State::Parsed:
        m_problem.clear();
        if (file.object == m_seen && file.state == FileContents::State::Parsed)
            return;
        // Values that could not be saved stay in force until a save succeeds.
        QJsonObject stored = file.object;
        for (const QString& unsaved : std::as_const(m_unsaved))
            stored.insert(unsaved, m_values.value(unsaved));
        take(stored);
        m_seen = file.object;
        return;
    }
}

bool addAllowed(SettingsStore& store, const QString& name) {
    QSet<QString> names = store.get(settings::allowlist);
    names.insert(name);
    return store.set(settings::allowlist, names);
}

bool removeAllowed(SettingsStore& store, const QString& name) {
    QSet<QString> names = store.get(settings::allowlist);
    names.remove(name);
    return store.set(settings::allowlist, names);
}

bool setPortChoice(SettingsStore& store, qint64 port, const settings::PortChoice& choice) {
    return store.setValue(
        settings::ports.name,
        settings::withPortChoice(store.stored(settings::ports.name).toObject(), port, choice));
}

bool storeForward(SettingsStore& store, const settings::StoredForward& forward) {
    settings::StoredForwards stored = store.get(settings::forwards);
    const auto same = [&forward](const settings::StoredForward& f) {
        return f.host == forward.host && f.port == forward.port;
    };
    if (const auto found = std::find_if(stored.begin(), stored.end(), same);
        found != stored.end()) {
        if (*found == forward)
            return true;
        *found = forward;
    } else {
        stored.append(forward);
    }
    return store.set(settings::forwards, stored);
}

bool forgetForward(SettingsStore& store, const QString& host, qint64 port) {
    settings::StoredForwards stored = store.get(settings::forwards);
    if (stored.removeIf([&](const settings::StoredForward& f) {
            return f.host == host && f.port == port;
        }) == 0)
        return true;
    return store.set(settings::forwards, stored);
}

bool forgetForwardsOf(SettingsStore& store, const QString& host) {
    settings::StoredForwards stored = store.get(settings::forwards);
    if (stored.removeIf([&](const settings::StoredForward& f) { return f.host == host; }) == 0)
        return true;
    return store.set(settings::forwards, stored);
}

bool setAutoForward(SettingsStore& store, const QString& host, bool on) {
    QStringList hosts = store.get(settings::autoForward);
    if (hosts.contains(host) == on)
        return true;
    if (on)
        hosts.append(host);
    else
        hosts.removeAll(host);
    return store.set(settings::autoForward, hosts);
}
