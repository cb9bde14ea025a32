// What answers on a listed port is looked at once per process, again only when
// asked and old, never on a poll, and not at all while the setting is off.
#include "monitor_fixture.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

namespace {

// A web server on a loopback port of the test's own that counts the
// connections it takes.
class CountingServer : public QObject {
public:
    CountingServer() {
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection()) {
                ++connections;
                connect(socket, &QTcpSocket::readyRead, socket, [socket] {
                    if (!socket->readAll().contains("\r\n\r\n"))
                        return;
                    socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nConnection: "
                                  "close\r\n\r\n<title>Counted</title>");
                    socket->disconnectFromHost();
                });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
        m_server.listen(QHostAddress::LocalHost);
    }
    qint64 port() const { return m_server.serverPort(); }
    int connections = 0;

private:
    QTcpServer m_server;
};

TEST_F(PortMonitorTest, WhatAnswersIsLookedAtOncePerProcessAndNeverOnAPoll) {
    CountingServer server;
    ASSERT_GT(server.port(), 0);
    PortMonitor& m = makeMonitor();
    const ListeningPort web{server.port(), 4242, "python3", 7, "127.0.0.1"};
    store->set(settings::minPort, qint64(1024));
    store->set(settings::maxPort, qint64(65535));
    scanWith({web});
    ASSERT_TRUE(QTest::qWaitFor([&] { return m.answersSettled() && m.details(web).answer; }, 5000));
    EXPECT_EQ(m.details(web).answer->kind, PortAnswer::Kind::Http);
    EXPECT_EQ(m.details(web).answer->title, "Counted");
    EXPECT_EQ(m.present(web).kind(), "Counted");
    const int afterFirstLook = server.connections;
    EXPECT_GE(afterFirstLook, 1);

    // Quiet polls: no connection at all; an early refresh neither.
    for (int i = 0; i < 5; ++i)
        scanWith({web});
    m.refreshAnswers();
    QTest::qWait(200);
    EXPECT_EQ(server.connections, afterFirstLook);

    // Another process on the port is another server: looked at anew.
    const ListeningPort restarted{web.port, 4243, "python3", 8, "127.0.0.1"};
    scanWith({restarted});
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.connections > afterFirstLook; }, 5000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return m.answersSettled(); }, 5000));
    const int afterRestart = server.connections;

    // Off: what was found is forgotten and nothing connects.
    store->set(settings::probe, false);
    EXPECT_FALSE(m.details(restarted).answer.has_value());
    scanWith({{web.port, 4244, "python3", 9, "127.0.0.1"}}); // a new process, not looked at
    m.refreshAnswers();
    QTest::qWait(200);
    EXPECT_EQ(server.connections, afterRestart);
}

} // namespace
