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

namespace {

void makeFile(const QString& path) {
    QDir().mkpath(path.section(u'/', 0, -2));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
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
        EXPECT_EQ(projectName(c.folder, home), c.expected);
    }
}


TEST(LocalDetails, ReadsItsOwnProcessAndNothingForAnAbsentOne) {
    const ListeningPort own{3000, QCoreApplication::applicationPid(), "self", 0, "127.0.0.1"};
    const ServerDetails details = readServerDetails(own, ProcFs(), "/nonexistent");
    EXPECT_EQ(details.folder, QDir::currentPath());
    EXPECT_FALSE(details.project.isEmpty());
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
