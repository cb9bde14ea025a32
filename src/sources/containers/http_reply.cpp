#include "sources/containers/http_reply.h"

#include "core/integers.h"

#include <QCoreApplication>

namespace {

// A status line or header longer than this is no reply from an engine.
constexpr qsizetype kMaxHeadSize = 64 * 1024;
constexpr qsizetype kMaxChunkLine = 1024;

// The context of this file's texts for translation.
struct ContainerEngine {
    Q_DECLARE_TR_FUNCTIONS(ContainerEngine)
};

QString sizeText(qsizetype bytes) {
    if (bytes >= 1024 * 1024 && bytes % (1024 * 1024) == 0)
        return QStringLiteral("%1 MiB").arg(bytes / (1024 * 1024));
    return QStringLiteral("%1 bytes").arg(bytes);
}

} // namespace

HttpReplyReader::HttpReplyReader(qsizetype maxBody) : m_maxBody(maxBody) {}

HttpReplyReader::State HttpReplyReader::fail(QString reason) {
    m_state = State::Failed;
    m_error = std::move(reason);
    m_pending.clear();
    m_pos = 0;
    return m_state;
}

QByteArray HttpReplyReader::header(QByteArrayView name) const {
    for (const auto& [key, value] : m_headers) {
        if (QByteArrayView(key).compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

QByteArray HttpReplyReader::takeBody() {
    return std::exchange(m_body, {});
}

bool HttpReplyReader::takeLine(QByteArray& line, qsizetype limit) {
    const qsizetype end = m_pending.indexOf('\n', m_pos);
    if (end < 0) {
        if (m_pending.size() - m_pos > limit)
            fail(ContainerEngine::tr("the engine's reply has a line too long to be HTTP"));
        return false;
    }
    if (end - m_pos > limit) {
        fail(ContainerEngine::tr("the engine's reply has a line too long to be HTTP"));
        return false;
    }
    qsizetype length = end - m_pos;
    if (length > 0 && m_pending[end - 1] == '\r')
        --length;
    line = m_pending.sliced(m_pos, length);
    m_pos = end + 1;
    return true;
}

bool HttpReplyReader::readHead() {
    QByteArray line;
    for (;;) {
        const qsizetype before = m_pos;
        if (!takeLine(line, kMaxHeadSize - m_headSize)) {
            if (m_state != State::Failed && m_pending.size() - m_pos > kMaxHeadSize - m_headSize)
                fail(ContainerEngine::tr("the engine's reply has a head larger than 64 KiB"));
            return false;
        }
        m_headSize += m_pos - before;
        if (!m_statusRead) {
            // "HTTP/1.1 200 OK"
            if (!line.startsWith("HTTP/1.") || line.size() < 12 || line[8] != ' ' ||
                (line.size() > 12 && line[12] != ' ')) {
                fail(ContainerEngine::tr("the engine's answer is not HTTP"));
                return false;
            }
            const auto status = parseDecimal(QByteArrayView(line).sliced(9, 3));
            if (!status || *status < 100) {
                fail(ContainerEngine::tr("the engine's answer is not HTTP"));
                return false;
            }
            m_status = int(*status);
            m_statusRead = true;
            continue;
        }
        if (line.isEmpty()) {
            // An interim reply ("100 Continue") comes before the real one.
            if (m_status >= 100 && m_status < 200 && m_status != 101) {
                m_statusRead = false;
                m_headers.clear();
                continue;
            }
            return startBody();
        }
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0) {
            fail(ContainerEngine::tr("the engine's reply has a malformed header"));
            return false;
        }
        m_headers.append({line.first(colon).trimmed(), line.sliced(colon + 1).trimmed()});
    }
}

bool HttpReplyReader::startBody() {
    m_state = State::Body;
    if (m_status == 204 || m_status == 304 || m_status < 200) {
        m_state = State::Done;
        return false;
    }
    const QByteArray coding = header("Transfer-Encoding").toLower();
    if (!coding.isEmpty()) {
        if (!coding.endsWith("chunked")) {
            fail(ContainerEngine::tr("the engine's reply uses an unknown transfer encoding"));
            return false;
        }
        m_framing = Framing::Chunked;
        m_chunkPart = ChunkPart::Size;
        return true;
    }
    const QByteArray length = header("Content-Length");
    if (!length.isEmpty()) {
        const auto value = parseDecimal(length);
        if (!value) {
            fail(ContainerEngine::tr("the engine's reply has an invalid length"));
            return false;
        }
        if (*value > quint64(m_maxBody)) {
            fail(ContainerEngine::tr("the engine's reply is larger than %1")
                     .arg(sizeText(m_maxBody)));
            return false;
        }
        m_framing = Framing::Length;
        m_remaining = qint64(*value);
        if (m_remaining == 0)
            m_state = State::Done;
        return m_state == State::Body;
    }
    m_framing = Framing::UntilClose;
    return true;
}

bool HttpReplyReader::keep(QByteArrayView bytes) {
    if (m_body.size() + bytes.size() > m_maxBody) {
        fail(ContainerEngine::tr("the engine's reply is larger than %1").arg(sizeText(m_maxBody)));
        return false;
    }
    m_body.append(bytes);
    return true;
}

void HttpReplyReader::readBody() {
    while (m_state == State::Body) {
        const qsizetype available = m_pending.size() - m_pos;
        switch (m_framing) {
        case Framing::UntilClose:
            if (available > 0)
                keep(QByteArrayView(m_pending).sliced(m_pos));
            m_pos = m_pending.size();
            return;
        case Framing::Length: {
            const qsizetype n = qsizetype(qMin<qint64>(m_remaining, available));
            if (n > 0 && !keep(QByteArrayView(m_pending).sliced(m_pos, n)))
                return;
            m_pos += n;
            m_remaining -= n;
            if (m_remaining == 0)
                m_state = State::Done;
            return;
        }
        case Framing::Chunked: {
            QByteArray line;
            switch (m_chunkPart) {
            case ChunkPart::Size: {
                if (!takeLine(line, kMaxChunkLine))
                    return;
                const qsizetype semicolon = line.indexOf(';');
                const auto size = parseHex(
                    QByteArrayView(line).first(semicolon < 0 ? line.size() : semicolon).trimmed());
                if (!size) {
                    fail(ContainerEngine::tr("the engine's reply has a malformed chunk"));
                    return;
                }
                if (*size > quint64(m_maxBody - m_body.size())) {
                    fail(ContainerEngine::tr("the engine's reply is larger than %1")
                             .arg(sizeText(m_maxBody)));
                    return;
                }
                m_remaining = qint64(*size);
                m_chunkPart = *size == 0 ? ChunkPart::Trailer : ChunkPart::Data;
                break;
            }
            case ChunkPart::Data: {
                const qsizetype n = qsizetype(qMin<qint64>(m_remaining, available));
                if (n == 0)
                    return;
                if (!keep(QByteArrayView(m_pending).sliced(m_pos, n)))
                    return;
                m_pos += n;
                m_remaining -= n;
                if (m_remaining == 0)
                    m_chunkPart = ChunkPart::DataEnd;
                break;
            }
            case ChunkPart::DataEnd:
                if (!takeLine(line, kMaxChunkLine))
                    return;
                if (!line.isEmpty()) {
                    fail(ContainerEngine::tr("the engine's reply has a malformed chunk"));
                    return;
                }
                m_chunkPart = ChunkPart::Size;
                break;
            case ChunkPart::Trailer:
                if (!takeLine(line, kMaxHeadSize))
                    return;
                if (line.isEmpty())
                    m_state = State::Done;
                break;
            }
            break;
        }
        }
    }
}

HttpReplyReader::State HttpReplyReader::feed(QByteArrayView bytes) {
    if (m_state == State::Done || m_state == State::Failed)
        return m_state;
    m_pending.append(bytes);
    if (m_state == State::Head)
        readHead();
    if (m_state == State::Body)
        readBody();
    // Drop what has been taken apart, keeping an incomplete line or chunk.
    if (m_state == State::Done || m_state == State::Failed) {
        m_pending.clear();
        m_pos = 0;
    } else if (m_pos > 0) {
        m_pending.remove(0, m_pos);
        m_pos = 0;
    }
    return m_state;
}

HttpReplyReader::State HttpReplyReader::finish() {
    switch (m_state) {
    case State::Head:
        return fail(
            m_statusRead || !m_pending.isEmpty()
                ? ContainerEngine::tr("the engine closed the connection in the middle of its reply")
                : ContainerEngine::tr("the engine closed the connection without an answer"));
    case State::Body:
        if (m_framing == Framing::UntilClose) {
            m_state = State::Done;
            return m_state;
        }
        return fail(
            ContainerEngine::tr("the engine closed the connection in the middle of its reply"));
    case State::Done:
    case State::Failed:
        break;
    }
    return m_state;
}

QByteArray httpRequest(QByteArrayView method, QByteArrayView target) {
    QByteArray text;
    text.reserve(160);
    text.append(method).append(' ').append(target).append(" HTTP/1.1\r\n");
    // The engines' HTTP servers refuse a request without a host.
    text.append("Host: localhost\r\n"
                "User-Agent: Harborwatch\r\n"
                "Accept: application/json\r\n");
    if (method == "POST")
        text.append("Content-Length: 0\r\n");
    text.append("Connection: close\r\n\r\n");
    return text;
}
