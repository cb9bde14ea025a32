// The SSH source against a real sshd: as root in a private network namespace,
// else as the user. Skips where none can run.
#include "private_sshd.h"
#include "sources/ssh/ssh_source.h"

#include <gtest/gtest.h>

namespace {

ScanResult scanOnce(SshSource& source) {
    return scanAndWait(source, ScanFilter{1, 65535, QSet<QString>{QStringLiteral("node")}});
}

std::optional<ListeningPort> rowOf(const ScanResult& result, qint64 port) {
    for (const ListeningPort& p : result.ports) {
        if (p.port == port && p.process == QLatin1String("node"))
            return p;
    }
    return std::nullopt;
}

} // namespace

TEST(RealSshd, ListsForwardsReconnectsAndLeavesNothing) {
    PrivateSshd host;
    if (const QString skip = host.start(); !skip.isEmpty())
        GTEST_SKIP() << qPrintable(skip);
    const bool root = host.root;
    const QString user = host.user;
    const QString dir = host.dir;
    Sshd& sshd = *host.sshd;

    ListenerProcess node(QStringLiteral("node"), QStringLiteral("0"), {QStringLiteral("--greet")});
    ASSERT_TRUE(node.isListening());
    const QString destination = host.destination();

    auto source = std::make_unique<SshSource>(destination);
    // The first scan waits for the connection.
    ScanResult result = scanOnce(*source);
    // An sshd of an ordinary user lets in only that user, with a login shell.
    if (!root && !result.ok())
        GTEST_SKIP() << "cannot log in to an sshd run as " << qPrintable(user) << ": "
                     << qPrintable(result.error);
    ASSERT_TRUE(result.ok()) << qPrintable(result.error);
    std::optional<ListeningPort> row = rowOf(result, node.port());
    ASSERT_TRUE(row.has_value());
    EXPECT_EQ(row->host, destination);
    EXPECT_EQ(row->pid, node.pid());

    // Forwarded: this machine holds the port already, so another one is used.
    qint64 local = 0;
    QString error;
    bool forwarded = false;
    source->forward(node.port(), 0, [&](qint64 port, const QString& why) {
        local = port;
        error = why;
        forwarded = true;
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return forwarded; }, 10000));
    ASSERT_GT(local, 0) << qPrintable(error);
    EXPECT_NE(local, node.port());
    EXPECT_EQ(greeting(local), "hello from node\n");
    EXPECT_EQ(source->forwards().size(), 1);
    EXPECT_EQ(source->forwards().value(0).remotePort, node.port());
    EXPECT_EQ(source->forwards().value(0).localPort, local);
    // The forward's local listener is the source's own.
    EXPECT_TRUE(scanOnce(*source).forwardedPorts.contains(local));

    // The host goes away: "not connected" with ssh's reason within 10 s.
    sshd.stop();
    QDeadlineTimer notConnected(10000);
    while (!notConnected.hasExpired()) {
        result = scanOnce(*source);
        if (!result.ok())
            break;
        QTest::qWait(200);
    }
    ASSERT_FALSE(result.ok()) << "still connected 10 s after sshd stopped";
    EXPECT_FALSE(source->isConnected());
    std::printf("not connected: %s\n", qPrintable(result.error));

    // Back again: the row returns, and so does the forward.
    ASSERT_TRUE(sshd.start());
    QDeadlineTimer back(40000);
    while (!back.hasExpired() && !rowOf(result, node.port())) {
        QTest::qWait(500);
        result = scanOnce(*source);
    }
    ASSERT_TRUE(rowOf(result, node.port()).has_value()) << qPrintable(result.error);
    EXPECT_TRUE(QTest::qWaitFor([&] { return greeting(local) == "hello from node\n"; }, 10000));

    // Gone: no forward and no ssh process of the source is left.
    source.reset();
    const QByteArray marker = QFile::encodeName(dir + "/ssh_config");
    EXPECT_TRUE(QTest::qWaitFor([&] { return processesWith(marker).isEmpty(); }, 5000))
        << processesWith(marker).size() << " ssh processes left";
    EXPECT_TRUE(greeting(local).isEmpty());

    // The command line's --forward: the URL printed, the forward held until
    // SIGINT, then cancelled with nothing left.
    QProcess command;
    command.start(QStringLiteral(HW_PROGRAM_PATH),
                  {QStringLiteral("--host"), destination, QStringLiteral("--forward"),
                   QString::number(node.port())});
    ASSERT_TRUE(QTest::qWaitFor([&] { return command.canReadLine(); }, 15000))
        << command.readAllStandardError().toStdString();
    const QByteArray url = command.readLine().trimmed();
    ASSERT_TRUE(url.startsWith("http://localhost:")) << url.toStdString();
    const qint64 held = url.mid(url.lastIndexOf(':') + 1).toLongLong();
    // Then the forward's state, as it changes.
    ASSERT_TRUE(QTest::qWaitFor([&] { return command.canReadLine(); }, 15000));
    EXPECT_EQ(
        command.readLine(),
        QStringLiteral("forward %1 -> localhost:%2 ok\n").arg(node.port()).arg(held).toUtf8());
    EXPECT_EQ(greeting(held), "hello from node\n");
    ::kill(pid_t(command.processId()), SIGINT);
    ASSERT_TRUE(command.waitForFinished(10000));
    EXPECT_EQ(command.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(command.exitCode(), 0) << command.readAllStandardError().toStdString();
    EXPECT_TRUE(greeting(held).isEmpty());
    EXPECT_TRUE(QTest::qWaitFor([&] { return processesWith(marker).isEmpty(); }, 5000))
        << processesWith(marker).size() << " ssh processes left by --forward";
}
