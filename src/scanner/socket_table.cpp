#include "scanner/socket_table.h"

#include <QByteArray>
#include <QFile>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

std::optional<quint64> hexNumber(QByteArrayView text) {
    if (text.isEmpty() || text.size() > 16)
        return std::nullopt;
    quint64 value = 0;
    for (char c : text) {
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else
            return std::nullopt;
        value = value << 4 | quint64(digit);
    }
    return value;
}

std::optional<quint64> decimalNumber(QByteArrayView text) {
    if (text.isEmpty() || text.size() > 19)
        return std::nullopt;
    quint64 value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + quint64(c - '0');
    }
    return value;
}

// "0100007F" (IPv4) or 32 hex digits (IPv6): words of 8 digits, each a native
// 32-bit value whose bytes in memory are the address's bytes in order.
std::optional<QString> addressText(QByteArrayView hex) {
    if (hex.size() != 8 && hex.size() != 32)
        return std::nullopt;
    unsigned char bytes[16];
    for (qsizetype word = 0; word < hex.size() / 8; ++word) {
        const auto value = hexNumber(hex.sliced(word * 8, 8));
        if (!value)
            return std::nullopt;
        const quint32 native = quint32(*value);
        std::memcpy(bytes + word * 4, &native, 4);
    }
    char text[INET6_ADDRSTRLEN];
    const int family = hex.size() == 8 ? AF_INET : AF_INET6;
    if (!inet_ntop(family, bytes, text, sizeof text))
        return std::nullopt;
    return QString::fromLatin1(text);
}

QByteArray readSmallFile(const QString& path, bool* ok) {
    QFile file(path);
    *ok = file.open(QIODevice::ReadOnly);
    // /proc files report size 0; read to the end.
    return *ok ? file.readAll() : QByteArray();
}

} // namespace

QList<ListeningSocket> parseSocketTable(QByteArrayView text) {
    QList<ListeningSocket> sockets;
    QByteArrayView fields[10];
    qsizetype lineStart = 0;
    bool header = true;
    while (lineStart < text.size()) {
        qsizetype lineEnd = text.indexOf('\n', lineStart);
        if (lineEnd < 0)
            lineEnd = text.size();
        const QByteArrayView line = text.sliced(lineStart, lineEnd - lineStart);
        lineStart = lineEnd + 1;
        if (std::exchange(header, false))
            continue;

        // sl local_address rem_address st tx:rx tr:when retrnsmt uid timeout inode ...
        int count = 0;
        qsizetype pos = 0;
        while (count < 10 && pos < line.size()) {
            while (pos < line.size() && line[pos] == ' ')
                ++pos;
            const qsizetype start = pos;
            while (pos < line.size() && line[pos] != ' ')
                ++pos;
            if (pos > start)
                fields[count++] = line.sliced(start, pos - start);
        }
        if (count < 10 || fields[3] != "0A")
            continue;
        const QByteArrayView local = fields[1];
        const qsizetype colon = local.indexOf(':');
        if (colon < 0 || local.size() - colon - 1 != 4)
            continue;
        const auto address = addressText(local.first(colon));
        const auto port = hexNumber(local.sliced(colon + 1));
        const auto uid = decimalNumber(fields[7]);
        const auto inode = decimalNumber(fields[9]);
        if (!address || !port || *port == 0 || !uid || !inode || *inode == 0)
            continue;
        sockets.append({*inode, qint64(*port), *address, qint64(*uid)});
    }
    return sockets;
}

std::optional<QList<ListeningSocket>> readListeningSockets(const QString& procRoot,
                                                           QString* error) {
    bool ok = false;
    const QByteArray v4 = readSmallFile(procRoot + QStringLiteral("/net/tcp"), &ok);
    if (!ok) {
        if (error)
            *error = QStringLiteral("%1/net/tcp cannot be read; is /proc mounted?").arg(procRoot);
        return std::nullopt;
    }
    QList<ListeningSocket> sockets = parseSocketTable(v4);
    const QByteArray v6 = readSmallFile(procRoot + QStringLiteral("/net/tcp6"), &ok);
    if (ok)
        sockets.append(parseSocketTable(v6));
    return sockets;
}

namespace {

// Sends one dump request for `family`'s listening TCP sockets and appends the
// answers. False when the request or an answer fails.
bool dumpListening(int fd, int family, QList<ListeningSocket>& sockets) {
    struct {
        nlmsghdr header;
        inet_diag_req_v2 body;
    } request{};
    request.header.nlmsg_len = sizeof request;
    request.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.header.nlmsg_seq = quint32(family);
    request.body.sdiag_family = quint8(family);
    request.body.sdiag_protocol = IPPROTO_TCP;
    request.body.idiag_states = 1u << TCP_LISTEN;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (::sendto(fd, &request, sizeof request, 0, reinterpret_cast<sockaddr*>(&kernel),
                 sizeof kernel) != ssize_t(sizeof request))
        return false;

    alignas(nlmsghdr) char buffer[32 * 1024];
    for (;;) {
        const ssize_t received = ::recv(fd, buffer, sizeof buffer, 0);
        if (received < 0 && errno == EINTR)
            continue;
        if (received <= 0)
            return false;
        size_t offset = 0;
        while (offset + sizeof(nlmsghdr) <= size_t(received)) {
            const auto* header = reinterpret_cast<const nlmsghdr*>(buffer + offset);
            if (header->nlmsg_len < sizeof(nlmsghdr) ||
                offset + header->nlmsg_len > size_t(received))
                return false;
            offset += NLMSG_ALIGN(header->nlmsg_len);
            if (header->nlmsg_type == NLMSG_DONE)
                return true;
            if (header->nlmsg_type == NLMSG_ERROR)
                return false;
            if (header->nlmsg_type != SOCK_DIAG_BY_FAMILY ||
                header->nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg)))
                continue;
            const auto* message = static_cast<const inet_diag_msg*>(NLMSG_DATA(header));
            const qint64 port = ntohs(message->id.idiag_sport);
            if (message->idiag_state != TCP_LISTEN || port == 0 || message->idiag_inode == 0)
                continue;
            char text[INET6_ADDRSTRLEN];
            if (!inet_ntop(message->idiag_family, message->id.idiag_src, text, sizeof text))
                continue;
            sockets.append({message->idiag_inode, port, QString::fromLatin1(text),
                            qint64(message->idiag_uid)});
        }
    }
}

} // namespace

std::optional<QList<ListeningSocket>> queryListeningSockets() {
    const int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
    if (fd < 0)
        return std::nullopt;
    QList<ListeningSocket> sockets;
    const bool ok = dumpListening(fd, AF_INET, sockets) && dumpListening(fd, AF_INET6, sockets);
    ::close(fd);
    if (!ok)
        return std::nullopt;
    return sockets;
}

bool forEachSocketInode(int fdFolder, const std::function<bool(quint64)>& found) {
    DIR* dir = ::fdopendir(fdFolder);
    if (!dir) {
        ::close(fdFolder);
        return false;
    }
    constexpr QByteArrayView prefix("socket:[");
    char target[64];
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        const ssize_t n = ::readlinkat(fdFolder, entry->d_name, target, sizeof target);
        if (n <= qsizetype(prefix.size()) + 1 || n == ssize_t(sizeof target))
            continue;
        const QByteArrayView link(target, n);
        if (!link.startsWith(prefix) || !link.endsWith(']'))
            continue;
        const auto inode = decimalNumber(link.sliced(prefix.size(), n - prefix.size() - 1));
        if (inode && !found(*inode))
            break;
    }
    ::closedir(dir);
    return true;
}

QSet<quint64> socketInodesOf(qint64 pid, const QString& procRoot) {
    QSet<quint64> inodes;
    if (pid <= 0)
        return inodes;
    const QByteArray path =
        (procRoot + u'/' + QString::number(pid) + QStringLiteral("/fd")).toLocal8Bit();
    const int fdFolder = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fdFolder >= 0)
        forEachSocketInode(fdFolder, [&](quint64 inode) {
            inodes.insert(inode);
            return true;
        });
    return inodes;
}

bool holdsListeningSocket(qint64 pid, qint64 port, const QString& procRoot) {
    const auto sockets = readListeningSockets(procRoot);
    if (!sockets)
        return false;
    QSet<quint64> onPort;
    for (const ListeningSocket& s : *sockets) {
        if (s.port == port)
            onPort.insert(s.inode);
    }
    if (onPort.isEmpty())
        return false;
    return socketInodesOf(pid, procRoot).intersects(onPort);
}
