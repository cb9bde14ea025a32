#include "sources/ssh/ss_listing.h"

#include <QMap>

#include <algorithm>

namespace {

// "\\" and "\ooo" decoded; other text, and a backslash before anything else,
// stays as it is.
QByteArray unescaped(const QByteArray& text) {
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
            const QByteArray digits = text.mid(i + 1, 3);
            const bool octal = std::all_of(digits.begin(), digits.end(),
                                           [](char d) { return d >= '0' && d <= '7'; });
            if (octal && digits[0] <= '3') {
                out += char(digits.toInt(nullptr, 8));
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

// `users:(("node",pid=1,fd=3),("worker",pid=2,fd=3))`, from its start.
QList<SsHolder> readHolders(const QByteArray& text) {
    QList<SsHolder> holders;
    static const QByteArray open = "(\"";
    static const QByteArray close = "\",pid=";
    qsizetype at = text.indexOf("users:((");
    if (at < 0)
        return holders;
    at += 7; // at the "(" of the first entry
    while (text.mid(at, 2) == open) {
        const qsizetype nameStart = at + 2;
        // A name may hold quotes: it ends at the first "\",pid=".
        const qsizetype nameEnd = text.indexOf(close, nameStart);
        if (nameEnd < 0)
            break;
        const qsizetype digits = nameEnd + close.size();
        qsizetype end = digits;
        while (end < text.size() && text[end] >= '0' && text[end] <= '9')
            ++end;
        bool ok = false;
        const qint64 pid = text.mid(digits, end - digits).toLongLong(&ok);
        if (!ok || pid <= 0)
            break;
        holders.append({pid, QString::fromUtf8(unescaped(text.mid(nameStart, nameEnd - nameStart)))});
        const qsizetype entryEnd = text.indexOf(')', end);
        if (entryEnd < 0)
            break;
        at = entryEnd + 1;
        if (at < text.size() && text[at] == ',')
            ++at;
        else
            break;
    }
    return holders;
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
        // State, Recv-Q, Send-Q, local address:port, peer address:port, then the users.
        const QList<QByteArray> fields = record.simplified().split(' ');
        if (fields.size() < 5 || fields[0] != "LISTEN")
            continue;
        SsSocket socket;
        if (!readLocal(fields[3], socket))
            continue;
        socket.holders = readHolders(record);
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
            record.address = socket.address;
            byPort.insert(socket.port, record);
        }
    }
    return byPort.values();
}
