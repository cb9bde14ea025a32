// SettingsStore against real files in a temporary folder.
#include "platform/settings_store.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
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

    // The first change replaces it with a valid file.
    SettingsStore store(path());
    EXPECT_TRUE(store.setInteger(QStringLiteral("maxPort"), 5000));
    EXPECT_EQ(fileObject(), QJsonObject({{QStringLiteral("maxPort"), 5000}}));
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
