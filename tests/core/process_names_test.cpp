// The names a process goes by: the kernel's cut one made whole, and a
// versioned interpreter matched by its unversioned name.
#include "core/process_names.h"

#include <gtest/gtest.h>

#include <QSet>

TEST(ProcessNames, FullNamesAndVersionedInterpreters) {
    EXPECT_EQ(unversionedNames("python3.11"), (QList<QByteArray>{"python3", "python"}));
    EXPECT_EQ(unversionedNames("ruby3.1"), (QList<QByteArray>{"ruby3", "ruby"}));
    EXPECT_EQ(unversionedNames("php8.2"), (QList<QByteArray>{"php8", "php"}));
    EXPECT_EQ(unversionedNames("node20"), (QList<QByteArray>{"node"}));
    EXPECT_EQ(unversionedNames("node"), QList<QByteArray>{});
    EXPECT_EQ(unversionedNames("3.11"), QList<QByteArray>{});
    EXPECT_EQ(unversionedNames("a.11"), (QList<QByteArray>{"a"}));

    const QSet<QByteArray> defaults{"python3", "node", "ruby", "php"};
    const QByteArray jupyter("/usr/bin/python3\0/usr/bin/jupyter-notebook\0--port\0", 50);
    const struct {
        const char* comm;
        const char* exe;
        QByteArray cmdline;
        QSet<QByteArray> allowlist;
        std::optional<QByteArray> listed;
    } cases[] = {
        // Jupyter Notebook: its kernel name cut, its program a versioned python.
        // Jupyter Notebook, a script its versioned python runs, as Debian starts it.
        {"jupyter-noteboo", "python3.11", jupyter, defaults, "python3"},
        {"jupyter-noteboo", "python3.11", jupyter, {"jupyter-notebook"}, "jupyter-notebook"},
        {"jupyter-noteboo", "python3.11", jupyter, {"jupyter-noteboo"}, "jupyter-noteboo"},
        // Its own program's name, and a console script's first argument.
        {"jupyter-noteboo", "jupyter-notebook", "x", {"jupyter-notebook"}, "jupyter-notebook"},
        {"jupyter-noteboo",
         "python3",
         QByteArray("/usr/local/bin/jupyter-notebook\0", 32),
         {"jupyter-notebook"},
         "jupyter-notebook"},
        // A name of 15 bytes that nothing longer begins with stays as it is.
        {"abcdefghijklmno", "other", "other", {"abcdefghijklmno"}, "abcdefghijklmno"},
        {"gunicorn", "python3.11", "/usr/bin/gunicorn", defaults, "python3"},
        {"next-server (v1", "node", "next-server (v16.5.0)", defaults, "node"},
        {"ruby", "ruby3.1", "ruby", defaults, "ruby"},
        {"php", "php8.2", "php", {"php"}, "php"},
        {"sshd", "sshd", "/usr/sbin/sshd", defaults, std::nullopt},
        {"python3.11", "", "", defaults, std::nullopt}, // no program: another user's
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.comm);
        EXPECT_EQ(listedName(c.comm, c.exe, c.cmdline,
                             [&](const QByteArray& name) { return c.allowlist.contains(name); }),
                  c.listed);
    }
}
