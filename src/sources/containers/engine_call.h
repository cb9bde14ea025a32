#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QLocalSocket;
class QTimer;
class HttpReplyReader;

// A finished request: the status and body of the reply, or why there is none.
struct EngineReply {
    int status = 0;
    QByteArray body;
    QString error = {}; // the connection or the reply failed; empty when a reply was read
    bool timedOut = false;

    bool ok() const { return error.isEmpty(); }
};

// One HTTP request to a container engine over its unix socket, one connection
// per request. The whole exchange is asynchronous and bounded by a deadline;
// `done` runs exactly once, from the event loop, never inside start(). The
// call deletes itself after `done`; abort() drops it without calling `done`.
//
// A stream (the engine's events) passes `chunk`: it gets the body as it
// arrives, and the deadline covers only connecting, since an engine may hold
// back the reply's head until there is something to report.
class EngineCall : public QObject {
public:
    using Done = std::function<void(EngineReply)>;
    using Chunk = std::function<void(const QByteArray&)>;

    static EngineCall* start(const QString& socketPath, const QByteArray& request, int timeoutMs,
                             QObject* parent, Done done, Chunk chunk = {});
    ~EngineCall() override;

    // Ends the exchange at once; `done` is not called.
    void abort();

private:
    EngineCall(QObject* parent, Done done, Chunk chunk);
    void read();
    void ended();
    void socketFailed();
    void finish(EngineReply reply);

    QString m_path;
    QByteArray m_request;
    int m_timeoutMs = 0;
    Done m_done;
    Chunk m_chunk;
    QLocalSocket* m_socket = nullptr;
    QTimer* m_deadline = nullptr;
    std::unique_ptr<HttpReplyReader> m_reader;
    bool m_finished = false;
    bool m_aborted = false;
};
