// The details of this machine's servers, read from their processes and the
// file system.
#include "core/process_time.h"
#include "system/local_details.h"
#include "system/procfs.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

void makeFile(const QString& path, const QByteArray& text = {}) {
    QDir().mkpath(path.section(u'/', 0, -2));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    ASSERT_EQ(file.write(text), text.size());
}

} // namespace

TEST(LocalDetails, ProjectIsTheNearestFolderWithAMarkerBelowHome) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString home = dir.filePath(QStringLiteral("home/ann"));
    const QString outside = dir.filePath(QStringLiteral("srv"));
    makeFile(home + "/src/shop/package.json");
    QDir().mkpath(home + "/src/shop/packages/web/dist");
    makeFile(home + "/src/shop/packages/api/Cargo.toml");
    makeFile(home + "/src/tools/.git"); // a worktree's .git is a file
    QDir().mkpath(home + "/src/tools/bin");
    QDir().mkpath(home + "/scratch/notes");
    makeFile(home + "/.git"); // the home folder under version control
    makeFile(outside + "/site/go.mod");
    QDir().mkpath(outside + "/site/cmd/server");
    QDir().mkpath(outside + "/empty/www");

    const struct {
        QString folder;
        QString expected;
    } cases[] = {
        {home + "/src/shop", "shop"},
        {home + "/src/shop/packages/web/dist", "shop"},
        {home + "/src/shop/packages/api", "api"}, // the nearest marker wins
        {home + "/src/tools/bin", "tools"},
        {home + "/scratch/notes", "notes"}, // none below home: the folder's own name
        {home, "ann"},
        {outside + "/site/cmd/server", "site"},
        {outside + "/empty/www", "www"},
        {home + "/src/shop/", "shop"},
        {QStringLiteral("/"), "/"},
        {QString(), QString()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.folder.toStdString());
        EXPECT_EQ(projectOf(c.folder, home).name, c.expected);
    }
}

TEST(LocalDetails, ProjectIsNamedByTheManifestItMayRead) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString home = dir.filePath(QStringLiteral("home"));
    makeFile(home + "/shop/package.json", R"({"name": "shop-root", "workspaces": ["packages/*"]})");
    makeFile(home + "/shop/packages/api/package.json", R"({"name": "@shop/api"})");
    QDir().mkpath(home + "/shop/packages/api/src");
    makeFile(home + "/rusty/Cargo.toml", "[workspace]\nmembers = [\"crates/*\"]\n");
    makeFile(home + "/rusty/crates/cli/Cargo.toml", "[package]\nname = \"rusty-cli\"\n");
    makeFile(home + "/mixed/package.json", R"({"private": true})");
    makeFile(home + "/mixed/pyproject.toml", "[project]\nname = \"mixed-api\"\n");
    makeFile(home + "/broken/package.json", "{\"name\": ");
    makeFile(home + "/huge/package.json",
             R"({"name": "too-big", "x": ")" + QByteArray(1 << 20, 'x') + "\"}");
    makeFile(dir.filePath("outside/package.json"), R"({"name": "outside"})");
    QDir().mkpath(home + "/linked");
    ASSERT_TRUE(QFile::link(dir.filePath("outside/package.json"), home + "/linked/package.json"));
    makeFile(home + "/within/real.json", R"({"name": "within-real"})");
    ASSERT_TRUE(QFile::link(home + "/within/real.json", home + "/within/package.json"));
    QDir().mkpath(home + "/fifo");
    ASSERT_EQ(::mkfifo(QFile::encodeName(home + "/fifo/package.json").constData(), 0600), 0);
    QDir().mkpath(home + "/folder/package.json");

    const struct {
        QString folder;
        QString root;
        QString name;
    } cases[] = {
        {home + "/shop", home + "/shop", "shop-root"},
        // A workspace's package is named by its own manifest.
        {home + "/shop/packages/api/src", home + "/shop/packages/api", "@shop/api"},
        {home + "/rusty", home + "/rusty", "rusty"},
        {home + "/rusty/crates/cli", home + "/rusty/crates/cli", "rusty-cli"},
        // The next manifest is asked when one names nothing.
        {home + "/mixed", home + "/mixed", "mixed-api"},
        {home + "/broken", home + "/broken", "broken"},
        {home + "/huge", home + "/huge", "huge"},
        // A link leading out of the project is not followed; one within it is.
        {home + "/linked", home + "/linked", "linked"},
        {home + "/within", home + "/within", "within-real"},
        // Neither waited for nor read.
        {home + "/fifo", home + "/fifo", "fifo"},
        {home + "/folder", home + "/folder", "folder"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.folder.toStdString());
        const Project project = projectOf(c.folder, home);
        EXPECT_EQ(project.folder, c.root);
        EXPECT_EQ(project.name, c.name);
    }
}

TEST(LocalDetails, ReadsItsOwnProcessAndNothingForAnAbsentOne) {
    const ListeningPort own{3000, QCoreApplication::applicationPid(), "self", 0, "127.0.0.1"};
    const ServerDetails details = readServerDetails(own, ProcFs(), "/nonexistent");
    EXPECT_EQ(details.folder, QDir::currentPath());
    EXPECT_FALSE(details.project.isEmpty());
    EXPECT_TRUE(QDir::currentPath().startsWith(details.projectFolder));
    // The test runner takes its own options out of the arguments Qt sees.
    ASSERT_FALSE(details.arguments.isEmpty());
    EXPECT_EQ(details.arguments.first(), QCoreApplication::arguments().first());
    EXPECT_TRUE(details.commandLine.startsWith(QStringLiteral("system_tests")));
    EXPECT_GT(details.startTime, 0u);
    EXPECT_EQ(details.address, "127.0.0.1");
    ASSERT_TRUE(secondsRunning(details.startTime).has_value());
    EXPECT_GE(*secondsRunning(details.startTime), 0);

    const ServerDetails none = readServerDetails({3000, 4'194'305, "gone"}, ProcFs(), "/");
    EXPECT_EQ(none, (ServerDetails{{}, {}, {}, {}, 0, {}}));
}
