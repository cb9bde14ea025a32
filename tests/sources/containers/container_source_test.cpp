// The source against a stand-in engine on a unix socket of the test's own,
// which misbehaves on request: the source reports a problem line, goes on
// answering scans at once, and recovers when the engine does.
#include "sources/containers/container_source.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTimer>

#include <functional>
#include <iostream>

namespace {

enum class Fault {
    None,
    Stall,        // accepts the request and never answers
    Truncate,     // closes in the middle of the body
    Flood,        // a body past the size limit
    InvalidJson,  // a body that is no JSON
    OldApi,       // refuses the API version, in plain text as Docker does
    EngineTooOld, // /version names an API older than any this program reads
};

struct Container {
    QString id;
    QString name;
    qint64 port;
};

// Answers the engine's API for a list of containers, one connection per
// request, as Docker does with "Connection: close".
class FakeEngine {
public:
    explicit FakeEngine(QString path) : m_path(std::move(path)) {
        QObject::connect(&m_server, &QLocalServer::newConnection, [this] {
            while (QLocalSocket* socket = m_server.nextPendingConnection())
                accept(socket);
        });
    }
    ~FakeEngine() { closeStreams(); }

    bool listen() { return m_server.listen(m_path); }
    // Removes the socket; the event streams end too unless `streams` is false.
    void close(bool streams = true) {
        if (streams)
            closeStreams();
        m_server.close();
    }

    QList<Container> containers;
    Fault listFault = Fault::None;
    Fault versionFault = Fault::None;
    // POST .../stop: the status and body to answer, or a stall.
    int stopStatus = 204;
    QByteArray stopBody;
    int requests = 0;
    int eventStreams = 0; // event streams asked for
    int inspections = 0;  // GET /containers/{id}/json
    // Podman sends an event stream's head only with the first event.
    bool holdEventsHead = false;

    // Tells every event stream that something happened to a container.
    void event(const QByteArray& action = "start", const QByteArray& id = "aaaa1111") {
        const QByteArray line =
            R"({"Type":"container","Action":")" + action + R"(","id":")" + id + "\"}\n";
        for (const auto& stream : m_streams) {
            if (!stream)
                continue;
            if (stream->property("held").toBool()) {
                stream->write(kEventsHead);
                stream->setProperty("held", false);
            }
            stream->write(QByteArray::number(line.size(), 16) + "\r\n" + line + "\r\n");
        }
    }
    // Ends the event streams, as an engine that restarts does.
    void closeStreams() {
        for (const auto& stream : m_streams) {
            if (stream)
                stream->disconnectFromServer();
        }
        m_streams.clear();
    }
    int openStreams() const {
        int open = 0;
        for (const auto& stream : m_streams)
            open += stream && stream->state() == QLocalSocket::ConnectedState;
        return open;
    }

private:
    void accept(QLocalSocket* socket) {
        QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        auto* request = new QByteArray;
        QObject::connect(socket, &QObject::destroyed, [request] { delete request; });
        QObject::connect(socket, &QLocalSocket::readyRead, socket, [this, socket, request] {
            request->append(socket->readAll());
            const qsizetype end = request->indexOf("\r\n\r\n");
            if (end < 0)
                return;
            const QList<QByteArray> words = request->first(request->indexOf("\r\n")).split(' ');
            request->clear();
            if (words.size() == 3) {
                ++requests;
                answer(socket, words[0], words[1]);
            }
        });
    }

    static void reply(QLocalSocket* socket, int status, const QByteArray& body,
                      const QByteArray& type = "application/json") {
        socket->write("HTTP/1.1 " + QByteArray::number(status) + " Whatever\r\nContent-Type: " +
                      type + "\r\nContent-Length: " + QByteArray::number(body.size()) +
                      "\r\nConnection: close\r\n\r\n" + body);
        socket->disconnectFromServer();
    }

    // Answers as the fault says; true when it did so.
    static bool misbehave(QLocalSocket* socket, Fault fault) {
        switch (fault) {
        case Fault::None:
        case Fault::EngineTooOld:
            return false;
        case Fault::Stall:
            return true;
        case Fault::Truncate:
            socket->write("HTTP/1.1 200 OK\r\nContent-Length: 500\r\n\r\n[{\"Id\":\"a\"");
            socket->disconnectFromServer();
            return true;
        case Fault::Flood:
            socket->write("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n");
            for (int i = 0; i < 9; ++i) {
                const QByteArray chunk(1024 * 1024, ' ');
                socket->write(QByteArray::number(chunk.size(), 16) + "\r\n" + chunk + "\r\n");
            }
            socket->write("0\r\n\r\n");
            socket->disconnectFromServer();
            return true;
        case Fault::InvalidJson:
            reply(socket, 200, "[{\"Id\":\"a\",");
            return true;
        case Fault::OldApi:
            reply(socket, 400,
                  "client version 1.41 is too old. Minimum supported API version is 1.44, please "
                  "upgrade your client to a newer version\n",
                  "text/plain; charset=utf-8");
            return true;
        }
        return false;
    }

    void answer(QLocalSocket* socket, const QByteArray& method, const QByteArray& target) {
        if (target == "/version") {
            if (misbehave(socket, versionFault))
                return;
            const char* api = versionFault == Fault::EngineTooOld ? "1.19" : "1.41";
            return reply(socket, 200,
                         R"({"Version":"20.10.24","ApiVersion":")" + QByteArray(api) +
                             R"(","MinAPIVersion":"1.12","Components":[{"Name":"Engine"}]})");
        }
        if (target.startsWith("/v1.41/events?filters=")) {
            ++eventStreams;
            if (holdEventsHead)
                socket->setProperty("held", true);
            else
                socket->write(kEventsHead);
            m_streams.append(socket);
            return;
        }
        if (target == "/v1.41/containers/json") {
            if (misbehave(socket, listFault))
                return;
            QJsonArray list;
            for (const Container& c : containers) {
                list.append(QJsonObject{
                    {"Id", c.id},
                    {"Names", QJsonArray{"/" + c.name}},
                    {"Image", "busybox:latest"},
                    {"State", "running"},
                    {"Labels", QJsonObject{{"com.docker.compose.project.working_dir",
                                            "/home/ann/src/" + c.name}}},
                    {"Ports", QJsonArray{QJsonObject{{"IP", "0.0.0.0"},
                                                     {"PrivatePort", 80},
                                                     {"PublicPort", c.port},
                                                     {"Type", "tcp"}}}},
                });
            }
            return reply(socket, 200, QJsonDocument(list).toJson(QJsonDocument::Compact));
        }
        for (const Container& c : containers) {
            const QByteArray base = "/v1.41/containers/" + c.id.toLatin1();
            if (method == "POST" && target == base + "/stop") {
                if (stopStatus == 0)
                    return; // stalls
                return reply(socket, stopStatus, stopBody);
            }
            if (method == "GET" && target == base + "/json") {
                ++inspections;
                return reply(socket, 200,
                             R"({"State":{"Running":true},"Path":"/bin/busybox",)"
                             R"("Args":["httpd","-f","-p","80"]})");
            }
        }
        reply(socket, 404, R"({"message":"page not found"})");
    }

    static constexpr const char* kEventsHead =
        "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n"
        "Transfer-Encoding: chunked\r\n\r\n";
    QString m_path;
    QLocalServer m_server;
    QList<QPointer<QLocalSocket>> m_streams;
};

// Runs the event loop until `condition` holds or `ms` pass.
bool waitFor(const std::function<bool()>& condition, int ms = 5000) {
    const QDeadlineTimer deadline(ms);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

ContainerSourceTiming quickTiming() {
    ContainerSourceTiming timing;
    timing.firstRetry = 50;
    timing.lastRetry = 200;
    timing.idleCheck = 50;
    // Long enough for an 8 MiB flood to reach its cap under sanitizers on a
    // busy machine, short enough for the stalls to end soon.
    timing.request = 2000;
    timing.stop = 400;
    timing.relistDelay = 10;
    timing.patience = 300;
    timing.staleList = 1500;
    return timing;
}

class Fixture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        m_path = m_dir.filePath(QStringLiteral("engine.sock"));
        m_engine = std::make_unique<FakeEngine>(m_path);
        m_engine->containers = {{"aaaa1111", "shop-web-1", 48080}};
        // The longest the event loop waits for anything while the test runs.
        QObject::connect(&m_tick, &QTimer::timeout,
                         [this] { m_longestGap = std::max(m_longestGap, m_sinceTick.restart()); });
        m_sinceTick.start();
        m_tick.start(5);
    }

    bool lists(const ContainerSource& source, qint64 port) {
        return waitFor([&] {
            const auto ports = source.ports();
            return std::any_of(ports.begin(), ports.end(),
                               [&](const ListeningPort& p) { return p.port == port; });
        });
    }

    QTemporaryDir m_dir;
    QString m_path;
    std::unique_ptr<FakeEngine> m_engine;
    QTimer m_tick;
    QElapsedTimer m_sinceTick;
    qint64 m_longestGap = 0;
};

struct FaultCase {
    const char* name;
    Fault list;
    Fault version;
    const char* problem;
};

class Misbehaving : public Fixture, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(Misbehaving, ShowsAProblemAndRecovers) {
    const FaultCase& row = GetParam();
    // No socket yet: nothing to report, nothing listed, and the engine is
    // found when it appears.
    ContainerSource source({{m_path, false}}, quickTiming(), m_dir.path());
    QCoreApplication::processEvents();
    EXPECT_TRUE(source.problem().isEmpty());
    ASSERT_TRUE(m_engine->listen());
    ASSERT_TRUE(lists(source, 48080));
    EXPECT_TRUE(source.problem().isEmpty());

    // A container started later is listed through the event stream.
    m_engine->containers.append({"bbbb2222", "shop-api-1", 48081});
    m_engine->event();
    ASSERT_TRUE(lists(source, 48081));

    // Scans go on: answered from the event loop, at once.
    const auto scan = [&source] {
        QElapsedTimer timer;
        timer.start();
        bool answered = false;
        ScanResult result;
        EXPECT_TRUE(source.scan({0, 65535, std::nullopt}, [&](ScanResult r) {
            result = std::move(r);
            answered = true;
        }));
        EXPECT_FALSE(answered) << "answered inside scan()";
        EXPECT_TRUE(source.isScanning());
        EXPECT_TRUE(waitFor([&] { return answered; }, 1000));
        EXPECT_LT(timer.elapsed(), 200);
        EXPECT_TRUE(result.ok());
        return result;
    };

    // The engine restarts and misbehaves: the list it gave last stands with
    // the problem for a while.
    m_engine->listFault = row.list;
    m_engine->versionFault = row.version;
    m_engine->closeStreams();
    ASSERT_TRUE(waitFor([&] { return !source.problem().isEmpty(); }));
    const ScanResult stale = scan();
    EXPECT_EQ(stale.ports.size(), 2);
    EXPECT_EQ(stale.problems.value(SourceId{}), source.problem());
    EXPECT_TRUE(stale.standingLists.contains(SourceId{}));
    ASSERT_TRUE(waitFor([&] { return source.problem().contains(QLatin1String(row.problem)); }))
        << qPrintable(source.problem());
    EXPECT_TRUE(source.problem().startsWith(QLatin1String("Containers unavailable: ")));
    EXPECT_FALSE(source.problem().contains(QLatin1Char('\n')));
    ASSERT_TRUE(waitFor([&] { return source.ports().isEmpty(); }, 5000));
    EXPECT_TRUE(scan().ports.isEmpty());

    // The engine is well again: the problem goes, the ports come back.
    m_engine->listFault = Fault::None;
    m_engine->versionFault = Fault::None;
    ASSERT_TRUE(lists(source, 48081));
    EXPECT_TRUE(waitFor([&] { return source.problem().isEmpty(); }))
        << qPrintable(source.problem());
    // Never blocked: the test's timer ticked throughout (generously bounded
    // for sanitizer builds on a shared machine).
    EXPECT_LT(m_longestGap, 500);
}

INSTANTIATE_TEST_SUITE_P(
    Engine, Misbehaving,
    ::testing::Values(
        FaultCase{"stall", Fault::Stall, Fault::None, "Docker does not answer"},
        FaultCase{"stall_version", Fault::None, Fault::Stall, "Docker does not answer"},
        FaultCase{"truncate", Fault::Truncate, Fault::None, "in the middle of its reply"},
        FaultCase{"flood", Fault::Flood, Fault::None, "larger than 8 MiB"},
        FaultCase{"invalid_json", Fault::InvalidJson, Fault::None, "not valid JSON"},
        FaultCase{"old_api", Fault::OldApi, Fault::None, "the engine refused: client version 1.41"},
        FaultCase{"engine_too_old", Fault::None, Fault::EngineTooOld, "1.19 is older than 1.24"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Fixture, ReadsDetailsAndStopsThroughTheEngine) {
    ASSERT_TRUE(m_engine->listen());
    ContainerSource source({{m_path, false}}, quickTiming(), m_dir.path());
    ASSERT_TRUE(lists(source, 48080));
    const ListeningPort record = source.ports().first();
    EXPECT_EQ(record.process, QStringLiteral("shop-web-1"));
    EXPECT_EQ(record.address, QStringLiteral("0.0.0.0"));

    const ServerDetails details = source.details(record);
    EXPECT_EQ(details.folder, QStringLiteral("/home/ann/src/shop-web-1"));
    EXPECT_EQ(details.project, QStringLiteral("shop-web-1"));
    ASSERT_TRUE(details.container.has_value());
    EXPECT_EQ(details.container->id, QStringLiteral("aaaa1111"));
    EXPECT_EQ(details.container->image, QStringLiteral("busybox:latest"));
    EXPECT_EQ(details.container->engine, QStringLiteral("Docker"));

    struct StopCase {
        int status; // 0: no answer
        QByteArray body;
        StopOutcome outcome;
        const char* reason;
    };
    const StopCase rows[] = {
        {204, {}, StopOutcome::Delivered, ""},
        {304, {}, StopOutcome::Exited, "it exited already"},
        {500, R"({"message":"cannot stop container: permission denied"})", StopOutcome::Failed,
         "the engine refused: cannot stop container: permission denied"},
        {0, {}, StopOutcome::Failed, "the engine did not answer"},
    };
    for (const StopCase& row : rows) {
        SCOPED_TRACE(row.status);
        m_engine->stopStatus = row.status;
        m_engine->stopBody = row.body;
        std::optional<StopResult> result;
        source.stop(record, false, [&](StopResult r) { result = r; });
        ASSERT_TRUE(waitFor([&] { return result.has_value(); }));
        EXPECT_EQ(result->outcome, row.outcome);
        EXPECT_EQ(result->reason, QLatin1String(row.reason));
    }
    std::optional<bool> runs;
    source.stillRuns(record, [&](bool r) { runs = r; });
    ASSERT_TRUE(waitFor([&] { return runs.has_value(); }));
    EXPECT_TRUE(*runs);

    // A record the source does not list is refused without asking the engine.
    std::optional<StopResult> refused;
    source.stop({48080, 0, QStringLiteral("someone-else")}, true,
                [&](StopResult r) { refused = r; });
    ASSERT_TRUE(waitFor([&] { return refused.has_value(); }));
    EXPECT_EQ(refused->outcome, StopOutcome::NotListed);
}

TEST_F(Fixture, ConnectsToPodmanOnlyWhileOneOfItsContainersRuns) {
    // A stand-in process folder: no conmon process at first.
    QTemporaryDir proc;
    ASSERT_TRUE(proc.isValid());
    m_engine->holdEventsHead = true;
    ASSERT_TRUE(m_engine->listen());
    ContainerSource source({{m_path, true}}, quickTiming(), proc.path());
    waitFor([] { return false; }, 300);
    EXPECT_EQ(m_engine->requests, 0) << "connected to an idle engine";
    EXPECT_TRUE(source.problem().isEmpty());

    ASSERT_TRUE(QDir(proc.path()).mkdir(QStringLiteral("4242")));
    QFile comm(proc.filePath(QStringLiteral("4242/comm")));
    ASSERT_TRUE(comm.open(QIODevice::WriteOnly));
    comm.write("conmon\n");
    comm.close();
    ASSERT_TRUE(lists(source, 48080));
    EXPECT_EQ(m_engine->openStreams(), 1);
    // A stream without its head is no stalled request.
    waitFor([] { return false; }, 2 * quickTiming().request);
    EXPECT_EQ(m_engine->eventStreams, 1);
    EXPECT_EQ(source.ports().size(), 1);

    // Its last container stopped: the stream is closed, so that the service
    // may end when idle.
    m_engine->containers.clear();
    m_engine->event("died");
    EXPECT_TRUE(waitFor([&] { return source.ports().isEmpty() && m_engine->openStreams() == 0; }));
    EXPECT_TRUE(source.problem().isEmpty());
}

// Docker told to stop removes its socket at once, reports its containers'
// deaths over the event stream while it stops them, then ends the stream.
// Its last list stands meanwhile, less what died; the socket that comes back
// is connected to at once (not after the retry's pause).
TEST_F(Fixture, AnEngineGoingAwayLeavesItsListFollowsItsDeathsAndIsFoundAgainAtOnce) {
    m_engine->containers = {{"aaaa1111", "shop-web-1", 48080}, {"bbbb2222", "shop-db-1", 48081}};
    ASSERT_TRUE(m_engine->listen());
    ContainerSourceTiming timing = quickTiming();
    timing.firstRetry = timing.lastRetry = 60000; // only the folder's watch finds it again
    timing.staleList = 60000;
    ContainerSource source({{m_path, false}}, timing, m_dir.path());
    ASSERT_TRUE(lists(source, 48081));
    const ListeningPort web = source.ports().first();
    // The command line is the engine's inspection, read once per container.
    EXPECT_EQ(source.details(web).arguments,
              QStringList({"/bin/busybox", "httpd", "-f", "-p", "80"}));
    EXPECT_EQ(m_engine->inspections, 2);

    m_engine->close(false);
    ASSERT_FALSE(QFile::exists(m_path));
    m_engine->event("die", "aaaa1111");
    ASSERT_TRUE(waitFor([&] { return source.ports().size() == 1; }));
    EXPECT_EQ(source.ports().first().process, QStringLiteral("shop-db-1"));
    m_engine->closeStreams();
    waitFor([] { return false; }, 300);
    EXPECT_EQ(source.ports().size(), 1) << "the stale list stands";
    EXPECT_TRUE(source.problem().isEmpty()) << qPrintable(source.problem());

    // Back, with another container: listed as soon as the socket is there.
    m_engine->containers = {{"cccc3333", "shop-api-1", 48082}};
    QElapsedTimer back;
    back.start();
    ASSERT_TRUE(m_engine->listen());
    ASSERT_TRUE(lists(source, 48082));
    std::cout << "[ engine   ] listed again " << back.elapsed() << " ms after the socket came back"
              << std::endl;
    EXPECT_LT(back.elapsed(), 2000);
    EXPECT_EQ(source.ports().size(), 1);
    EXPECT_EQ(m_engine->inspections, 3);

    // Asked to relist, the source asks at once: no event is needed.
    m_engine->containers.append({"dddd4444", "shop-cache-1", 48083});
    bool relisted = false;
    source.relist([&] { relisted = true; });
    EXPECT_FALSE(relisted) << "called inside relist()";
    ASSERT_TRUE(waitFor([&] { return relisted; }));
    EXPECT_EQ(source.ports().size(), 2);
}

// Gone for good: its list is dropped after a while, with no problem to tell.
TEST_F(Fixture, AListStandsOnlyForAWhile) {
    ASSERT_TRUE(m_engine->listen());
    ContainerSource source({{m_path, false}}, quickTiming(), m_dir.path());
    ASSERT_TRUE(lists(source, 48080));
    QElapsedTimer gone;
    gone.start();
    m_engine->close();
    ASSERT_TRUE(waitFor([&] { return source.ports().isEmpty(); }, 5000));
    EXPECT_GE(gone.elapsed(), quickTiming().staleList - 100);
    EXPECT_TRUE(source.problem().isEmpty()) << qPrintable(source.problem());
}

struct SocketsCase {
    const char* name;
    const char* dockerHost;
    const char* runtimeDir;
    QList<EngineSocket> sockets;
};

class EngineSockets : public ::testing::TestWithParam<SocketsCase> {};

TEST_P(EngineSockets, FollowTheEnvironment) {
    const SocketsCase& row = GetParam();
    QProcessEnvironment environment;
    if (row.dockerHost)
        environment.insert(QStringLiteral("DOCKER_HOST"), QLatin1String(row.dockerHost));
    if (row.runtimeDir)
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), QLatin1String(row.runtimeDir));
    EXPECT_EQ(defaultEngineSockets(environment), row.sockets);
}

INSTANTIATE_TEST_SUITE_P(
    Environment, EngineSockets,
    ::testing::Values(SocketsCase{"none",
                                  nullptr,
                                  nullptr,
                                  {{"/var/run/docker.sock", false},
                                   {"/run/podman/podman.sock", true}}},
                      SocketsCase{"remote_docker_host",
                                  "tcp://build-host:2375",
                                  "/run/user/1000",
                                  {{"/var/run/docker.sock", false},
                                   {"/run/user/1000/docker.sock", false},
                                   {"/run/user/1000/podman/podman.sock", true},
                                   {"/run/podman/podman.sock", true}}},
                      // Podman users point DOCKER_HOST at Podman's socket: it is listed once.
                      SocketsCase{"docker_host_is_podman",
                                  "unix:///run/user/1000/podman/podman.sock",
                                  "/run/user/1000",
                                  {{"/run/user/1000/podman/podman.sock", true},
                                   {"/run/user/1000/docker.sock", false},
                                   {"/run/podman/podman.sock", true}}}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
