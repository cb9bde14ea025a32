#include "sources/ssh/ss_listing.h"

#include <QByteArrayView>
#include <QMap>

#include <algorithm>
#include <optional>
#include <vector>

namespace {

// The kernel keeps a process name in 16 bytes, its NUL among them; written
// out, each of its bytes takes at most four characters ("\ooo").
constexpr qsizetype longestName = 15;
constexpr qsizetype longestNameText = 4 * longestName;
// A pid beyond pid_t is no pid.
constexpr quint64 highestPid = 0x7fffffff;

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Whether `text` has `what` at `at`.
bool hasAt(const QByteArray& text, qsizetype at, QByteArrayView what) {
    return at >= 0 && at <= text.size() && QByteArrayView(text).sliced(at).startsWith(what);
}

// Where the digits from `at` end (`at` itself when there are none).
qsizetype digitsEnd(const QByteArray& text, qsizetype at) {
    while (at < text.size() && isDigit(text[at]))
        ++at;
    return at;
}

// The number written from `from` to `to`: one to eighteen digits.
std::optional<quint64> numberIn(const QByteArray& text, qsizetype from, qsizetype to) {
    if (to == from || to - from > 18)
        return std::nullopt;
    quint64 value = 0;
    for (qsizetype i = from; i < to; ++i)
        value = value * 10 + quint64(text[i] - '0');
    return value;
}

// "\\" and "\ooo" decoded; other text, and a backslash before anything else,
// stays as it is.
QByteArray unescaped(QByteArrayView text) {
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\\' && i + 1 < text.size() && text[i + 1] == '\\') {
            out += '\\';
            ++i;
            continue;
        }
        if (c == '\\' && i + 3 < text.size()) {
            const QByteArrayView digits = text.sliced(i + 1, 3);
            const bool octal = std::all_of(digits.begin(), digits.end(),
                                           [](char d) { return d >= '0' && d <= '7'; });
            if (octal && digits[0] <= '3') {
                out += char((digits[0] - '0') * 64 + (digits[1] - '0') * 8 + (digits[2] - '0'));
                i += 3;
                continue;
            }
        }
        out += c;
    }
    return out;
}

// "127.0.0.1:5173", "[::1]:8000", "*:80", "127.0.0.53%lo:53".
bool readLocal(const QByteArray& field, SsSocket& socket) {
    const qsizetype colon = field.lastIndexOf(':');
    if (colon <= 0)
        return false;
    bool ok = false;
    const qint64 port = field.mid(colon + 1).toLongLong(&ok);
    if (!ok || port < 1 || port > 65535)
        return false;
    QByteArray address = field.first(colon);
    if (const qsizetype scope = address.indexOf('%'); scope >= 0)
        address.truncate(scope);
    if (address.startsWith('[') && address.endsWith(']'))
        address = address.mid(1, address.size() - 2);
    socket.address = QString::fromLatin1(address);
    socket.port = port;
    return true;
}

// What may follow the users field at `at` (or the peer address, without
// one): blanks to the end, or blanks and the details of -e, "[uid:N ]ino:N
// ...". The inode, 0 without details; nothing when anything else follows.
std::optional<quint64> readDetails(const QByteArray& text, qsizetype at) {
    const qsizetype start = at;
    const auto skipBlanks = [&] {
        while (at < text.size() && isBlank(text[at]))
            ++at;
    };
    skipBlanks();
    if (at == text.size())
        return 0;
    if (at == start)
        return std::nullopt;
    if (hasAt(text, at, "uid:")) {
        const qsizetype end = digitsEnd(text, at + 4);
        if (end == at + 4 || end == text.size() || !isBlank(text[end]))
            return std::nullopt;
        at = end;
        skipBlanks();
    }
    if (!hasAt(text, at, "ino:"))
        return std::nullopt;
    const qsizetype end = digitsEnd(text, at + 4);
    const std::optional<quint64> inode = numberIn(text, at + 4, end);
    if (!inode || (end < text.size() && !isBlank(text[end])))
        return std::nullopt;
    return inode;
}

struct Users {
    QList<SsHolder> holders;
    quint64 inode = 0;
};

// The entries of a users field whose first "(" is at `first`, when there is
// exactly one way to read them: ("NAME",pid=N,fd=M) separated by commas, a
// name of at most 15 bytes, and after the last one the field's ")" followed
// by what readDetails() takes.
//
// Each place where an entry can end (`",pid=N,fd=M)`) is a candidate; an
// entry starting at p may end at any candidate whose quote lies within a
// name's reach of p. The ways to read the rest from each candidate on are
// counted from the last candidate backwards (up to 2: more is no better), so
// the count stays linear in the text.
std::optional<Users> readUsers(const QByteArray& text, qsizetype first) {
    struct Candidate {
        qsizetype quote = 0; // of `",pid=`
        qint64 pid = 0;
        qsizetype close = 0; // the entry's ")"
        int ways = 0;        // readings of the rest of the field after it
        quint64 inode = 0;   // when the field ends after it
    };
    std::vector<Candidate> candidates;
    static const QByteArray tail = "\",pid=";
    for (qsizetype quote = text.indexOf(tail, first); quote >= 0;
         quote = text.indexOf(tail, quote + 1)) {
        const qsizetype pidEnd = digitsEnd(text, quote + tail.size());
        const std::optional<quint64> pid = numberIn(text, quote + tail.size(), pidEnd);
        if (!pid || *pid == 0 || *pid > highestPid || !hasAt(text, pidEnd, ",fd="))
            continue;
        const qsizetype fdEnd = digitsEnd(text, pidEnd + 4);
        if (fdEnd == pidEnd + 4 || !hasAt(text, fdEnd, ")"))
            continue;
        candidates.push_back({quote, qint64(*pid), fdEnd});
    }
    // The candidates an entry starting at `start` can end at, and its name there.
    const auto reach = [&](qsizetype start) {
        const auto from =
            std::lower_bound(candidates.begin(), candidates.end(), start + 2,
                             [](const Candidate& c, qsizetype at) { return c.quote < at; });
        const auto to =
            std::upper_bound(from, candidates.end(), start + 2 + longestNameText,
                             [](qsizetype at, const Candidate& c) { return at < c.quote; });
        return std::pair{from, to};
    };
    const auto nameOf = [&](qsizetype start, const Candidate& c) -> std::optional<QByteArray> {
        if (!hasAt(text, start, "(\""))
            return std::nullopt;
        QByteArray name = unescaped(QByteArrayView(text).sliced(start + 2, c.quote - start - 2));
        if (name.size() > longestName)
            return std::nullopt;
        return name;
    };
    const auto waysFrom = [&](qsizetype start) {
        int ways = 0;
        const auto [from, to] = reach(start);
        for (auto c = from; c != to && ways < 2; ++c) {
            if (c->ways > 0 && nameOf(start, *c))
                ways = std::min(2, ways + c->ways);
        }
        return ways;
    };
    for (auto c = candidates.rbegin(); c != candidates.rend(); ++c) {
        // After an entry comes the field's end or, after a comma, the next entry.
        if (hasAt(text, c->close + 1, ")")) {
            if (const std::optional<quint64> inode = readDetails(text, c->close + 2)) {
                c->ways = 1;
                c->inode = *inode;
            }
        } else if (hasAt(text, c->close + 1, ",")) {
            c->ways = waysFrom(c->close + 2);
        }
    }
    if (waysFrom(first) != 1)
        return std::nullopt;
    Users users;
    for (qsizetype start = first;;) {
        const auto [from, to] = reach(start);
        const auto next = std::find_if(from, to, [&](const Candidate& c) {
            return c.ways > 0 && nameOf(start, c).has_value();
        });
        users.holders.append({next->pid, QString::fromUtf8(*nameOf(start, *next))});
        if (hasAt(text, next->close + 1, ")")) {
            users.inode = next->inode;
            return users;
        }
        start = next->close + 2;
    }
}

// The next field of blank-separated text from `at`, which moves past it.
QByteArray nextField(const QByteArray& text, qsizetype& at) {
    while (at < text.size() && isBlank(text[at]))
        ++at;
    const qsizetype start = at;
    while (at < text.size() && !isBlank(text[at]))
        ++at;
    return text.sliced(start, at - start);
}

} // namespace

QList<SsSocket> parseSsListing(const QByteArray& text) {
    // A record starts with its state; a line that does not continues the one
    // before it (a process name with a line break).
    QList<QByteArray> records;
    for (const QByteArray& line : text.split('\n')) {
        if (line.startsWith("LISTEN") || records.isEmpty())
            records.append(line);
        else
            records.last() += '\n' + line;
    }
    QList<SsSocket> sockets;
    for (const QByteArray& record : std::as_const(records)) {
        // State, Recv-Q, Send-Q, local address:port, peer address:port, then
        // the users and the details.
        qsizetype at = 0;
        QByteArray fields[5];
        for (QByteArray& field : fields)
            field = nextField(record, at);
        SsSocket socket;
        if (fields[0] != "LISTEN" || fields[4].isEmpty() || !readLocal(fields[3], socket))
            continue;
        const qsizetype afterPeer = at;
        while (at < record.size() && isBlank(record[at]))
            ++at;
        if (hasAt(record, at, "users:(")) {
            if (const std::optional<Users> users = readUsers(record, at + 7)) {
                socket.holders = users->holders;
                socket.inode = users->inode;
            }
        } else {
            socket.inode = readDetails(record, afterPeer).value_or(0);
        }
        sockets.append(std::move(socket));
    }
    return sockets;
}

QList<ListeningPort> ssRecords(const QList<SsSocket>& sockets, const ScanFilter& filter) {
    QMap<qint64, ListeningPort> byPort;
    for (const SsSocket& socket : sockets) {
        if (!filter.inRange(socket.port))
            continue;
        QList<SsHolder> holders = socket.holders;
        if (holders.isEmpty())
            holders.append(SsHolder{0, QString()});
        for (const SsHolder& holder : std::as_const(holders)) {
            if (!filter.allows(holder.name))
                continue;
            const auto found = byPort.constFind(socket.port);
            const bool better = found == byPort.cend() ||
                                (holder.pid > 0 && (found->pid == 0 || holder.pid < found->pid));
            if (!better)
                continue;
            ListeningPort record;
            record.port = socket.port;
            record.pid = holder.pid;
            record.process = holder.name;
            record.startTime = holder.startTime;
            record.address = socket.address;
            byPort.insert(socket.port, record);
        }
    }
    return byPort.values();
}
