// Looks at real servers the test starts on loopback ports of its own: Python's
// http.server, an HTTPS server with a certificate made here, and servers that
// stay silent, greet as a mail server, answer noise, trickle, redirect and ask
// for credentials (tests/probe/servers.py).
#include "probe/port_look.h"
#include "probe/probe_queue.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace {

using Kind = PortAnswer::Kind;

// A server process, ended when the object goes.
class Server {
public:
    Server(const QString& program, const QStringList& arguments) {
        m_process.setStandardErrorFile(QProcess::nullDevice());
        m_process.start(program, arguments);
        // servers.py prints its port; http.server "Serving HTTP on ... port N".
        static const QRegularExpression portText(QStringLiteral("(?:^|port )(\\d+)"));
        const QDeadlineTimer deadline(15000);
        while (!deadline.hasExpired() && !m_process.canReadLine() &&
               m_process.state() != QProcess::NotRunning)
            m_process.waitForReadyRead(100);
        const auto match = portText.match(QString::fromUtf8(m_process.readLine()));
        m_port = match.hasMatch() ? match.captured(1).toUShort() : 0;
    }
    ~Server() {
        m_process.terminate();
        if (!m_process.waitForFinished(3000)) {
            m_process.kill();
            m_process.waitForFinished(3000);
        }
    }
    quint16 port() const { return m_port; }

private:
    QProcess m_process;
    quint16 m_port = 0;
};

QString servers() {
    return QStringLiteral(HW_TEST_DATA_DIR "/servers.py");
}

bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

PortAnswer lookAt(const ProbeTarget& target) {
    PortLook look(target);
    QSignalSpy finished(&look, &PortLook::finished);
    look.start();
    if (!finished.wait(PortLook::timeLimitMs + 3000))
        return {};
    return finished.first().first().value<PortAnswer>();
}

ProbeTarget loopback(quint16 port) {
    return {QHostAddress(QHostAddress::LocalHost), port};
}

quint16 closedPort() {
    QTcpServer server;
    server.listen(QHostAddress::LocalHost);
    return server.serverPort(); // closed when `server` goes
}

} // namespace

TEST(PortLook, TellsWhatAnswersOnEachKindOfServer) {
    const QString python = QStandardPaths::findExecutable(QStringLiteral("python3"));
    const QString openssl = QStandardPaths::findExecutable(QStringLiteral("openssl"));
    if (python.isEmpty() || openssl.isEmpty())
        GTEST_SKIP() << "needs python3 and openssl";
    if (!QSslSocket::supportsSsl())
        GTEST_SKIP() << "Qt has no TLS backend here";
    qRegisterMetaType<PortAnswer>();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString site = dir.filePath("site");
    const QString big = dir.filePath("big");
    ASSERT_TRUE(QDir().mkpath(site) && QDir().mkpath(big));
    ASSERT_TRUE(writeFile(site + "/index.html",
                          "<!doctype html><html><head><meta charset=\"utf-8\">\n"
                          "<title>\n  Shop &amp;\tCo \xe2\x80\x94 Start </title></head></html>\n"));
    ASSERT_TRUE(writeFile(big + "/index.html",
                          "<html><head><title>" + QByteArray(10 << 20, 'A') + "</title>"));
    QProcess makeCertificate;
    makeCertificate.setWorkingDirectory(dir.path());
    makeCertificate.start(openssl, {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-subj",
                                    "/CN=localhost", "-days", "2", "-keyout", "key.pem", "-out",
                                    "cert.pem"});
    ASSERT_TRUE(makeCertificate.waitForFinished(60000) && makeCertificate.exitCode() == 0);

    const auto httpServer = [&](const QString& folder) {
        return std::make_unique<Server>(python,
                                        QStringList{"-u", "-m", "http.server", "0", "--bind",
                                                    "127.0.0.1", "--directory", folder});
    };
    const auto testServer = [&](QStringList arguments) {
        arguments.prepend(servers());
        arguments.prepend("-u");
        return std::make_unique<Server>(python, arguments);
    };
    const auto http = httpServer(site);
    const auto bigTitle = httpServer(big);
    const auto https =
        testServer({"https", dir.filePath("cert.pem"), dir.filePath("key.pem"), site});
    const auto silent = testServer({"silent"});
    const auto banner = testServer({"banner"});
    const auto garbage = testServer({"garbage"});
    const auto trickle = testServer({"trickle"});
    const auto redirect = testServer({"redirect"});
    const auto auth = testServer({"auth"});

    const QString title = QStringLiteral("Shop & Co — Start");
    const struct {
        const char* server;
        ProbeTarget target;
        Kind kind;
        int status;
        QString title;
        QString location;
    } rows[] = {
        {"http.server", loopback(http->port()), Kind::Http, 200, title, {}},
        {"https", loopback(https->port()), Kind::Https, 200, title, {}},
        {"silent", loopback(silent->port()), Kind::Silent, 0, {}, {}},
        {"mail banner", loopback(banner->port()), Kind::Other, 0, {}, {}},
        {"binary noise", loopback(garbage->port()), Kind::Other, 0, {}, {}},
        // The head came, the title never ends: cut off by the time limit.
        {"trickle", loopback(trickle->port()), Kind::Http, 200, {}, {}},
        // Cut off by the read limit.
        {"10 MB title", loopback(bigTitle->port()), Kind::Http, 200, {}, {}},
        // Its cookie is neither kept nor sent the second time.
        {"redirect", loopback(redirect->port()), Kind::Http, 302, "redirect -", "/login?next=%2F"},
        {"redirect again", loopback(redirect->port()), Kind::Http, 302, "redirect -",
         "/login?next=%2F"},
        {"asks for credentials", loopback(auth->port()), Kind::Http, 401, "auth -", {}},
        {"nothing listens", loopback(closedPort()), Kind::Unreachable, 0, {}, {}},
        // Not this machine's: no connection is made.
        {"documentation address", {QHostAddress("192.0.2.1"), 80}, Kind::NotLooked, 0, {}, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.server);
        ASSERT_NE(row.target.port, 0) << "the server did not start";
        const PortAnswer answer = lookAt(row.target);
        std::printf("look at %-22s %-11s %4lld ms\n", row.server, qPrintable(kindName(answer.kind)),
                    answer.elapsedMs);
        EXPECT_EQ(kindName(answer.kind), kindName(row.kind));
        EXPECT_EQ(answer.status, row.status);
        EXPECT_EQ(answer.title, row.title);
        EXPECT_EQ(answer.location, row.location);
        // Within the time limit; the slack is for a loaded machine.
        EXPECT_LE(answer.elapsedMs, PortLook::timeLimitMs + 800);
    }
}

TEST(ProbeQueue, RunsAFewLooksAtOnceAndNeverTwoAtOneTarget) {
    qRegisterMetaType<PortAnswer>();
    // Silent servers of the test's own, counting the connections they take.
    constexpr int count = 4;
    QTcpServer servers[count];
    int connections[count] = {};
    QList<QTcpSocket*> held;
    for (int i = 0; i < count; ++i) {
        ASSERT_TRUE(servers[i].listen(QHostAddress::LocalHost));
        QObject::connect(&servers[i], &QTcpServer::newConnection, [&, i] {
            while (QTcpSocket* socket = servers[i].nextPendingConnection()) {
                ++connections[i];
                held.append(socket);
            }
        });
    }
    const auto target = [&](int i) { return loopback(servers[i].serverPort()); };

    ProbeQueue queue(2);
    QObject context;
    QStringList answered;
    const auto look = [&](int i, QObject* by) {
        queue.look(target(i), by, [&answered, i](const PortAnswer& answer) {
            answered << QStringLiteral("%1 %2").arg(i).arg(kindName(answer.kind));
        });
    };
    look(0, &context);
    look(0, &context); // 0 is being looked at: looked at again afterwards
    look(1, &context);
    look(2, &context);
    look(2, &context); // joins the waiting look at 2
    {
        QObject gone;
        look(3, &gone); // asked by an object that is gone before its turn
    }
    EXPECT_EQ(queue.running(), 2);

    QTest::qWait(PortLook::tlsLimitMs / 2);
    EXPECT_EQ(connections[0], 1);
    EXPECT_EQ(connections[1], 1);
    EXPECT_EQ(connections[2], 0);

    QTRY_COMPARE_WITH_TIMEOUT(answered.size(), 5, 3 * PortLook::timeLimitMs + 2000);
    EXPECT_EQ(answered, QStringList({"0 silent", "1 silent", "0 silent", "2 silent", "2 silent"}));
    EXPECT_EQ(queue.running(), 0);
    EXPECT_EQ(queue.waiting(), 0);
    // Two looks at 0, one at each of 1 and 2, each a handshake and a request.
    EXPECT_EQ(connections[0], 4);
    EXPECT_EQ(connections[1], 2);
    EXPECT_EQ(connections[2], 2);
    EXPECT_EQ(connections[3], 0);
    // Every connection a look made is closed.
    QTRY_VERIFY(std::all_of(held.begin(), held.end(), [](QTcpSocket* socket) {
        return socket->state() == QAbstractSocket::UnconnectedState;
    }));
    qDeleteAll(held);
}

TEST(ProbeTarget, AnyAddressIsLookedAtOnLoopback) {
    const struct {
        const char* address;
        qint64 port;
        const char* target; // empty: none
    } rows[] = {
        {"127.0.0.1", 3000, "127.0.0.1"},
        {"0.0.0.0", 3000, "127.0.0.1"},
        {"*", 3000, "127.0.0.1"},
        {"", 3000, "127.0.0.1"},
        {"::", 3000, "::1"},
        {"::1", 3000, "::1"},
        {"::ffff:127.0.0.2", 3000, "127.0.0.2"},
        {"192.168.1.20", 3000, "192.168.1.20"},
        {"not an address", 3000, ""},
        {"127.0.0.1", 0, ""},
        {"127.0.0.1", 65536, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.address);
        const auto target = probeTargetFor(QString::fromLatin1(row.address), row.port);
        EXPECT_EQ(target ? target->address.toString() : QString(), QLatin1String(row.target));
    }
}
