// Replies of the engine's API, written after Docker's documented schema and
// what Docker 20.10 and Podman 4 send, read through the HTTP reader and the
// JSON readers.
#include "sources/containers/engine_api.h"
#include "sources/containers/http_reply.h"

#include <gtest/gtest.h>

#include <QList>
#include <QString>

namespace {

// Reads a whole reply, fed in slices of `slice` bytes (0: all at once), the
// connection closed at the end.
HttpReplyReader readReply(QByteArrayView reply, qsizetype slice,
                          qsizetype maxBody = kMaxReplyBody) {
    HttpReplyReader reader(maxBody);
    if (slice == 0) {
        reader.feed(reply);
    } else {
        for (qsizetype at = 0; at < reply.size(); at += slice)
            reader.feed(reply.sliced(at, qMin(slice, reply.size() - at)));
    }
    reader.finish();
    return reader;
}

QByteArray withLength(QByteArray head, QByteArrayView body) {
    return head.replace("@LEN@", QByteArray::number(body.size())) + body.toByteArray();
}

QByteArray chunked(QByteArrayView head, const QList<QByteArray>& chunks) {
    QByteArray text = head.toByteArray();
    for (const QByteArray& chunk : chunks)
        text += QByteArray::number(chunk.size(), 16) + "\r\n" + chunk + "\r\n";
    return text + "0\r\n\r\n";
}

const QByteArray kDockerHead = "HTTP/1.1 200 OK\r\n"
                               "Api-Version: 1.41\r\n"
                               "Content-Type: application/json\r\n"
                               "Server: Docker/20.10.24+dfsg1 (linux)\r\n"
                               "Content-Length: @LEN@\r\n"
                               "\r\n";
const QByteArray kChunkedHead = "HTTP/1.1 200 OK\r\n"
                                "Content-Type: application/json\r\n"
                                "Transfer-Encoding: chunked\r\n"
                                "\r\n";

// A compose project: a web container published on 8080 for IPv4 and IPv6 and
// on 127.0.0.1:9229, a UDP port, and a database that publishes nothing.
const QByteArray kComposeList = R"([
 {"Id":"4b038edbe48b005a0777b9ef588d41aaad3f9fbfba4e66aeae857eb88578bec0",
  "Names":["/shop-web-1"],"Image":"node:20","Command":"docker-entrypoint.sh npm start",
  "Ports":[{"IP":"::","PrivatePort":3000,"PublicPort":8080,"Type":"tcp"},
           {"IP":"0.0.0.0","PrivatePort":3000,"PublicPort":8080,"Type":"tcp"},
           {"IP":"127.0.0.1","PrivatePort":9229,"PublicPort":9229,"Type":"tcp"},
           {"IP":"0.0.0.0","PrivatePort":5353,"PublicPort":5353,"Type":"udp"},
           {"PrivatePort":4000,"Type":"tcp"}],
  "Labels":{"com.docker.compose.project":"shop","com.docker.compose.service":"web",
            "com.docker.compose.project.working_dir":"/home/ann/src/shop"},
  "State":"running","Status":"Up 5 minutes"},
 {"Id":"9f00aa11","Names":["/shop-db-1"],"Image":"postgres:16",
  "Ports":[{"PrivatePort":5432,"Type":"tcp"}],
  "Labels":{"com.docker.compose.project":"shop","com.docker.compose.service":"db"},
  "State":"running"}
])";

// Podman names no host address for a port published on all of them.
const QByteArray kPodmanList = R"([{"Id":"c0ffee00","Names":["api"],"Image":"localhost/api:dev",
  "Ports":[{"IP":"","PrivatePort":80,"PublicPort":8000,"Type":"tcp"}],"Labels":{},
  "State":"running"}])";

// Only IPv6, and a linked container's alias before its own name.
const QByteArray kIpv6List = R"([{"Id":"abc123","Names":["/proxy/web","/web"],"Image":"nginx",
  "Ports":[{"IP":"::1","PrivatePort":80,"PublicPort":8443,"Type":"tcp"}],"State":"running"}])";

struct Record {
    qint64 port;
    QString name;
    QString address;
};

struct ListCase {
    const char* name;
    QByteArray reply;
    QList<Record> records;
    int containers;
};

class RecordedList : public ::testing::TestWithParam<ListCase> {};

TEST_P(RecordedList, ReadsPublishedTcpPortsOnePerPort) {
    const ListCase& row = GetParam();
    for (const qsizetype slice : {qsizetype(0), qsizetype(1), qsizetype(7)}) {
        SCOPED_TRACE(slice);
        const HttpReplyReader reader = readReply(row.reply, slice);
        ASSERT_EQ(reader.state(), HttpReplyReader::State::Done) << qPrintable(reader.error());
        EXPECT_EQ(reader.status(), 200);
        const ContainerList list = readContainerList(reader.body());
        ASSERT_TRUE(list.ok()) << qPrintable(list.error);
        EXPECT_EQ(list.containers.size(), row.containers);
        const QList<PublishedPort> ports = publishedPorts(list.containers);
        ASSERT_EQ(ports.size(), row.records.size());
        for (qsizetype i = 0; i < ports.size(); ++i) {
            const ListeningPort& got = ports[i].record;
            EXPECT_EQ(got.port, row.records[i].port);
            EXPECT_EQ(got.process, row.records[i].name);
            EXPECT_EQ(got.address, row.records[i].address);
            EXPECT_EQ(got.pid, 0);
            EXPECT_EQ(got.startTime, 0u);
            EXPECT_EQ(got.origin, SourceId::of(SourceId::Kind::Containers));
            EXPECT_EQ(list.containers[ports[i].container].name, got.process);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Replies, RecordedList,
    ::testing::Values(
        ListCase{"compose_by_length",
                 withLength(kDockerHead, kComposeList),
                 {{8080, "shop-web-1", "0.0.0.0"}, {9229, "shop-web-1", "127.0.0.1"}},
                 2},
        ListCase{"compose_chunked",
                 chunked(kChunkedHead, {kComposeList.first(100), kComposeList.sliced(100)}),
                 {{8080, "shop-web-1", "0.0.0.0"}, {9229, "shop-web-1", "127.0.0.1"}},
                 2},
        ListCase{
            "podman_any_address", withLength(kDockerHead, kPodmanList), {{8000, "api", "*"}}, 1},
        ListCase{"ipv6_only_until_close",
                 "HTTP/1.0 200 OK\r\nContent-Type: application/json\r\n\r\n" + kIpv6List,
                 {{8443, "web", "::1"}},
                 1},
        ListCase{"empty", withLength(kDockerHead, "[]"), {}, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RecordedList, KeepsComposeLabels) {
    const ContainerList list = readContainerList(kComposeList);
    ASSERT_EQ(list.containers.size(), 2);
    const ContainerInfo& web = list.containers[0];
    EXPECT_EQ(web.id,
              QStringLiteral("4b038edbe48b005a0777b9ef588d41aaad3f9fbfba4e66aeae857eb88578bec0"));
    EXPECT_EQ(web.image, QStringLiteral("node:20"));
    EXPECT_EQ(web.project, QStringLiteral("shop"));
    EXPECT_EQ(web.service, QStringLiteral("web"));
    EXPECT_EQ(web.workingDir, QStringLiteral("/home/ann/src/shop"));
    EXPECT_EQ(web.command, QStringLiteral("docker-entrypoint.sh npm start"));
}

struct BadCase {
    const char* name;
    QByteArray reply;
    qsizetype maxBody;
    const char* error; // part of the reader's error, or of the list's when the reply reads
};

class BadReply : public ::testing::TestWithParam<BadCase> {};

TEST_P(BadReply, FailsWithAReason) {
    const BadCase& row = GetParam();
    for (const qsizetype slice : {qsizetype(0), qsizetype(1), qsizetype(5)}) {
        SCOPED_TRACE(slice);
        const HttpReplyReader reader = readReply(row.reply, slice, row.maxBody);
        QString error = reader.error();
        if (reader.state() == HttpReplyReader::State::Done)
            error = readContainerList(reader.body()).error;
        EXPECT_TRUE(error.contains(QLatin1String(row.error))) << qPrintable(error);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Replies, BadReply,
    ::testing::Values(
        BadCase{"cut_short", withLength(kDockerHead, kComposeList).chopped(10), kMaxReplyBody,
                "closed the connection in the middle"},
        BadCase{"cut_in_head", "HTTP/1.1 200 OK\r\nContent-Le", kMaxReplyBody,
                "closed the connection in the middle"},
        BadCase{"nothing", "", kMaxReplyBody, "without an answer"},
        BadCase{"chunk_cut", kChunkedHead + "20\r\n[{\"Id\":", kMaxReplyBody,
                "closed the connection in the middle"},
        BadCase{"too_long", withLength(kDockerHead, QByteArray(2000, ' ')), 1024,
                "larger than 1024 bytes"},
        BadCase{"chunks_too_long",
                chunked(kChunkedHead, QList<QByteArray>(20, QByteArray(100, ' '))), 1024,
                "larger than 1024 bytes"},
        BadCase{"until_close_too_long", "HTTP/1.1 200 OK\r\n\r\n" + QByteArray(3000, ' '), 1024,
                "larger than 1024 bytes"},
        BadCase{"not_http", "SSH-2.0-OpenSSH_9.2\r\n", kMaxReplyBody, "not HTTP"},
        BadCase{"bad_chunk", kChunkedHead + "zz\r\n", kMaxReplyBody, "malformed chunk"},
        BadCase{"bad_length", "HTTP/1.1 200 OK\r\nContent-Length: 12x\r\n\r\n", kMaxReplyBody,
                "invalid length"},
        BadCase{"invalid_json", withLength(kDockerHead, "[{\"Id\": 12,"), kMaxReplyBody,
                "not valid JSON"},
        BadCase{"not_a_list", withLength(kDockerHead, R"({"message":"page not found"})"),
                kMaxReplyBody, "not a list"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(HttpReplyReader, StreamsEventsAndSkipsInterimReplies) {
    // Docker's event stream as it arrives: the head at once, one chunk per event.
    HttpReplyReader reader;
    reader.feed("HTTP/1.1 100 Continue\r\n\r\n" + kChunkedHead);
    ASSERT_EQ(reader.state(), HttpReplyReader::State::Body);
    EXPECT_EQ(reader.status(), 200);
    EXPECT_EQ(reader.header("transfer-encoding"), QByteArray("chunked"));
    const QByteArray event =
        R"({"status":"start","id":"564200fd","Type":"container","Action":"start"})"
        "\n";
    for (int i = 0; i < 3; ++i) {
        reader.feed(QByteArray::number(event.size(), 16) + "\r\n" + event.first(10));
        reader.feed(event.sliced(10) + "\r\n");
        EXPECT_EQ(reader.takeBody(), event);
    }
    EXPECT_EQ(reader.finish(), HttpReplyReader::State::Failed);
}

struct VersionCase {
    const char* name;
    QByteArray json;
    QByteArray prefix; // empty: refused
    const char* product;
};

class EngineVersions : public ::testing::TestWithParam<VersionCase> {};

TEST_P(EngineVersions, ChooseTheApiVersion) {
    const VersionCase& row = GetParam();
    const EngineVersion engine = readEngineVersion(row.json);
    QString error;
    EXPECT_EQ(engine.ok() ? apiPrefix(engine, &error) : QByteArray(), row.prefix);
    EXPECT_EQ(engine.product, QLatin1String(row.product));
    if (row.prefix.isEmpty()) {
        EXPECT_FALSE(engine.error.isEmpty() && error.isEmpty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Replies, EngineVersions,
    ::testing::Values(
        VersionCase{"docker_20_10",
                    R"({"Components":[{"Name":"Engine"}],"Version":"20.10.24+dfsg1",
                        "ApiVersion":"1.41","MinAPIVersion":"1.12"})",
                    "/v1.41", "Docker"},
        VersionCase{"podman_4",
                    R"({"Components":[{"Name":"Podman Engine","Version":"4.3.1"}],
                        "Version":"4.3.1","ApiVersion":"1.41","MinAPIVersion":"1.24"})",
                    "/v1.41", "Podman"},
        VersionCase{"docker_29_minimum_raised",
                    R"({"Version":"29.0.0","ApiVersion":"1.52","MinAPIVersion":"1.44"})", "/v1.44",
                    "Docker"},
        VersionCase{"docker_19_03", R"({"Version":"19.03.15","ApiVersion":"1.40"})", "/v1.40",
                    "Docker"},
        VersionCase{"too_old", R"({"Version":"1.12.6","ApiVersion":"1.23"})", "", "Docker"},
        VersionCase{"no_version", R"({"Version":"x"})", "", "Docker"},
        VersionCase{"not_json", "<html>", "", ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(EngineApi, ReadsRefusalsAndStateAndEscapesTheEventFilter) {
    EXPECT_EQ(engineMessage(R"({"message":"No such container: nope"})"),
              QStringLiteral("No such container: nope"));
    // Docker refuses an unsupported API version in plain text.
    EXPECT_EQ(engineMessage("client version 1.41 is too old. Minimum supported API version is "
                            "1.44, please upgrade\n"),
              QStringLiteral("client version 1.41 is too old. Minimum supported API version is "
                             "1.44, please upgrade"));
    EXPECT_EQ(engineMessage(QByteArray(1000, 'x')).size(), 200);
    EXPECT_EQ(readRunning(R"({"State":{"Status":"running","Running":true}})"), true);
    EXPECT_EQ(readRunning(R"({"State":{"Status":"exited","Running":false}})"), false);
    EXPECT_EQ(readRunning("{"), std::nullopt);
    EXPECT_EQ(eventsTarget("/v1.41"),
              QByteArray("/v1.41/events?filters=%7B%22type%22%3A%5B%22container%22%5D%7D"));
    EXPECT_TRUE(isSafeContainerId(u"4b038edbe48b"));
    EXPECT_FALSE(isSafeContainerId(u"../../images/json?"));
}

} // namespace
