// The built program's command line with real listeners, run as a script
// would: no display, no Wayland, no session bus, and a settings file of its
// own that allows only this test's listener name in a narrow range.
#include "test_support.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalServer>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>
#include <iostream>

namespace {

const QString program = QStringLiteral(HW_PROGRAM_PATH);
const QString listenerPath = QStringLiteral(HW_LISTENER_PATH);
// Listeners in range take ports from this band; "outside" ones from the next.
const QString inRange = QStringLiteral("41000-41999");
const QString outOfRange = QStringLiteral("42000-42999");

struct Finished {
    int exitCode = -1;
    QByteArray out;
    QString err;
};

class CommandLineProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(config.isValid());
        ASSERT_TRUE(QDir().mkpath(config.filePath(QStringLiteral("harborwatch"))));
        QFile settings(config.filePath(QStringLiteral("harborwatch/settings.json")));
        ASSERT_TRUE(settings.open(QIODevice::WriteOnly));
        const QJsonObject stored{{QStringLiteral("minPort"), 41000},
                                 {QStringLiteral("maxPort"), 41999},
                                 {QStringLiteral("allowlist"), QJsonArray{name}}};
        settings.write(QJsonDocument(stored).toJson());
    }

    void start(QProcess& process, const QStringList& arguments) const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* variable :
             {"DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "QT_QPA_PLATFORM"})
            env.remove(QString::fromLatin1(variable));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
        for (auto it = environment.cbegin(); it != environment.cend(); ++it)
            env.insert(it.key(), it.value());
        process.setProcessEnvironment(env);
        process.start(program, arguments);
    }

    Finished run(const QStringList& arguments) const {
        QProcess process;
        start(process, arguments);
        Finished result;
        if (!process.waitForFinished(30000))
            return result;
        if (process.exitStatus() == QProcess::NormalExit)
            result.exitCode = process.exitCode();
        result.out = process.readAllStandardOutput();
        result.err = QString::fromUtf8(process.readAllStandardError());
        return result;
    }

    // A name no other process on the machine has (the kernel keeps 15 bytes).
    const QString name =
        QStringLiteral("hwcli%1").arg(QCoreApplication::applicationPid() % 1000000);
    QTemporaryDir config;
    QMap<QString, QString> environment; // more for the program
};

// Reads lines until `count` have arrived or the time is up.
QList<QByteArray> readLines(QProcess& process, qsizetype count, int ms = 20000) {
    QList<QByteArray> lines;
    QDeadlineTimer deadline(ms);
    while (lines.size() < count && !deadline.hasExpired()) {
        if (!process.canReadLine() && !process.waitForReadyRead(int(deadline.remainingTime())))
            break;
        while (process.canReadLine())
            lines.append(process.readLine().trimmed());
    }
    return lines;
}

} // namespace

TEST_F(CommandLineProgramTest, ListJsonHoldsExactlyTheAllowedServersInRange) {
    ListenerProcess listed(name, inRange);
    ListenerProcess outside(name, outOfRange);
    ListenerProcess otherName(QStringLiteral("hwcli-other"), inRange);
    ASSERT_TRUE(listed.isListening() && outside.isListening() && otherName.isListening());

    const Finished result = run({QStringLiteral("--list"), QStringLiteral("--json")});
    ASSERT_EQ(result.exitCode, 0) << result.err.toStdString();
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(result.out, &error);
    ASSERT_TRUE(doc.isArray()) << error.errorString().toStdString() << result.out.toStdString();
    ASSERT_EQ(doc.array().size(), 1) << result.out.toStdString();

    const QJsonObject server = doc.array().first().toObject();
    EXPECT_EQ(server.value(QStringLiteral("port")).toInteger(), listed.port());
    EXPECT_EQ(server.value(QStringLiteral("pid")).toInteger(), listed.pid());
    EXPECT_EQ(server.value(QStringLiteral("process")).toString(), name);
    EXPECT_EQ(server.value(QStringLiteral("url")).toString(),
              QStringLiteral("http://localhost:%1").arg(listed.port()));
    EXPECT_EQ(server.value(QStringLiteral("address")).toString(), QStringLiteral("127.0.0.1"));
    EXPECT_EQ(server.value(QStringLiteral("folder")).toString(), QDir::current().canonicalPath());
    EXPECT_TRUE(server.value(QStringLiteral("project")).isString());
    EXPECT_EQ(server.value(QStringLiteral("command")).toArray(),
              QJsonArray({listenerPath, name, inRange}));
    const QDateTime started =
        QDateTime::fromString(server.value(QStringLiteral("started")).toString(), Qt::ISODate);
    ASSERT_TRUE(started.isValid()) << result.out.toStdString();
    EXPECT_EQ(started.timeSpec(), Qt::UTC);
    EXPECT_LT(qAbs(started.secsTo(QDateTime::currentDateTimeUtc())), 120);

    // --range and --all widen the view for one call.
    const Finished ranged = run({QStringLiteral("--list"), QStringLiteral("--json"),
                                 QStringLiteral("--range"), QStringLiteral("41000-42999")});
    ASSERT_EQ(ranged.exitCode, 0) << ranged.err.toStdString();
    EXPECT_EQ(QJsonDocument::fromJson(ranged.out).array().size(), 2);
    const Finished all = run({QStringLiteral("--list"), QStringLiteral("--all")});
    ASSERT_EQ(all.exitCode, 0) << all.err.toStdString();
    for (const ListenerProcess* listener : {&listed, &outside, &otherName})
        EXPECT_TRUE(all.out.contains(QByteArray::number(listener->port()) + "  " +
                                     QByteArray::number(listener->pid())))
            << all.out.toStdString();
}

TEST_F(CommandLineProgramTest, StopEndsTheListedServerAndRefusesAPortNobodyLists) {
    ListenerProcess listed(name, inRange);
    ListenerProcess outside(name, outOfRange);
    ASSERT_TRUE(listed.isListening() && outside.isListening());

    const Finished notListed = run({QStringLiteral("--stop"), QString::number(outside.port())});
    EXPECT_EQ(notListed.exitCode, 1);
    EXPECT_TRUE(notListed.err.contains(QString::number(outside.port())))
        << notListed.err.toStdString();
    EXPECT_FALSE(outside.waitForExit(500));

    const Finished stopped = run({QStringLiteral("--stop"), QString::number(listed.port())});
    EXPECT_EQ(stopped.exitCode, 0) << stopped.err.toStdString();
    ASSERT_TRUE(listed.waitForExit(10000));
    EXPECT_EQ(listed.exitCode(), 0); // it ended through its SIGTERM handler
}

TEST_F(CommandLineProgramTest, WatchJsonPrintsAServerThatStartsAndStopsThenEndsOnSigint) {
    ListenerProcess before(name, inRange);
    ASSERT_TRUE(before.isListening());
    QProcess watch;
    start(watch,
          {QStringLiteral("--watch"), QStringLiteral("--json"), QStringLiteral("--initial")});
    ASSERT_TRUE(watch.waitForStarted(10000));

    const auto lineFor = [](const QByteArray& line) {
        return QJsonDocument::fromJson(line).object();
    };
    QList<QByteArray> lines = readLines(watch, 1);
    ASSERT_EQ(lines.size(), 1) << watch.readAllStandardError().toStdString();
    EXPECT_EQ(lineFor(lines[0]).value(QStringLiteral("event")).toString(),
              QStringLiteral("started"));
    EXPECT_EQ(lineFor(lines[0]).value(QStringLiteral("port")).toInteger(), before.port());

    auto during = std::make_unique<ListenerProcess>(name, inRange);
    ASSERT_TRUE(during->isListening());
    const qint64 port = during->port();
    const qint64 pid = during->pid();
    lines = readLines(watch, 1);
    ASSERT_EQ(lines.size(), 1);
    const QJsonObject started = lineFor(lines[0]);
    EXPECT_EQ(started.value(QStringLiteral("event")).toString(), QStringLiteral("started"));
    EXPECT_EQ(started.value(QStringLiteral("port")).toInteger(), port);
    EXPECT_EQ(started.value(QStringLiteral("pid")).toInteger(), pid);
    EXPECT_EQ(started.value(QStringLiteral("process")).toString(), name);

    during.reset();
    lines = readLines(watch, 1);
    ASSERT_EQ(lines.size(), 1);
    const QJsonObject stopped = lineFor(lines[0]);
    EXPECT_EQ(stopped.value(QStringLiteral("event")).toString(), QStringLiteral("stopped"));
    EXPECT_EQ(stopped.value(QStringLiteral("port")).toInteger(), port);
    EXPECT_EQ(stopped.value(QStringLiteral("pid")).toInteger(), pid);

    ::kill(pid_t(watch.processId()), SIGINT);
    ASSERT_TRUE(watch.waitForFinished(15000));
    EXPECT_EQ(watch.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(watch.exitCode(), 0) << watch.readAllStandardError().toStdString();
    EXPECT_EQ(watch.readAllStandardOutput(), QByteArray()); // nothing about `before`
}

TEST_F(CommandLineProgramTest, ABadOptionOrValueIsOneLineAndStatusTwo) {
    for (const QStringList& arguments :
         {QStringList{QStringLiteral("--bogus")},
          QStringList{QStringLiteral("--stop"), QStringLiteral("http")},
          QStringList{QStringLiteral("--list"), QStringLiteral("--range"),
                      QStringLiteral("9-1")}}) {
        const Finished result = run(arguments);
        EXPECT_EQ(result.exitCode, 2) << arguments.join(' ').toStdString();
        EXPECT_EQ(result.err.count(QLatin1Char('\n')), 1) << result.err.toStdString();
        EXPECT_TRUE(result.err.contains(QString(arguments.last()).remove(QStringLiteral("--"))))
            << result.err.toStdString();
        EXPECT_TRUE(result.out.isEmpty());
    }
}

// A host out of reach ends every command with status 1 and ssh's reason,
// named after the host, on one line.
TEST_F(CommandLineProgramTest, AHostOutOfReachIsStatusOneWithTheReason) {
    if (QStandardPaths::findExecutable(QStringLiteral("ssh")).isEmpty())
        GTEST_SKIP() << "no ssh (Debian package openssh-client)";
    const QString host = QStringLiteral("ssh://nobody@127.0.0.1:1"); // nothing listens on port 1
    for (const QStringList& arguments :
         {QStringList{QStringLiteral("--list")}, QStringList{QStringLiteral("--watch")},
          QStringList{QStringLiteral("--stop"), QStringLiteral("5173")},
          QStringList{QStringLiteral("--forward"), QStringLiteral("5173")}}) {
        const Finished result = run(QStringList{QStringLiteral("--host"), host} + arguments);
        EXPECT_EQ(result.exitCode, 1) << arguments.join(' ').toStdString();
        EXPECT_TRUE(result.err.startsWith("harborwatch: " + host + ": not connected — "))
            << result.err.toStdString();
        EXPECT_TRUE(result.out.isEmpty());
    }
}

// A container engine that takes the connection and never answers is told:
// by --list on stderr once it has waited for it, by --watch as the problem
// starts and ends (on stderr, or with --json among the events on stdout).
TEST_F(CommandLineProgramTest, AnEngineThatDoesNotAnswerIsTold) {
    QTemporaryDir runtime;
    ASSERT_TRUE(runtime.isValid());
    const QString socket = runtime.filePath(QStringLiteral("docker.sock"));
    environment.insert(QStringLiteral("DOCKER_HOST"), QStringLiteral("unix://") + socket);
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    const QString problem = QStringLiteral("Containers unavailable: Docker does not answer");
    QLocalServer stalled; // never accepts: the connections wait in its backlog
    ASSERT_TRUE(stalled.listen(socket));

    QElapsedTimer took;
    took.start();
    const Finished list = run({QStringLiteral("--list")});
    EXPECT_EQ(list.exitCode, 0);
    EXPECT_EQ(list.err, "harborwatch: " + problem + "\n");
    EXPECT_LT(took.elapsed(), 8000);
    std::cout << "[ cli      ] --list told the problem after " << took.elapsed() << " ms"
              << std::endl;

    for (const bool json : {false, true}) {
        SCOPED_TRACE(json);
        if (!stalled.isListening()) {
            ASSERT_TRUE(stalled.listen(socket));
        }
        QProcess watch;
        watch.setReadChannel(json ? QProcess::StandardOutput : QProcess::StandardError);
        QStringList arguments{QStringLiteral("--watch")};
        if (json)
            arguments.append(QStringLiteral("--json"));
        start(watch, arguments);
        ASSERT_TRUE(watch.waitForStarted(10000));
        QList<QByteArray> lines = readLines(watch, 1);
        ASSERT_EQ(lines.size(), 1);
        stalled.close();
        lines += readLines(watch, 1);
        ASSERT_EQ(lines.size(), 2);
        if (json) {
            const QJsonObject started = QJsonDocument::fromJson(lines[0]).object();
            EXPECT_EQ(started.value(QStringLiteral("event")).toString(), QStringLiteral("problem"));
            EXPECT_EQ(started.value(QStringLiteral("source")).toString(),
                      QStringLiteral("containers"));
            EXPECT_EQ(started.value(QStringLiteral("text")).toString(), problem);
            EXPECT_TRUE(
                QDateTime::fromString(started.value(QStringLiteral("time")).toString(), Qt::ISODate)
                    .isValid());
            const QJsonObject ended = QJsonDocument::fromJson(lines[1]).object();
            EXPECT_EQ(ended.value(QStringLiteral("event")).toString(),
                      QStringLiteral("problem-ended"));
            EXPECT_EQ(ended.value(QStringLiteral("source")).toString(),
                      QStringLiteral("containers"));
        } else {
            EXPECT_EQ(lines[0], "harborwatch: " + problem.toUtf8());
            EXPECT_EQ(lines[1], QByteArray("harborwatch: Containers available again"));
        }
        ::kill(pid_t(watch.processId()), SIGINT);
        ASSERT_TRUE(watch.waitForFinished(15000));
        EXPECT_EQ(watch.exitCode(), 0);
    }
}
