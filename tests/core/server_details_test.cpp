#include "core/server_details.h"

#include <gtest/gtest.h>

TEST(ServerDetails, CommandLineShortensTheProgramPathOnly) {
    const struct {
        QByteArray cmdline;
        QStringList arguments;
        QString text;
    } cases[] = {
        {QByteArray("/usr/bin/python3\0-m\0http.server\0", 32),
         {"/usr/bin/python3", "-m", "http.server"},
         "python3 -m http.server"},
        {QByteArray("node\0/home/a/shop/node_modules/.bin/next\0dev\0", 45),
         {"node", "/home/a/shop/node_modules/.bin/next", "dev"},
         "node /home/a/shop/node_modules/.bin/next dev"},
        {QByteArray("./server\0--name\0two words\0", 26),
         {"./server", "--name", "two words"},
         "server --name two words"},
        // A title written over the arguments, padded with NULs.
        {QByteArray("nginx: master process /usr/sbin/nginx\0\0\0", 40),
         {"nginx: master process /usr/sbin/nginx"},
         "nginx: master process /usr/sbin/nginx"},
        {QByteArray(), {}, QString()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        EXPECT_EQ(argumentsFromCmdline(c.cmdline), c.arguments);
        EXPECT_EQ(commandLineText(c.arguments), c.text);
    }
}

TEST(ServerDetails, UrlIsLocalhostUnlessOnlyAnotherAddressListens) {
    const struct {
        const char* address;
        const char* url;
    } cases[] = {
        {"127.0.0.1", "http://localhost:3000"},
        {"127.0.1.1", "http://localhost:3000"},
        {"::1", "http://localhost:3000"},
        {"0.0.0.0", "http://localhost:3000"},
        {"::", "http://localhost:3000"},
        {"*", "http://localhost:3000"},
        {"", "http://localhost:3000"},
        {"::ffff:127.0.0.1", "http://localhost:3000"},
        {"192.168.1.20", "http://192.168.1.20:3000"},
        {"::ffff:10.0.0.2", "http://10.0.0.2:3000"},
        {"fd00::5", "http://[fd00::5]:3000"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(serverUrl(3000, QString::fromLatin1(c.address)), QLatin1String(c.url))
            << c.address;
}

TEST(ServerDetails, HomeIsWrittenAsTilde) {
    EXPECT_EQ(withHomeAsTilde("/home/ann/src/shop", "/home/ann"), "~/src/shop");
    EXPECT_EQ(withHomeAsTilde("/home/ann", "/home/ann/"), "~");
    EXPECT_EQ(withHomeAsTilde("/home/anna/x", "/home/ann"), "/home/anna/x");
    EXPECT_EQ(withHomeAsTilde("/srv/x", "/"), "/srv/x");
}
