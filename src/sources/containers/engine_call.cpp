#include "sources/containers/engine_call.h"

#include "sources/containers/http_reply.h"

#include <QCoreApplication>
#include <QLocalSocket>
#include <QTimer>

namespace {

// The context of this file's texts for translation.
struct ContainerEngine {
    Q_DECLARE_TR_FUNCTIONS(ContainerEngine)
};

} // namespace

EngineCall::EngineCall(QObject* parent, Done done, Chunk chunk)
    : QObject(parent), m_done(std::move(done)), m_chunk(std::move(chunk)),
      m_reader(std::make_unique<HttpReplyReader>()) {}

EngineCall::~EngineCall() = default;

EngineCall* EngineCall::start(const QString& socketPath, const QByteArray& request, int timeoutMs,
                              QObject* parent, Done done, Chunk chunk) {
    auto* call = new EngineCall(parent, std::move(done), std::move(chunk));
    call->m_path = socketPath;
    call->m_request = request;
    call->m_timeoutMs = timeoutMs;
    call->m_socket = new QLocalSocket(call);
    call->m_deadline = new QTimer(call);
    call->m_deadline->setSingleShot(true);
    connect(call->m_deadline, &QTimer::timeout, call, [call] {
        EngineReply reply;
        reply.timedOut = true;
        reply.error = ContainerEngine::tr("the engine did not answer within %1 s")
                          .arg((call->m_timeoutMs + 999) / 1000);
        call->finish(std::move(reply));
    });
    connect(call->m_socket, &QLocalSocket::connected, call, [call] {
        // Podman sends a stream's head only with its first event.
        if (call->m_chunk)
            call->m_deadline->stop();
        call->m_socket->write(call->m_request);
    });
    connect(call->m_socket, &QLocalSocket::readyRead, call, [call] { call->read(); });
    connect(call->m_socket, &QLocalSocket::disconnected, call, [call] { call->ended(); });
    connect(call->m_socket, &QLocalSocket::errorOccurred, call, [call] { call->socketFailed(); });
    call->m_deadline->start(timeoutMs);
    // Errors found while connecting may be signalled at once; they are
    // delivered from the event loop like every other outcome.
    call->m_socket->connectToServer(socketPath);
    return call;
}

void EngineCall::abort() {
    m_finished = true;
    m_aborted = true;
    m_deadline->stop();
    m_socket->abort();
    deleteLater();
}

void EngineCall::read() {
    if (m_finished)
        return;
    const QByteArray bytes = m_socket->readAll();
    const HttpReplyReader::State state = m_reader->feed(bytes);
    if (m_chunk && m_reader->headComplete()) {
        // A stream runs as long as the engine keeps it; a refusal is read whole.
        if (m_reader->status() == 200) {
            const QByteArray body = m_reader->takeBody();
            if (!body.isEmpty())
                m_chunk(body);
            if (m_finished)
                return;
        }
    }
    if (state == HttpReplyReader::State::Done || state == HttpReplyReader::State::Failed)
        ended();
}

void EngineCall::ended() {
    if (m_finished)
        return;
    // What is still buffered belongs to the reply.
    if (m_socket->bytesAvailable() > 0) {
        m_reader->feed(m_socket->readAll());
        if (m_chunk && m_reader->status() == 200 && !m_reader->body().isEmpty())
            m_chunk(m_reader->takeBody());
        if (m_finished)
            return;
    }
    m_reader->finish();
    EngineReply reply;
    reply.status = m_reader->status();
    if (m_reader->state() == HttpReplyReader::State::Done)
        reply.body = m_reader->takeBody();
    else
        reply.error = m_reader->error();
    finish(std::move(reply));
}

void EngineCall::socketFailed() {
    if (m_finished)
        return;
    const QString path = m_path;
    switch (m_socket->error()) {
    case QLocalSocket::PeerClosedError:
        ended();
        return;
    case QLocalSocket::ConnectionRefusedError:
        finish({0, {}, ContainerEngine::tr("nothing answers at %1").arg(path)});
        return;
    case QLocalSocket::ServerNotFoundError:
        finish({0, {}, ContainerEngine::tr("%1 does not exist").arg(path)});
        return;
    case QLocalSocket::SocketAccessError:
        finish({0, {}, ContainerEngine::tr("no permission to use %1").arg(path)});
        return;
    default:
        break;
    }
    if (m_reader->headComplete() || m_reader->state() == HttpReplyReader::State::Failed) {
        ended();
        return;
    }
    finish({0,
            {},
            ContainerEngine::tr("the connection to %1 failed (%2)")
                .arg(path, m_socket->errorString())});
}

void EngineCall::finish(EngineReply reply) {
    if (m_finished)
        return;
    m_finished = true;
    m_deadline->stop();
    m_socket->abort();
    QMetaObject::invokeMethod(
        this,
        [this, reply = std::move(reply)]() mutable {
            if (m_aborted)
                return;
            const Done done = std::move(m_done);
            deleteLater();
            if (done)
                done(std::move(reply));
        },
        Qt::QueuedConnection);
}
