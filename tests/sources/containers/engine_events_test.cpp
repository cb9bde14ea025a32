// The event stream reader against streams recorded from the real engines
// (GET /events?filters={"type":["container"]}, the raw replies as they came):
// Docker 20.10 over run, stop, start, kill, rm, exec and restart; Docker 20.10
// told to stop with three containers running; Podman 4.3 over the same
// commands, which it names its own way.
#include "sources/containers/engine_events.h"
#include "sources/containers/http_reply.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QSet>

namespace {

QByteArray recorded(const char* name) {
    QFile file(QStringLiteral(HW_TEST_DATA_DIR "/data/") + QLatin1String(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The changes as letters: S started, E ended, K signalled.
QString letters(const QList<ContainerEvent>& events) {
    QString text;
    for (const ContainerEvent& event : events) {
        switch (event.change) {
        case ContainerChange::Started:
            text += QLatin1Char('S');
            break;
        case ContainerChange::Ended:
            text += QLatin1Char('E');
            break;
        case ContainerChange::Signalled:
            text += QLatin1Char('K');
            break;
        }
    }
    return text;
}

struct StreamCase {
    const char* name;
    const char* file;
    const char* changes;
    int containers;
};

class RecordedEvents : public ::testing::TestWithParam<StreamCase> {};

TEST_P(RecordedEvents, TellStartsAndEndsInAnySlicing) {
    const StreamCase& row = GetParam();
    const QByteArray reply = recorded(row.file);
    ASSERT_FALSE(reply.isEmpty()) << row.file;
    for (const qsizetype slice : {qsizetype(1), qsizetype(7), qsizetype(200), reply.size()}) {
        SCOPED_TRACE(slice);
        HttpReplyReader http;
        EventStream stream;
        QList<ContainerEvent> events;
        bool unreadable = false;
        for (qsizetype at = 0; at < reply.size(); at += slice) {
            http.feed(QByteArrayView(reply).sliced(at, qMin(slice, reply.size() - at)));
            const EventsRead read = readEvents(stream, http.takeBody());
            events += read.events;
            unreadable = unreadable || read.unreadable;
        }
        EXPECT_EQ(http.status(), 200);
        EXPECT_FALSE(unreadable);
        EXPECT_EQ(letters(events), QLatin1String(row.changes));
        QSet<QString> ids;
        for (const ContainerEvent& event : std::as_const(events)) {
            EXPECT_EQ(event.id.size(), 64) << qPrintable(event.id);
            ids.insert(event.id);
        }
        EXPECT_EQ(ids.size(), row.containers);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Engines, RecordedEvents,
    ::testing::Values(
        // stop -t 1 is kill, kill, die, stop; exec, create and restart tell nothing.
        StreamCase{"docker_20_10", "docker-20.10-events.http", "SKKEESKEESKKEESKEE", 2},
        // Its socket is gone at once; the deaths still come, over 10 s.
        StreamCase{"docker_20_10_stopping", "docker-20.10-shutdown.http", "KKKKEEKKEEEE", 3},
        // No stop, a "remove" for Docker's "destroy"; init and cleanup tell nothing.
        StreamCase{"podman_4_3", "podman-4.3-events.http", "SESESKEESESEE", 2}),
    [](const auto& info) { return std::string(info.param.name); });

struct LineCase {
    const char* name;
    QByteArray stream;
    const char* changes;
    bool unreadable;
};

class EventLines : public ::testing::TestWithParam<LineCase> {};

TEST_P(EventLines, AreReadOneByOneWithinBounds) {
    const LineCase& row = GetParam();
    EventStream stream;
    const EventsRead read = readEvents(stream, row.stream);
    EXPECT_EQ(letters(read.events), QLatin1String(row.changes));
    EXPECT_EQ(read.unreadable, row.unreadable);
    EXPECT_LE(stream.pending.size(), kMaxEventLine);
}

const QByteArray kStart = R"({"status":"start","id":"a1","Type":"container","Action":"start"})"
                          "\n";

INSTANTIATE_TEST_SUITE_P(
    Streams, EventLines,
    ::testing::Values(
        // Podman's own log names the death "died"; an old Docker has only "status".
        LineCase{"died_and_status_only",
                 R"({"Type":"container","Action":"died","Actor":{"ID":"b2"}})"
                 "\n"
                 R"({"status":"die","id":"c3"})"
                 "\n",
                 "EE", false},
        LineCase{"exec_died_is_no_death",
                 R"({"Type":"container","Action":"exec_died","id":"b2"})"
                 "\n",
                 "", false},
        LineCase{"other_types",
                 R"({"Type":"network","Action":"destroy","id":"n1"})"
                 "\n",
                 "", false},
        LineCase{"not_json_then_an_event", "<html>\n" + kStart, "S", true},
        LineCase{"too_long_then_an_event",
                 "{\"x\":\"" + QByteArray(kMaxEventLine + 10, 'x') + "\"}\n" + kStart, "S", true},
        LineCase{"too_long_and_unfinished", QByteArray(3 * kMaxEventLine, '{'), "", true},
        LineCase{"blank_lines", "\r\n\n" + kStart + "\n", "S", false}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
