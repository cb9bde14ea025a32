// SettingsStore against real files in a temporary folder.
#include "config/settings_store.h"
#include "support/stderr_capture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <limits>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

class SettingsStoreTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }

    QString folder() const { return m_dir.filePath(QStringLiteral("harborwatch")); }
    QString path() const { return folder() + QStringLiteral("/settings.json"); }

    void writeFile(const QByteArray& bytes) {
        ASSERT_TRUE(QDir().mkpath(folder()));
        QFile file(path());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_EQ(file.write(bytes), bytes.size());
    }

    QByteArray readFile() const {
        QFile file(path());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QJsonObject fileObject() const { return QJsonDocument::fromJson(readFile()).object(); }

    std::vector<std::string> folderEntries() const {
        std::vector<std::string> out;
        for (const QString& name :
             QDir(folder()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot))
            out.push_back(name.toStdString());
        return out;
    }

    QTemporaryDir m_dir;
};

TEST_F(SettingsStoreTest, UnreadableFileIsAnEmptyStoreAndStaysUntouchedUntilASettingChanges) {
    for (const QByteArray& corrupt : {QByteArray("{\"minPort\": 4000,"), QByteArray("[\"node\"]"),
                                      QByteArray(""), QByteArray("\xff\xfe{}")}) {
        SCOPED_TRACE(corrupt.toStdString());
        writeFile(corrupt);
        {
            SettingsStore store(path());
            EXPECT_FALSE(store.contains(QStringLiteral("minPort")));
            EXPECT_EQ(store.integer(QStringLiteral("minPort")), 0);
            EXPECT_FALSE(store.array(QStringLiteral("allowlist")).has_value());
        }
        EXPECT_EQ(readFile().toStdString(), corrupt.toStdString());
        EXPECT_EQ(folderEntries(), std::vector<std::string>{"settings.json"});
    }

    // The first change replaces it with a valid file, keeping the old one
    // beside it, in place of an older copy.
    writeFile("{\"allowlist\": [\"node\", \"vite\"],\x01}");
    QFile older(path() + QStringLiteral(".bad"));
    ASSERT_TRUE(older.open(QIODevice::WriteOnly));
    older.write("older");
    older.close();
    SettingsStore store(path());
    StderrCapture captured;
    EXPECT_TRUE(store.setInteger(QStringLiteral("maxPort"), 5000));
    EXPECT_EQ(fileObject(), QJsonObject({{QStringLiteral("maxPort"), 5000}}));
    EXPECT_EQ(folderEntries(), (std::vector<std::string>{"settings.json", "settings.json.bad"}));
    QFile kept(path() + QStringLiteral(".bad"));
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), QByteArray("{\"allowlist\": [\"node\", \"vite\"],\x01}"));
    EXPECT_TRUE(captured.text().contains("settings.json.bad")) << captured.text().toStdString();

    // Later saves go over a valid file and keep no copy.
    ASSERT_TRUE(QFile::remove(path() + QStringLiteral(".bad")));
    EXPECT_TRUE(store.setInteger(QStringLiteral("maxPort"), 5001));
    EXPECT_EQ(folderEntries(), std::vector<std::string>{"settings.json"});
}

// A device, a FIFO or a folder in place of the file, directly or through a
// link: read at once as unreadable, said on stderr, left alone, and replaced
// by a regular file at the first save (a link itself, not its target).
TEST_F(SettingsStoreTest, PathsThatAreNoRegularFileAreUnreadableAtOnce) {
    ASSERT_TRUE(QDir().mkpath(folder()));
    const QString fifo = m_dir.filePath(QStringLiteral("fifo"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString emptyFolder = m_dir.filePath(QStringLiteral("folder"));
    ASSERT_TRUE(QDir().mkpath(emptyFolder));

    struct Case {
        const char* what;
        std::function<bool()> make;
        const char* reason;
    };
    const QString target = path();
    for (const Case& c : std::initializer_list<Case>{
             {"link to /dev/zero", [&] { return QFile::link("/dev/zero", target); },
              "not a regular file"},
             {"link to a FIFO", [&] { return QFile::link(fifo, target); }, "not a regular file"},
             {"FIFO", [&] { return ::mkfifo(QFile::encodeName(target).constData(), 0600) == 0; },
              "not a regular file"},
             {"link to a folder", [&] { return QFile::link(emptyFolder, target); }, "folder"}}) {
        SCOPED_TRACE(c.what);
        QFile::remove(target);
        ASSERT_TRUE(c.make());
        StderrCapture captured;
        {
            SettingsStore store(target);
            EXPECT_EQ(store.values(), settings::Values());
            EXPECT_FALSE(store.contains(QStringLiteral("minPort")));
            const QByteArray said = captured.text();
            EXPECT_EQ(said.count('\n'), 1) << said.toStdString();
            EXPECT_TRUE(said.contains(QFile::encodeName(target))) << said.toStdString();
            EXPECT_TRUE(said.contains(c.reason)) << said.toStdString();

            EXPECT_TRUE(store.setInteger(QStringLiteral("minPort"), 4000));
            EXPECT_EQ(fileObject(), QJsonObject({{QStringLiteral("minPort"), 4000}}));
        }
        const QFileInfo written(target);
        EXPECT_TRUE(written.isFile() && !written.isSymLink());
    }
    EXPECT_TRUE(QFileInfo(QStringLiteral("/dev/zero")).exists());
    struct stat zero {};
    ASSERT_EQ(::stat("/dev/zero", &zero), 0);
    EXPECT_TRUE(S_ISCHR(zero.st_mode));
    struct stat pipe {};
    ASSERT_EQ(::stat(QFile::encodeName(fifo).constData(), &pipe), 0);
    EXPECT_TRUE(S_ISFIFO(pipe.st_mode));
}

TEST_F(SettingsStoreTest, FileLargerThanOneMebibyteIsUnreadable) {
    writeFile("{\"minPort\": 4000, \"pad\": \"" + QByteArray(SettingsStore::maxFileSize, 'x') +
              "\"}");
    StderrCapture captured;
    SettingsStore store(path());
    EXPECT_FALSE(store.contains(QStringLiteral("minPort")));
    EXPECT_TRUE(captured.text().contains("1 MiB")) << captured.text().toStdString();
}

// The file as another program (an editor, a dotfiles tool) replaces it: a new
// file renamed over the old one.
void replaceFile(const QString& path, const QByteArray& bytes) {
    const QString temporary = path + QStringLiteral(".new");
    QFile file(temporary);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_EQ(file.write(bytes), bytes.size());
    file.close();
    ASSERT_EQ(
        ::rename(QFile::encodeName(temporary).constData(), QFile::encodeName(path).constData()), 0);
}

TEST_F(SettingsStoreTest, AnEditByAnotherProgramIsTakenAndAnnounced) {
    writeFile(R"({"minPort": 4000})");
    SettingsStore store(path());
    store.watch();
    QStringList changed;
    QObject::connect(&store, &SettingsStore::changed, [&](const QString& key) { changed << key; });

    replaceFile(path(), R"({"minPort": 4100, "maxPort": 5000, "lister": "lsof"})");
    ASSERT_TRUE(QTest::qWaitFor([&] { return changed.size() == 3; }, 5000))
        << changed.join(' ').toStdString();
    EXPECT_EQ(store.values().minPort, 4100);
    EXPECT_EQ(store.values().maxPort, 5000);
    EXPECT_EQ(store.values().lister, settings::lsofLister);

    // Written in place this time, and again after that: still watched.
    changed.clear();
    writeFile(R"({"minPort": 4200, "maxPort": 5000, "lister": "lsof"})");
    ASSERT_TRUE(QTest::qWaitFor([&] { return changed == QStringList{"minPort"}; }, 5000));
    replaceFile(path(), R"({"minPort": 4300, "maxPort": 5000, "lister": "lsof"})");
    ASSERT_TRUE(QTest::qWaitFor([&] { return store.values().minPort == 4300; }, 5000));

    // The store's own write is no edit to announce again.
    changed.clear();
    EXPECT_TRUE(store.setInteger(QStringLiteral("maxPort"), 6000));
    QTest::qWait(300);
    EXPECT_EQ(changed, QStringList{"maxPort"});
}

TEST_F(SettingsStoreTest, AFileMadeByHandInAFolderThatDidNotExistIsTaken) {
    SettingsStore store(path());
    store.watch();
    writeFile(R"({"maxPort": 5000})");
    EXPECT_TRUE(QTest::qWaitFor([&] { return store.values().maxPort == 5000; }, 5000));
}

TEST_F(SettingsStoreTest, AnUnreadableEditChangesNothingItBreaksAndLeavesTheFile) {
    writeFile(R"({"minPort": 4000, "maxPort": 5000, "allowlist": ["node"]})");
    SettingsStore store(path());
    QStringList changed;
    QObject::connect(&store, &SettingsStore::changed, [&](const QString& key) { changed << key; });
    const settings::Values before = store.values();

    for (const QByteArray& broken :
         {QByteArray(R"({"minPort": 4100,)"), QByteArray("[]"), QByteArray("\xff")}) {
        SCOPED_TRACE(broken.toStdString());
        writeFile(broken);
        StderrCapture captured;
        store.reload();
        EXPECT_EQ(store.values(), before);
        EXPECT_EQ(captured.text().count('\n'), 1) << captured.text().toStdString();
        EXPECT_EQ(readFile(), broken);
    }

    // Wrong types break only their keys; the rest of the edit is taken.
    const QByteArray mixed =
        R"({"minPort": "4100", "maxPort": 6000, "allowlist": ["node", 1], "lister": "ss"})";
    writeFile(mixed);
    StderrCapture captured;
    store.reload();
    EXPECT_EQ(store.values().minPort, 4000);
    EXPECT_EQ(store.values().maxPort, 6000);
    EXPECT_EQ(store.values().allowlist, QSet<QString>{"node"});
    EXPECT_EQ(store.values().lister, settings::procLister);
    EXPECT_EQ(changed, QStringList{"maxPort"});
    const QByteArray said = captured.text();
    EXPECT_EQ(said.count('\n'), 1) << said.toStdString();
    EXPECT_TRUE(said.contains("minPort, allowlist, lister")) << said.toStdString();
    EXPECT_EQ(readFile(), mixed);
}

TEST_F(SettingsStoreTest, ASaveKeepsWhatOthersWroteAndUnknownKeys) {
    writeFile(R"({"minPort": 4000})");
    SettingsStore store(path());
    // Another writer, not yet read by this store.
    writeFile(R"({"minPort": 4000, "maxPort": 7000, "future": {"x": [1, 2]}})");
    EXPECT_TRUE(store.setInteger(QStringLiteral("minPort"), 4500));
    EXPECT_EQ(fileObject(), QJsonObject({{QStringLiteral("minPort"), 4500},
                                         {QStringLiteral("maxPort"), 7000},
                                         {QStringLiteral("future"),
                                          QJsonObject{{QStringLiteral("x"), QJsonArray{1, 2}}}}}));
    EXPECT_EQ(store.values().maxPort, 7000) << "what the save read is in force";
}

// A folder that cannot be made (a file stands in its place) fails the same
// way for root and for other users.
TEST_F(SettingsStoreTest, AFailedSaveIsSaidUntilASaveSucceeds) {
    writeFile("");
    const QString blocked = path() + QStringLiteral("/settings.json");
    SettingsStore store(blocked);
    QSignalSpy errorChanged(&store, &SettingsStore::saveErrorChanged);
    EXPECT_FALSE(store.setInteger(QStringLiteral("minPort"), 4000));
    EXPECT_FALSE(store.saveError().isEmpty());
    EXPECT_EQ(errorChanged.count(), 1);
    EXPECT_EQ(store.values().minPort, 4000) << "in force for this run";
    EXPECT_FALSE(store.setInteger(QStringLiteral("maxPort"), 5000));
    EXPECT_EQ(errorChanged.count(), 1);

    ASSERT_TRUE(QFile::remove(path()));
    ASSERT_TRUE(QDir().mkpath(path()));
    EXPECT_TRUE(store.setInteger(QStringLiteral("maxPort"), 5001));
    EXPECT_TRUE(store.saveError().isEmpty());
    EXPECT_EQ(errorChanged.count(), 2);
    SettingsStore reread(blocked);
    EXPECT_EQ(reread.values().minPort, 4000) << "an unsaved value goes in with the next save";
    EXPECT_EQ(reread.values().maxPort, 5001);
}

TEST_F(SettingsStoreTest, ReadsKeepTheirTypes) {
    writeFile(R"({
        "int": 4000, "negative": -5, "largest": 9223372036854775807,
        "smallest": -9223372036854775808, "whole": 3000.0, "fraction": 3.5,
        "huge": 1e300, "text": "4000", "bool": true, "null": null,
        "list": ["node", "caddy"], "empty": [], "object": {"a": 1}
    })");
    SettingsStore store(path());

    EXPECT_EQ(store.integer(QStringLiteral("int")), 4000);
    EXPECT_EQ(store.integer(QStringLiteral("negative")), -5);
    EXPECT_EQ(store.integer(QStringLiteral("largest")), std::numeric_limits<qint64>::max());
    EXPECT_EQ(store.integer(QStringLiteral("smallest")), std::numeric_limits<qint64>::min());
    EXPECT_EQ(store.integer(QStringLiteral("whole")), 3000);
    for (const char* key : {"fraction", "huge", "text", "bool", "null", "list", "object", "absent"})
        EXPECT_EQ(store.integer(QString::fromLatin1(key)), 0) << key;
    EXPECT_EQ(store.integer(QStringLiteral("text"), 3000), 3000) << "the caller's fallback";
    EXPECT_EQ(store.integer(QStringLiteral("int"), 3000), 4000);

    ASSERT_TRUE(store.array(QStringLiteral("list")).has_value());
    EXPECT_EQ(*store.array(QStringLiteral("list")),
              QJsonArray({QStringLiteral("node"), QStringLiteral("caddy")}));
    ASSERT_TRUE(store.array(QStringLiteral("empty")).has_value()) << "an empty array is an array";
    EXPECT_TRUE(store.array(QStringLiteral("empty"))->isEmpty());
    for (const char* key : {"int", "text", "null", "object", "absent"})
        EXPECT_FALSE(store.array(QString::fromLatin1(key)).has_value()) << key;
}

TEST_F(SettingsStoreTest, WritesCreateTheFolderKeepOtherKeysAndAnnounceTheKey) {
    const QString nested =
        m_dir.filePath(QStringLiteral("config/deeper/harborwatch/settings.json"));
    SettingsStore store(nested);
    EXPECT_FALSE(QFileInfo::exists(QFileInfo(nested).absolutePath())) << "reading creates nothing";

    QSignalSpy changed(&store, &SettingsStore::changed);
    EXPECT_TRUE(store.setInteger(QStringLiteral("minPort"), 4000));
    EXPECT_TRUE(QFileInfo::exists(nested));
    EXPECT_TRUE(store.setArray(QStringLiteral("allowlist"), QJsonArray({QStringLiteral("node")})));
    ASSERT_EQ(changed.count(), 2);
    EXPECT_EQ(changed[0][0].toString(), QStringLiteral("minPort"));
    EXPECT_EQ(changed[1][0].toString(), QStringLiteral("allowlist"));

    // A later process reads the same values with the same types.
    SettingsStore later(nested);
    EXPECT_EQ(later.integer(QStringLiteral("minPort")), 4000);
    EXPECT_EQ(later.array(QStringLiteral("allowlist")), QJsonArray({QStringLiteral("node")}));

    // Keys this version does not know survive a write of another key.
    writeFile(R"({"future": {"x": 1}, "minPort": 4000})");
    SettingsStore third(path());
    EXPECT_TRUE(third.setInteger(QStringLiteral("minPort"), 4001));
    EXPECT_EQ(fileObject().value(QStringLiteral("future")).toObject(),
              QJsonObject({{QStringLiteral("x"), 1}}));
    EXPECT_EQ(fileObject().value(QStringLiteral("minPort")).toInteger(), 4001);
}

TEST_F(SettingsStoreTest, EveryWriteReplacesTheFileWithoutLeavingTemporaries) {
    SettingsStore store(path());
    ASSERT_TRUE(store.setInteger(QStringLiteral("minPort"), 1));
    for (int i = 0; i < 5; ++i) {
        struct stat before {};
        ASSERT_EQ(::stat(QFile::encodeName(path()).constData(), &before), 0);
        ASSERT_TRUE(store.setInteger(QStringLiteral("minPort"), 2 + i));
        struct stat after {};
        ASSERT_EQ(::stat(QFile::encodeName(path()).constData(), &after), 0);
        // A new file renamed over the old one, not the old one rewritten in
        // place, which a crash could leave half-written.
        EXPECT_NE(before.st_ino, after.st_ino);
    }
    EXPECT_EQ(folderEntries(), std::vector<std::string>{"settings.json"});
    EXPECT_EQ(fileObject().value(QStringLiteral("minPort")).toInteger(), 6);
}

// A write cut short (here by the file size limit, as a full disk would) fails
// and leaves the previous file as it was.
TEST_F(SettingsStoreTest, WriteCutShortLeavesThePreviousFileWhole) {
    SettingsStore store(path());
    ASSERT_TRUE(store.setInteger(QStringLiteral("minPort"), 4000));
    const QByteArray previous = readFile();

    QJsonArray many;
    for (int i = 0; i < 5000; ++i)
        many.append(QStringLiteral("process-name-%1").arg(i));

    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    struct rlimit limited = saved;
    limited.rlim_cur = 4096;
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    const bool written = store.setArray(QStringLiteral("allowlist"), many);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(written);
    EXPECT_EQ(readFile().toStdString(), previous.toStdString());
    EXPECT_EQ(folderEntries(), std::vector<std::string>{"settings.json"});

    // Without the limit the same write goes through whole.
    EXPECT_TRUE(store.setArray(QStringLiteral("allowlist"), many));
    EXPECT_EQ(fileObject().value(QStringLiteral("allowlist")).toArray().size(), 5000);
}

// Writing in place would succeed here; a replacement needs a new file in the
// folder. Root ignores the permission, so the case only holds for other users.
TEST_F(SettingsStoreTest, WriteIntoReadOnlyFolderFailsAndKeepsTheFile) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "root may write into a read-only folder";
    SettingsStore store(path());
    ASSERT_TRUE(store.setInteger(QStringLiteral("minPort"), 4000));
    const QByteArray previous = readFile();
    QFile::Permissions permissions = QFile::permissions(folder());
    ASSERT_TRUE(QFile::setPermissions(folder(), QFile::ReadOwner | QFile::ExeOwner));
    const bool written = store.setInteger(QStringLiteral("minPort"), 5000);
    QFile::setPermissions(folder(), permissions);
    EXPECT_FALSE(written);
    EXPECT_EQ(readFile().toStdString(), previous.toStdString());
}

// Restores an environment variable when it goes out of scope.
class EnvGuard {
public:
    explicit EnvGuard(const char* name)
        : m_name(name), m_was(qEnvironmentVariableIsSet(name)), m_value(qgetenv(name)) {}
    ~EnvGuard() {
        if (m_was)
            qputenv(m_name, m_value);
        else
            qunsetenv(m_name);
    }
    EnvGuard(const EnvGuard&) = delete;
    EnvGuard& operator=(const EnvGuard&) = delete;

private:
    const char* m_name;
    bool m_was;
    QByteArray m_value;
};

TEST_F(SettingsStoreTest, DefaultLocationFollowsXdgConfigHome) {
    EnvGuard xdg("XDG_CONFIG_HOME");
    EnvGuard home("HOME");
    const QString fakeHome = m_dir.filePath(QStringLiteral("home"));
    qputenv("HOME", QFile::encodeName(fakeHome));

    qputenv("XDG_CONFIG_HOME", "/somewhere/config");
    EXPECT_EQ(SettingsStore::defaultFilePath(),
              QStringLiteral("/somewhere/config/harborwatch/settings.json"));

    const QString underHome = fakeHome + QStringLiteral("/.config/harborwatch/settings.json");
    qunsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(SettingsStore::defaultFilePath(), underHome);
    qputenv("XDG_CONFIG_HOME", "");
    EXPECT_EQ(SettingsStore::defaultFilePath(), underHome);
    // Relative values are to be ignored.
    qputenv("XDG_CONFIG_HOME", "relative/config");
    EXPECT_EQ(SettingsStore::defaultFilePath(), underHome);
}

} // namespace

// The "ports" object: what can be read of each entry is taken, the rest is
// named once on stderr; an edit of one port keeps the other entries and the
// fields another program wrote.
TEST_F(SettingsStoreTest, PortChoicesRoundTripAndIgnoreWhatTheyCannotRead) {
    const struct {
        const char* ports;
        settings::PortChoices expected;
        const char* ignored; // in the stderr line; empty: no line
    } cases[] = {
        {R"({"3000": {"label": "Shop frontend", "protocol": "https", "notify": false}})",
         {{3000, {QStringLiteral("Shop frontend"), true, false}}},
         ""},
        {R"({"8000": {"protocol": "http"}, "5173": {"label": "  docs "}})",
         {{5173, {QStringLiteral("docs"), std::nullopt, true}}, {8000, {{}, false, true}}},
         ""},
        {R"({"3000": {"protocol": "ftp", "notify": "no", "label": "x"}, "port": {}, "70000": {},
             "4000": 7})",
         {{3000, {QStringLiteral("x"), std::nullopt, true}}},
         "ports.3000.notify, ports.3000.protocol, ports.4000, ports.70000, ports.port"},
        {R"([1, 2])", {}, "ports"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ports);
        writeFile(QByteArray(R"({"ports": )") + c.ports + "}");
        StderrCapture captured;
        const SettingsStore store(path());
        const QByteArray text = captured.text();
        captured.restore();
        EXPECT_EQ(store.get(settings::ports), c.expected);
        if (*c.ignored)
            EXPECT_TRUE(text.contains(c.ignored)) << text.toStdString();
        else
            EXPECT_TRUE(text.isEmpty()) << text.toStdString();
    }

    writeFile(R"({"ports": {"3000": {"label": "shop", "color": "red"}, "8080": {"notify": false}},
                  "theirs": 1})");
    SettingsStore store(path());
    ASSERT_TRUE(setPortChoice(store, 3000, {QString(), true, true}));
    ASSERT_TRUE(setPortChoice(store, 8080, {}));
    const QJsonObject file = fileObject();
    EXPECT_EQ(file.value(QStringLiteral("theirs")), QJsonValue(1));
    EXPECT_EQ(QJsonDocument(file.value(QStringLiteral("ports")).toObject())
                  .toJson(QJsonDocument::Compact),
              R"({"3000":{"color":"red","protocol":"https"}})");
    EXPECT_EQ(SettingsStore(path()).get(settings::ports),
              (settings::PortChoices{{3000, {QString(), true, true}}}));
}

// Destinations are taken as ssh takes them, each once, in the user's order;
// a list with one unusable entry means none.
TEST(HostsSetting, MeaningOfStoredValues) {
    const struct {
        const char* json;
        QStringList hosts;
        bool usable;
    } cases[] = {
        {R"({})", {}, true},
        {R"({"hosts": []})", {}, true},
        {R"({"hosts": ["box", "me@10.0.0.5", "ssh://me@box:2222", "box"]})",
         {"box", "me@10.0.0.5", "ssh://me@box:2222"},
         true},
        {R"({"hosts": [" box "]})", {"box"}, true},
        {R"({"hosts": ["box", 3]})", {}, false},
        {R"({"hosts": ["-oProxyCommand=x"]})", {}, false},
        {R"({"hosts": [""]})", {}, false},
        {R"({"hosts": "box"})", {}, false},
    };
    for (const auto& c : cases) {
        const QJsonObject stored = QJsonDocument::fromJson(c.json).object();
        EXPECT_EQ(settings::read(stored).hosts, c.hosts) << c.json;
        EXPECT_EQ(settings::hosts.usable(stored.value(QStringLiteral("hosts"))), c.usable)
            << c.json;
    }
}

// Stored forwards and the hosts that forward their new servers: each entry
// read on its own, what cannot be one (a bad host, a port out of range) or
// repeats an earlier one (the same host and port) left out and named once on
// stderr.
TEST_F(SettingsStoreTest, ForwardsAreReadEntryByEntry) {
    using F = settings::StoredForward;
    const struct {
        const char* json;
        settings::StoredForwards forwards;
        QStringList autoForward;
        const char* ignored; // in the stderr line; empty: no line
    } cases[] = {
        {R"({})", {}, {}, ""},
        {R"({"forwards": [{"host": "box", "port": 5173, "local": 5173},
                          {"host": " me@lab ", "port": 8000}],
             "autoForward": ["box"]})",
         {F{"box", 5173, 5173}, F{"me@lab", 8000, 8000}},
         {"box"},
         ""},
        {R"({"forwards": [{"host": "-oProxyCommand=x", "port": 1}, {"host": "", "port": 1},
                          {"host": 3, "port": 1}, {"port": 1}, "box:5173"]})",
         {},
         {},
         "forwards[0], forwards[1], forwards[2], forwards[3], forwards[4]"},
        {R"({"forwards": [{"host": "box", "port": 0}, {"host": "box", "port": 65536},
                          {"host": "box", "port": 5173, "local": 70000},
                          {"host": "box", "port": 51.5}, {"host": "box", "port": "5173"},
                          {"host": "box", "port": 65535, "local": 1}]})",
         {F{"box", 65535, 1}},
         {},
         "forwards[0], forwards[1], forwards[2], forwards[3], forwards[4]"},
        {R"({"forwards": [{"host": "box", "port": 5173, "local": 5173},
                          {"host": "box", "port": 5173, "local": 5180},
                          {"host": "lab", "port": 5173, "local": 5174}],
             "autoForward": ["box", "lab", "box", "-x", 7]})",
         {F{"box", 5173, 5173}, F{"lab", 5173, 5174}},
         {"box", "lab"},
         "forwards[1], autoForward[2], autoForward[3], autoForward[4]"},
        {R"({"forwards": {"host": "box"}, "autoForward": "box", "restoreForwards": "no"})",
         {},
         {},
         "forwards, restoreForwards, autoForward"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.json);
        writeFile(c.json);
        StderrCapture captured;
        const SettingsStore store(path());
        const QByteArray text = captured.text();
        captured.restore();
        EXPECT_EQ(store.get(settings::forwards), c.forwards);
        EXPECT_EQ(store.get(settings::autoForward), c.autoForward);
        EXPECT_TRUE(store.get(settings::restoreForwards));
        if (*c.ignored)
            EXPECT_TRUE(text.contains(QByteArray("ignoring ") + c.ignored + " in the settings"))
                << text.toStdString();
        else
            EXPECT_TRUE(text.isEmpty()) << text.toStdString();
    }

    // Kept once per host and port, forgotten one by one or by host.
    writeFile(R"({"restoreForwards": false})");
    SettingsStore store(path());
    EXPECT_FALSE(store.get(settings::restoreForwards));
    ASSERT_TRUE(storeForward(store, {"box", 5173, 5173}));
    ASSERT_TRUE(storeForward(store, {"lab", 8000, 8001}));
    ASSERT_TRUE(storeForward(store, {"box", 5173, 5175}));
    ASSERT_TRUE(storeForward(store, {"box", 3000, 3000}));
    EXPECT_EQ(SettingsStore(path()).get(settings::forwards),
              (settings::StoredForwards{F{"box", 5173, 5175}, F{"lab", 8000, 8001},
                                        F{"box", 3000, 3000}}));
    ASSERT_TRUE(forgetForward(store, "box", 3000));
    ASSERT_TRUE(forgetForwardsOf(store, "box"));
    EXPECT_EQ(SettingsStore(path()).get(settings::forwards),
              (settings::StoredForwards{F{"lab", 8000, 8001}}));
}
