// The German translation: its plural forms, and the built program speaking
// the user's language.
#include <QCoreApplication>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTranslator>

#include <gtest/gtest.h>

namespace {

TEST(TranslationTest, GermanPluralFormsFollowTheCount) {
    QTranslator german;
    ASSERT_TRUE(german.load(QStringLiteral("harborwatch_de"), QStringLiteral(HW_QM_DIR)));
    const struct {
        const char* context;
        const char* source;
        int count;
        const char* expected;
    } rows[] = {
        {"TrayMenu", "and %n more", 1, "und 1 weiterer"},
        {"TrayMenu", "and %n more", 2, "und 2 weitere"},
        {"TrayMenu", "and %n more", 5, "und 5 weitere"},
        {"ChangePolicy", "%n more", 1, "1 weiterer"},
        {"ChangePolicy", "%n more", 12, "12 weitere"},
    };
    QCoreApplication::installTranslator(&german);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.count);
        EXPECT_EQ(QCoreApplication::translate(row.context, row.source, nullptr, row.count),
                  QString::fromUtf8(row.expected));
    }
    QCoreApplication::removeTranslator(&german);
    EXPECT_EQ(QCoreApplication::translate("TrayMenu", "and %n more", nullptr, 1), "and 1 more")
        << "English needs no translation";
}

// The translation compiled into the program is chosen by the locale in the
// environment, as the desktop session sets it.
TEST(TranslationTest, TheProgramSpeaksTheUsersLanguage) {
    const struct {
        const char* lang;
        const char* expected;
    } rows[] = {
        {"de_DE.UTF-8", "Listet die lokalen Entwicklungsserver auf"},
        {"de_AT.UTF-8", "Listet die lokalen Entwicklungsserver auf"},
        {"C.UTF-8", "Lists the local development servers"},
        {"fr_FR.UTF-8", "Lists the local development servers"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.lang);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES"})
            environment.remove(QString::fromLatin1(name));
        environment.insert(QStringLiteral("LANG"), QString::fromLatin1(row.lang));
        QProcess program;
        program.setProcessEnvironment(environment);
        program.start(QStringLiteral(HW_PROGRAM_PATH), {QStringLiteral("--help")});
        ASSERT_TRUE(program.waitForFinished(60000));
        EXPECT_EQ(program.exitCode(), 0);
        EXPECT_TRUE(QString::fromUtf8(program.readAllStandardOutput()).contains(row.expected));
    }
}

} // namespace
