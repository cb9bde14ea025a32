#include "sources/ssh/remote_stream.h"

#include "sources/ssh/ssh_command.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace {

// "PID REST": the pid, and the 20th field of REST (field 22 of the stat
// line, the start time); nothing unless both are numbers.
std::optional<std::pair<qint64, quint64>> readStat(QByteArrayView text) {
    const auto number = [](QByteArrayView digits) -> std::optional<quint64> {
        if (digits.isEmpty() || digits.size() > 18)
            return std::nullopt;
        quint64 value = 0;
        for (const char c : digits) {
            if (c < '0' || c > '9')
                return std::nullopt;
            value = value * 10 + quint64(c - '0');
        }
        return value;
    };
    qsizetype space = text.indexOf(' ');
    const std::optional<quint64> pid = number(text.first(std::max<qsizetype>(space, 0)));
    if (!pid || *pid == 0)
        return std::nullopt;
    QByteArrayView rest = text.sliced(space + 1);
    for (int field = 1; field < 20; ++field) {
        space = rest.indexOf(' ');
        if (space < 0)
            return std::nullopt;
        rest = rest.sliced(space + 1);
    }
    space = rest.indexOf(' ');
    const std::optional<quint64> start = number(space < 0 ? rest : rest.first(space));
    if (!start)
        return std::nullopt;
    return std::pair{qint64(*pid), *start};
}

// `name` cut to `longest` characters, a surrogate pair kept whole.
QString cutName(const QString& name, qsizetype longest) {
    if (name.size() <= longest)
        return name;
    const qsizetype kept = name.at(longest - 1).isHighSurrogate() ? longest - 1 : longest;
    return name.first(kept);
}

} // namespace

RemoteStream::News RemoteStream::read(QByteArrayView bytes) {
    News news;
    while (!m_failed && !bytes.isEmpty()) {
        const qsizetype end = bytes.indexOf('\n');
        const qsizetype length = m_partial.size() + (end < 0 ? bytes.size() : end);
        if (length > m_limits.longestLine) {
            // Whatever follows cannot be told apart from the rest of that line.
            m_failed = true;
            news.lineTooLong = true;
            m_partial = QByteArray();
            m_listing = QByteArray();
            break;
        }
        if (end < 0) {
            m_partial += bytes;
            break;
        }
        if (m_partial.isEmpty()) {
            readLine(bytes.first(end), news);
        } else {
            m_partial += bytes.first(end);
            const QByteArray line = std::exchange(m_partial, QByteArray());
            readLine(line, news);
        }
        bytes = bytes.sliced(end + 1);
    }
    return news;
}

void RemoteStream::readLine(QByteArrayView line, News& news) {
    if (!m_started) {
        m_started = line == QByteArrayView(remoteConnected);
        news.connected = m_started;
        return;
    }
    if (line == QByteArrayView(remoteWatchFound)) {
        m_streaming = true;
        m_streamSeen = false;
        m_streamCut = false;
        m_streamed.clear();
        return;
    }
    if (line == QByteArrayView(remoteWatchGone)) {
        // The remote harborwatch cannot serve: `ss` lists from now on.
        news.listed = m_streaming && m_streamSeen;
        m_streaming = false;
        m_streamSeen = false;
        m_streamed = {};
        return;
    }
    if (m_streaming) {
        readEvent(line, news);
        return;
    }
    if (line == QByteArrayView(remoteListed)) {
        finishListing();
        news.listed = true;
        return;
    }
    if (line.startsWith(QByteArrayView(remoteStat))) {
        const auto stat = readStat(line.sliced(qstrlen(remoteStat)));
        // A pid for each socket, and some to spare for processes that share one.
        const qsizetype mostStartTimes = 4 * m_limits.mostSockets;
        if (stat && (m_startTimes.size() < mostStartTimes || m_startTimes.contains(stat->first)))
            m_startTimes.insert(stat->first, stat->second);
        return;
    }
    // A line of `ss`: a record, or the rest of one whose name holds a line break.
    const bool record = line.startsWith("LISTEN");
    const bool fits = m_listing.size() + line.size() + 1 <= m_limits.longestListing;
    if (record)
        m_dropping = m_records >= m_limits.mostSockets || !fits;
    else
        m_dropping = m_dropping || !fits;
    if (m_dropping) {
        m_cutting = true;
        return;
    }
    m_records += record ? 1 : 0;
    m_listing += line;
    m_listing += '\n';
}

void RemoteStream::finishListing() {
    m_sockets = parseSsListing(m_listing);
    for (SsSocket& socket : m_sockets) {
        for (SsHolder& holder : socket.holders)
            holder.startTime = m_startTimes.value(holder.pid);
    }
    m_cut = m_cutting;
    m_listing = QByteArray();
    m_records = 0;
    m_dropping = false;
    m_cutting = false;
    m_startTimes = {};
}

void RemoteStream::readEvent(QByteArrayView line, News& news) {
    // {"event": "started"|"stopped", "port", "pid", "process", ...}; a line
    // naming a host is about a machine of the remote's own, not the remote.
    const QJsonObject event = QJsonDocument::fromJson(line.toByteArray()).object();
    const qint64 port = event.value(QStringLiteral("port")).toInteger();
    if (port < 1 || port > 65535 || event.contains(QStringLiteral("host")))
        return;
    const QString kind = event.value(QStringLiteral("event")).toString();
    if (kind == QLatin1String("started")) {
        if (!m_streamed.contains(port) && m_streamed.size() >= m_limits.mostSockets) {
            m_streamCut = true;
            return;
        }
        const qint64 pid = event.value(QStringLiteral("pid")).toInteger();
        const SsHolder holder{
            pid > 0 && pid <= 0x7fffffff ? pid : 0,
            cutName(event.value(QStringLiteral("process")).toString(), m_limits.longestName)};
        m_streamed.insert(port, {QString(), port, {holder}});
    } else if (kind == QLatin1String("stopped")) {
        m_streamed.remove(port);
    } else {
        return;
    }
    m_streamSeen = true;
    news.listed = true;
}

QList<SsSocket> RemoteStream::sockets() const {
    if (m_streaming && m_streamSeen)
        return m_streamed.values();
    return m_sockets;
}
