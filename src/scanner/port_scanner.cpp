#include "scanner/port_scanner.h"

#include "scanner/lsof_source.h"
#include "scanner/proc_source.h"

#include <QVarLengthArray>

#include <algorithm>
#include <csignal>
#include <limits>

std::optional<qint64> parseInteger(QStringView text) {
    qsizetype i = 0;
    bool negative = false;
    if (!text.isEmpty() && (text[0] == u'+' || text[0] == u'-')) {
        negative = text[0] == u'-';
        i = 1;
    }
    if (i == text.size())
        return std::nullopt;
    // Accumulate as a negative number so that the minimum value fits.
    constexpr qint64 min = std::numeric_limits<qint64>::min();
    qint64 value = 0;
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9')
            return std::nullopt;
        const int digit = c - u'0';
        if (value < (min + digit) / 10)
            return std::nullopt;
        value = value * 10 - digit;
    }
    if (negative)
        return value;
    if (value == min)
        return std::nullopt;
    return -value;
}

namespace {

int hexDigit(QChar c) {
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

// The byte that a backslash followed by `c` stands for; none for others.
std::optional<char> backslashEscape(QChar c) {
    switch (c.unicode()) {
    case u'\\':
        return '\\';
    case u't':
        return '\t';
    case u'n':
        return '\n';
    case u'r':
        return '\r';
    case u'b':
        return '\b';
    case u'f':
        return '\f';
    default:
        return std::nullopt;
    }
}

// lsof prints the bytes of a command name that are not printable ASCII as
// escapes: "\x20" for a space (so that a name stays one column), "\\" for a
// backslash, "\t", "\n", "\r", "\b", "\f", "^A" to "^_" for the other control
// characters and "\xNN" for the rest. The decoded bytes are read as UTF-8.
// Text that is not one of these escapes is kept as it is.
QString decodeCommandName(QStringView name) {
    if (!name.contains(u'\\') && !name.contains(u'^'))
        return name.toString();
    QByteArray bytes;
    bytes.reserve(name.size());
    qsizetype plainFrom = 0; // start of the text since the last escape
    const auto escape = [&](qsizetype at, qsizetype length, char byte) {
        bytes += name.sliced(plainFrom, at - plainFrom).toUtf8();
        bytes += byte;
        plainFrom = at + length;
    };
    for (qsizetype i = 0; i + 1 < name.size(); ++i) {
        const QChar next = name[i + 1];
        if (name[i] == u'^' && next >= u'A' && next <= u'_') {
            escape(i, 2, static_cast<char>(next.unicode() - u'@'));
            ++i;
        } else if (name[i] != u'\\') {
            continue;
        } else if (const auto byte = backslashEscape(next)) {
            escape(i, 2, *byte);
            ++i;
        } else if (next == u'x' && i + 3 < name.size() && hexDigit(name[i + 2]) >= 0 &&
                   hexDigit(name[i + 3]) >= 0) {
            escape(i, 4, static_cast<char>(hexDigit(name[i + 2]) * 16 + hexDigit(name[i + 3])));
            i += 3;
        }
    }
    bytes += name.sliced(plainFrom).toUtf8();
    return QString::fromUtf8(bytes);
}

std::unique_ptr<SocketSource> makeSource(SourceKind kind, const ListerCommand& command) {
    if (kind == SourceKind::Lsof)
        return std::make_unique<LsofSource>(command);
    return std::make_unique<ProcSource>();
}

} // namespace

PortScanner::PortScanner()
    : m_command(defaultListerCommand()), m_kind(SourceKind::Proc),
      m_source(makeSource(m_kind, m_command)) {}

PortScanner::PortScanner(ListerCommand command)
    : m_command(std::move(command)), m_kind(SourceKind::Lsof),
      m_source(makeSource(m_kind, m_command)) {}

PortScanner::PortScanner(std::unique_ptr<SocketSource> source)
    : m_command(defaultListerCommand()), m_kind(SourceKind::Proc), m_source(std::move(source)) {}

PortScanner::~PortScanner() = default;

bool PortScanner::scan(qint64 minPort, qint64 maxPort, QSet<QString> allowlist, Done done) {
    if (m_pending)
        return false;
    m_pending = Pending{{minPort, maxPort, std::move(allowlist)}, std::move(done)};
    return startPending();
}

bool PortScanner::startPending() {
    const bool started = m_source->scan(m_pending->request, [this](ScanResult result) {
        Pending pending = *std::exchange(m_pending, std::nullopt);
        pending.done(std::move(result));
    });
    if (!started)
        m_pending.reset();
    return started;
}

bool PortScanner::isScanning() const {
    return m_pending.has_value();
}

void PortScanner::selectSource(SourceKind kind) {
    if (kind == m_kind)
        return;
    m_kind = kind;
    // The old source drops a running scan without calling back; the new one
    // runs it instead.
    m_source = makeSource(kind, m_command);
    if (m_pending)
        startPending();
}

ScanResult PortScanner::scanBlocking(qint64 minPort, qint64 maxPort,
                                     const QSet<QString>& allowlist) const {
    return m_source->scanBlocking({minPort, maxPort, allowlist});
}

StopResult PortScanner::signalServer(const ListeningPort& listed, int signal) {
    return stopListedServer(listed, signal, socketCheck());
}

bool PortScanner::stillRuns(const ListeningPort& listed) const {
    return listedServerStillRuns(listed, socketCheck());
}

bool PortScanner::stopProcess(const ListeningPort& listed) {
    return signalServer(listed, SIGTERM).delivered();
}

const QSet<QString>& PortScanner::defaultAllowlist() {
    static const QSet<QString> names = {
        QStringLiteral("node"),         QStringLiteral("npm"),          QStringLiteral("npx"),
        QStringLiteral("deno"),         QStringLiteral("bun"),          QStringLiteral("Python"),
        QStringLiteral("python"),       QStringLiteral("python3"),      QStringLiteral("uvicorn"),
        QStringLiteral("gunicorn"),     QStringLiteral("flask"),        QStringLiteral("django"),
        QStringLiteral("ruby"),         QStringLiteral("rails"),        QStringLiteral("puma"),
        QStringLiteral("unicorn"),      QStringLiteral("php"),          QStringLiteral("php-fpm"),
        QStringLiteral("java"),         QStringLiteral("gradle"),       QStringLiteral("mvn"),
        QStringLiteral("go"),           QStringLiteral("air"),          QStringLiteral("cargo"),
        QStringLiteral("rustc"),        QStringLiteral("dotnet"),       QStringLiteral("beam.smp"),
        QStringLiteral("elixir"),       QStringLiteral("mix"),          QStringLiteral("nginx"),
        QStringLiteral("httpd"),        QStringLiteral("apache"),       QStringLiteral("postgres"),
        QStringLiteral("mysql"),        QStringLiteral("redis-server"), QStringLiteral("mongod"),
        QStringLiteral("docker-proxy"),
    };
    return names;
}

QList<ListeningPort> PortScanner::parse(QStringView text) {
    QList<ListeningPort> result;
    QSet<qint64> seen;
    QVarLengthArray<QStringView, 16> pieces;
    bool headerSkipped = false;

    qsizetype lineStart = 0;
    while (lineStart < text.size()) {
        qsizetype lineEnd = text.indexOf(u'\n', lineStart);
        if (lineEnd < 0)
            lineEnd = text.size();
        const QStringView line = text.sliced(lineStart, lineEnd - lineStart);
        lineStart = lineEnd + 1;
        if (line.isEmpty())
            continue;
        // The first non-empty line is the header, whatever it says.
        if (!headerSkipped) {
            headerSkipped = true;
            continue;
        }

        pieces.clear();
        qsizetype pos = 0;
        while (pos < line.size()) {
            while (pos < line.size() && line[pos] == u' ')
                ++pos;
            const qsizetype start = pos;
            while (pos < line.size() && line[pos] != u' ')
                ++pos;
            if (pos > start)
                pieces.append(line.sliced(start, pos - start));
        }
        if (pieces.size() < 9)
            continue;

        const auto pid = parseInteger(pieces[1]);
        if (!pid)
            continue;
        const QStringView address = pieces[pieces.size() - 2];
        const qsizetype colon = address.lastIndexOf(u':');
        if (colon < 0)
            continue;
        const auto port = parseInteger(address.sliced(colon + 1));
        if (!port || *port < 1 || *port > 65535)
            continue;
        if (seen.contains(*port))
            continue;
        seen.insert(*port);
        QStringView host = address.first(colon);
        if (host.size() >= 2 && host.front() == u'[' && host.back() == u']')
            host = host.sliced(1, host.size() - 2);
        QString hostText = host.toString();
        if (hostText == QStringLiteral("*"))
            hostText = pieces[4] == u"IPv6" ? QStringLiteral("::") : QStringLiteral("0.0.0.0");
        result.append({*port, *pid, decodeCommandName(pieces[0]), 0, std::move(hostText)});
    }

    std::stable_sort(
        result.begin(), result.end(),
        [](const ListeningPort& a, const ListeningPort& b) { return a.port < b.port; });
    return result;
}

QList<ListeningPort> PortScanner::filter(const QList<ListeningPort>& ports, qint64 minPort,
                                         qint64 maxPort, const QSet<QString>& allowlist) {
    QList<ListeningPort> kept;
    for (const ListeningPort& p : ports) {
        if (p.port < minPort || p.port > maxPort)
            continue;
        if (allowlist.contains(p.process))
            kept.append(p);
    }
    return kept;
}
