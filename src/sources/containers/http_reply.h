#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QPair>
#include <QString>

#include <optional>

// The largest reply body the engine client keeps: a listing of a few hundred
// containers is well under 1 MiB.
inline constexpr qsizetype kMaxReplyBody = 8 * 1024 * 1024;

// Reads one HTTP/1.1 reply incrementally: bytes go in as they arrive, and the
// reader tells when the status line and headers are complete, collects the
// body (by Content-Length, chunked transfer encoding, or up to the end of the
// connection) and stops at the first error. It does no I/O, so it can be fed
// recorded replies in any slicing.
//
// For a stream (the engine's events), takeBody() hands out the body read so
// far; the size limit applies to what has not been taken.
class HttpReplyReader {
public:
    enum class State {
        Head,   // the status line or headers are still incomplete
        Body,   // the head is complete; the body is still coming
        Done,   // the whole reply has been read
        Failed, // see error()
    };

    explicit HttpReplyReader(qsizetype maxBody = kMaxReplyBody);

    // Reads more bytes of the reply. Bytes after a complete reply are ignored.
    State feed(QByteArrayView bytes);
    // The connection has ended: completes a body that runs to the end of the
    // connection, and fails a reply that is cut short.
    State finish();

    State state() const { return m_state; }
    bool headComplete() const { return m_state == State::Body || m_state == State::Done; }
    int status() const { return m_status; }
    // The value of the named header (case-insensitive), trimmed; the first
    // of repeated ones. Empty when absent.
    QByteArray header(QByteArrayView name) const;
    // The body read so far, transfer encoding removed.
    const QByteArray& body() const { return m_body; }
    QByteArray takeBody();
    // Why the reply could not be read, in plain words; empty unless Failed.
    const QString& error() const { return m_error; }

private:
    enum class Framing { Length, Chunked, UntilClose };
    enum class ChunkPart { Size, Data, DataEnd, Trailer };

    State fail(QString reason);
    bool readHead();
    bool startBody();
    void readBody();
    bool keep(QByteArrayView bytes);
    // The next line of m_pending (without its line ending), or false while
    // it is incomplete.
    bool takeLine(QByteArray& line, qsizetype limit);

    qsizetype m_maxBody;
    State m_state = State::Head;
    QString m_error;
    QByteArray m_pending; // bytes read but not yet taken apart, from m_pos on
    qsizetype m_pos = 0;
    int m_status = 0;
    bool m_statusRead = false;
    qsizetype m_headSize = 0;
    QList<QPair<QByteArray, QByteArray>> m_headers;
    Framing m_framing = Framing::UntilClose;
    ChunkPart m_chunkPart = ChunkPart::Size;
    qint64 m_remaining = 0; // of the body (Length) or of the current chunk
    QByteArray m_body;
};

// The text of a request without a body, as the engine's API takes it.
QByteArray httpRequest(QByteArrayView method, QByteArrayView target);
