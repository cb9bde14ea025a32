// The autostart entry, on temporary configuration folders.
#include "platform/autostart.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

void writeFile(const QString& path, const QByteArray& text) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text);
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray execLine(const QByteArray& entry) {
    for (const QByteArray& line : entry.split('\n')) {
        if (line.startsWith("Exec="))
            return line;
    }
    return {};
}

TEST(AutostartTest, EntryPathFollowsXdgConfigHome) {
    const struct {
        const char* configHome;
        const char* expected;
    } rows[] = {
        {"/tmp/cfg", "/tmp/cfg/autostart/harborwatch.desktop"},
        {"", "/home/ann/.config/autostart/harborwatch.desktop"},
        {"relative/cfg", "/home/ann/.config/autostart/harborwatch.desktop"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.configHome);
        EXPECT_EQ(autostart::entryPath(QString::fromUtf8(row.configHome), "/home/ann"),
                  QString::fromUtf8(row.expected));
    }
}

TEST(AutostartTest, AnEntryIsOnUnlessAbsentOrHidden) {
    const struct {
        const char* what;
        const char* text; // null: no file
        bool enabled;
    } rows[] = {
        {"no file", nullptr, false},
        {"plain entry", "[Desktop Entry]\nType=Application\nExec=harborwatch\n", true},
        {"hidden", "[Desktop Entry]\nExec=harborwatch\nHidden=true\n", false},
        {"hidden, spaced", "[Desktop Entry]\nHidden = true\n", false},
        {"not hidden", "[Desktop Entry]\nHidden=false\n", true},
        {"hidden in another group", "[Desktop Entry]\nExec=x\n[Desktop Action a]\nHidden=true\n",
         true},
        {"GNOME's switch off", "[Desktop Entry]\nX-GNOME-Autostart-enabled=false\n", false},
        {"empty file", "", false},
        {"no Desktop Entry group", "[Other]\nExec=x\n", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        QTemporaryDir dir;
        const QString path = dir.filePath("autostart/harborwatch.desktop");
        if (row.text)
            writeFile(path, row.text);
        EXPECT_EQ(autostart::isEnabled(path), row.enabled);
    }
}

TEST(AutostartTest, ExecRunsTheGivenProgramWrittenAsTheFormatWants) {
    const QByteArray entry = "[Desktop Entry]\nName=Harborwatch\nTryExec=harborwatch\n"
                             "Exec=harborwatch\n[Desktop Action x]\nExec=other\n";
    const struct {
        const char* program;
        const char* exec; // empty: refused
    } rows[] = {
        {"/usr/bin/harborwatch", "Exec=/usr/bin/harborwatch"},
        {"/home/ann/my apps/harborwatch", R"(Exec="/home/ann/my apps/harborwatch")"},
        {"/opt/a$b/harborwatch", R"(Exec="/opt/a\\$b/harborwatch")"},
        {"/opt/100%/harborwatch", "Exec=/opt/100%%/harborwatch"},
        {"/opt/a\"b/harborwatch", R"(Exec="/opt/a\\"b/harborwatch")"},
        {"/opt/a\\b/harborwatch", R"(Exec="/opt/a\\\\b/harborwatch")"},
        {"/opt/a\nb/harborwatch", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.program);
        const QByteArray out = autostart::entryFor(entry, QString::fromUtf8(row.program));
        if (!*row.exec) {
            EXPECT_TRUE(out.isEmpty());
            continue;
        }
        EXPECT_EQ(execLine(out), QByteArray(row.exec));
        EXPECT_FALSE(out.contains("TryExec"));
        EXPECT_TRUE(out.contains("Name=Harborwatch\n"));
        EXPECT_TRUE(out.endsWith("[Desktop Action x]\nExec=other\n")) << "other groups stay";
    }
}

TEST(AutostartTest, TurningOnWritesTheInstalledEntryAndOffRemovesIt) {
    QTemporaryDir dir;
    const QString path = autostart::entryPath(dir.path(), "/nonexistent");
    const QString program = QStringLiteral("/usr/bin/harborwatch");
    ASSERT_TRUE(autostart::installedEntry().contains("Name=Harborwatch"));

    EXPECT_EQ(autostart::setEnabled(path, true, program), QString()) << "the folder is made";
    EXPECT_TRUE(autostart::isEnabled(path));
    EXPECT_EQ(readFile(path), autostart::entryFor(autostart::installedEntry(), program));

    writeFile(path, readFile(path) + "Hidden=true\n"); // hidden by hand
    EXPECT_FALSE(autostart::isEnabled(path));
    EXPECT_EQ(autostart::setEnabled(path, true, program), QString());
    EXPECT_TRUE(autostart::isEnabled(path)) << "turning on again replaces the hidden entry";

    EXPECT_EQ(autostart::setEnabled(path, false, program), QString());
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_EQ(autostart::setEnabled(path, false, program), QString()) << "already off";

    // A folder that cannot be made (a file is in its place), also for root.
    QTemporaryDir blocked;
    writeFile(blocked.filePath("autostart"), "not a folder");
    const QString unreachable = autostart::entryPath(blocked.path(), "/nonexistent");
    EXPECT_FALSE(autostart::setEnabled(unreachable, true, program).isEmpty());
    EXPECT_FALSE(autostart::isEnabled(unreachable));
    EXPECT_FALSE(autostart::setEnabled(path, true, "/opt/a\nb").isEmpty());
}

} // namespace
