#include "system/procfs.h"

#include "core/integers.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

// The root's descriptor, opened at the first read that needs it; a root that
// cannot be opened is tried again at the next read.
class ProcFs::Folder {
public:
    explicit Folder(QByteArray path) : m_path(std::move(path)) {}
    ~Folder() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    int fd() {
        const std::lock_guard lock(m_lock);
        if (m_fd < 0)
            m_fd = ::open(m_path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        return m_fd;
    }

    // The position in the root's listing of the entry of pid 0, as the system's
    // /proc numbers its entries (pid p at this plus p); -1 until a listing has
    // shown it.
    std::atomic<qint64> listingBase{-1};
    // Whether the root's pids are those of this process's pid namespace:
    // -1 until asked.
    std::atomic<int> ownNamespace{-1};

private:
    std::mutex m_lock;
    QByteArray m_path;
    int m_fd = -1;
};

namespace {

// "<pid>/<leaf>", relative to the root's descriptor.
struct PidPath {
    char text[48];
    PidPath(qint64 pid, const char* leaf) {
        std::snprintf(text, sizeof text, "%lld/%s", static_cast<long long>(pid), leaf);
    }
};

// "0100007F" (IPv4) or 32 hex digits (IPv6): words of 8 digits, each a native
// 32-bit value whose bytes in memory are the address's bytes in order.
std::optional<QString> addressText(QByteArrayView hex) {
    if (hex.size() != 8 && hex.size() != 32)
        return std::nullopt;
    unsigned char bytes[16];
    for (qsizetype word = 0; word < hex.size() / 8; ++word) {
        const auto value = parseHex(hex.sliced(word * 8, 8));
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

// Reads a file of the process file system whole (they report size 0).
std::optional<QByteArray> readAll(int dirFd, const char* path) {
    if (dirFd < 0)
        return std::nullopt;
    const int fd = ::openat(dirFd, path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    QByteArray bytes;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0)
            break;
        bytes.append(buffer, n);
    }
    ::close(fd);
    return bytes;
}

// Reads at most `size` bytes in one call: enough for the small files whose
// first bytes are all that is needed (comm, stat).
ssize_t readSmall(int dirFd, const char* path, char* buffer, size_t size) {
    if (dirFd < 0)
        return -1;
    const int fd = ::openat(dirFd, path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    const ssize_t n = ::read(fd, buffer, size);
    ::close(fd);
    return n;
}

QByteArray readLinkAt(int dirFd, const char* path) {
    if (dirFd < 0)
        return {};
    char target[PATH_MAX];
    const ssize_t n = ::readlinkat(dirFd, path, target, sizeof target);
    if (n <= 0 || n == ssize_t(sizeof target))
        return {};
    return QByteArray(target, n);
}

// A folder of the root read on a descriptor of its own, so that listings on
// other threads do not share its position.
DIR* openListing(int root) {
    if (root < 0)
        return nullptr;
    const int fd = ::openat(root, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    DIR* dir = ::fdopendir(fd);
    if (!dir)
        ::close(fd);
    return dir;
}

// The pid an entry of the root names; 0 for the other entries.
qint64 entryPid(const char* name) {
    if (name[0] < '1' || name[0] > '9')
        return 0;
    qint64 pid = 0;
    for (; *name >= '0' && *name <= '9'; ++name)
        pid = pid * 10 + (*name - '0');
    return *name == '\0' ? pid : 0;
}

// The last decimal number of a small file ("... 1/234 5678" of loadavg).
std::optional<qint64> lastNumber(int root, const char* path) {
    char text[256];
    const ssize_t n = readSmall(root, path, text, sizeof text);
    if (n <= 0)
        return std::nullopt;
    QByteArrayView view = QByteArrayView(text, n).trimmed();
    const qsizetype space = std::max(view.lastIndexOf(' '), view.lastIndexOf('/'));
    const auto value = parseDecimal(view.sliced(space + 1));
    return value ? std::optional<qint64>(qint64(*value)) : std::nullopt;
}

} // namespace

ProcessNameFile::~ProcessNameFile() {
    if (m_fd >= 0)
        ::close(m_fd);
}

ProcessNameFile& ProcessNameFile::operator=(ProcessNameFile&& other) noexcept {
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

qsizetype ProcessNameFile::read(char* buffer, qsizetype size) const {
    if (m_fd < 0 || size <= 0)
        return -1;
    const ssize_t n = ::pread(m_fd, buffer, size_t(size), 0);
    if (n <= 0)
        return -1;
    return buffer[n - 1] == '\n' ? n - 1 : n;
}

ProcFs::ProcFs(QString root)
    : m_root(std::move(root)), m_folder(std::make_shared<Folder>(QFile::encodeName(m_root))) {}

int ProcFs::folder() const {
    return m_folder->fd();
}

std::vector<qint64> ProcFs::pids() const {
    std::vector<qint64> pids;
    for (const PidEntry& entry : pidEntries())
        pids.push_back(entry.pid);
    return pids;
}

std::vector<PidEntry> ProcFs::pidEntries() const {
    std::vector<PidEntry> entries;
    DIR* dir = openListing(folder());
    if (!dir)
        return entries;
    // The system's /proc places pid p at a fixed base plus p, and gives each
    // entry the place of the one after it: learnt here for listings of a
    // range, from a listing that shows it throughout (a process that exits
    // between two reads of the listing shows another place once).
    qint64 base = isSystem() ? -1 : -2;
    qint64 previousPlace = -1;
    while (const dirent* entry = ::readdir(dir)) {
        const qint64 pid = entryPid(entry->d_name);
        if (pid == 0)
            continue;
        entries.push_back({pid, quint64(entry->d_ino)});
        if (previousPlace >= 0) {
            const qint64 place = previousPlace - pid;
            if (base == -1)
                base = place;
            else if (base >= 0 && place != base)
                base = -2;
        }
        previousPlace = qint64(entry->d_off);
    }
    ::closedir(dir);
    std::sort(entries.begin(), entries.end(),
              [](const PidEntry& a, const PidEntry& b) { return a.pid < b.pid; });
    if (base >= 0)
        m_folder->listingBase = base;
    return entries;
}

std::vector<PidEntry> ProcFs::pidEntries(qint64 first, qint64 last) const {
    const auto inRange = [first, last](const PidEntry& e) {
        return e.pid >= first && e.pid <= last;
    };
    const qint64 base = m_folder->listingBase;
    if (base < 0 || first > last) {
        std::vector<PidEntry> entries = pidEntries();
        entries.erase(std::remove_if(entries.begin(), entries.end(),
                                     [&](const PidEntry& e) { return !inRange(e); }),
                      entries.end());
        return entries;
    }
    std::vector<PidEntry> entries;
    const int root = folder();
    const int fd = root < 0 ? -1 : ::openat(root, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return entries;
    // The kernel makes an entry for every process it puts into the buffer:
    // a small one, read again while the range lasts, costs the range.
    alignas(8) char buffer[1024];
    bool more = ::lseek(fd, off_t(base + std::max<qint64>(first, 1)), SEEK_SET) >= 0;
    while (more) {
        const long n = ::syscall(SYS_getdents64, fd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        for (long at = 0; at < n;) {
            const auto* entry = reinterpret_cast<const dirent64*>(buffer + at);
            at += entry->d_reclen;
            const qint64 pid = entryPid(entry->d_name);
            if (pid == 0 || pid > last) {
                more = false;
                break;
            }
            if (pid >= first)
                entries.push_back({pid, quint64(entry->d_ino)});
        }
    }
    ::close(fd);
    return entries;
}

std::optional<qint64> ProcFs::lastPid() const {
    const int root = folder();
    if (m_folder->ownNamespace < 0) {
        // "self" names this process in the pid namespace of the root's processes.
        const QByteArray self = readLinkAt(root, "self");
        m_folder->ownNamespace = self == QByteArray::number(qint64(::getpid())) ? 1 : 0;
    }
    if (m_folder->ownNamespace == 0)
        return std::nullopt;
    return lastNumber(root, "loadavg");
}

std::optional<qint64> ProcFs::pidMax() const {
    return lastNumber(folder(), "sys/kernel/pid_max");
}

std::optional<quint64> ProcFs::forks() const {
    const auto stat = readAll(folder(), "stat");
    if (!stat)
        return std::nullopt;
    constexpr QByteArrayView key("\nprocesses ");
    const qsizetype at = stat->indexOf(key);
    if (at < 0)
        return std::nullopt;
    const qsizetype start = at + key.size();
    const qsizetype end = stat->indexOf('\n', start);
    return parseDecimal(
        QByteArrayView(*stat).sliced(start, (end < 0 ? stat->size() : end) - start));
}

std::optional<QByteArray> ProcFs::comm(qint64 pid) const {
    char buffer[64];
    const qsizetype length = comm(pid, buffer, sizeof buffer);
    if (length < 0)
        return std::nullopt;
    return QByteArray(buffer, length);
}

qsizetype ProcFs::comm(qint64 pid, char* buffer, qsizetype size) const {
    if (pid <= 0 || size <= 0)
        return -1;
    const ssize_t n = readSmall(folder(), PidPath(pid, "comm").text, buffer, size_t(size));
    if (n <= 0)
        return -1;
    return buffer[n - 1] == '\n' ? n - 1 : n;
}

QByteArray ProcFs::exeName(qint64 pid) const {
    if (pid <= 0)
        return {};
    QByteArray path = readLinkAt(folder(), PidPath(pid, "exe").text);
    constexpr QByteArrayView deleted(" (deleted)");
    if (path.endsWith(deleted))
        path.chop(deleted.size());
    return path.mid(path.lastIndexOf('/') + 1);
}

QByteArrayView ProcFs::readStat(qint64 pid, char* buffer, size_t size) const {
    if (pid <= 0)
        return {};
    const ssize_t n = readSmall(folder(), PidPath(pid, "stat").text, buffer, size);
    return n > 0 ? QByteArrayView(buffer, n) : QByteArrayView();
}

std::optional<quint64> ProcFs::startTime(qint64 pid) const {
    char buffer[1024];
    const QByteArrayView stat = readStat(pid, buffer, sizeof buffer);
    if (stat.isEmpty())
        return std::nullopt;
    return startTimeFromStat(stat);
}

std::optional<uint> ProcFs::owner(qint64 pid) const {
    const int root = folder();
    if (pid <= 0 || root < 0)
        return std::nullopt;
    char name[24];
    std::snprintf(name, sizeof name, "%lld", static_cast<long long>(pid));
    struct stat info {};
    if (::fstatat(root, name, &info, 0) != 0)
        return std::nullopt;
    return info.st_uid;
}

bool ProcFs::isZombie(qint64 pid) const {
    char buffer[1024];
    const QByteArrayView stat = readStat(pid, buffer, sizeof buffer);
    return !stat.isEmpty() && stateFromStat(stat) == 'Z';
}

std::optional<ProcessStat> ProcFs::stat(qint64 pid) const {
    char buffer[1024];
    const QByteArrayView stat = readStat(pid, buffer, sizeof buffer);
    if (stat.isEmpty())
        return std::nullopt;
    return processStatFrom(stat);
}

ProcessNameFile ProcFs::openName(qint64 pid) const {
    const int root = folder();
    if (pid <= 0 || root < 0 || !isSystem())
        return {};
    return ProcessNameFile(::openat(root, PidPath(pid, "comm").text, O_RDONLY | O_CLOEXEC));
}

std::optional<QByteArray> ProcFs::cmdline(qint64 pid) const {
    if (pid <= 0)
        return std::nullopt;
    return readAll(folder(), PidPath(pid, "cmdline").text);
}

QString ProcFs::cwd(qint64 pid) const {
    if (pid <= 0)
        return {};
    return QFile::decodeName(readLinkAt(folder(), PidPath(pid, "cwd").text));
}

bool ProcFs::forEachSocketInode(qint64 pid, const std::function<bool(quint64)>& found) const {
    return forEachSocket(pid, [&found](int, quint64 inode) { return found(inode); });
}

bool ProcFs::forEachSocket(qint64 pid, const std::function<bool(int, quint64)>& found) const {
    const int root = folder();
    if (pid <= 0 || root < 0)
        return false;
    const int fdFolder =
        ::openat(root, PidPath(pid, "fd").text, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fdFolder < 0)
        return false;
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
        const auto inode = parseDecimal(link.sliced(prefix.size(), n - prefix.size() - 1));
        const auto fd = parseDecimal(QByteArrayView(entry->d_name));
        if (inode && fd && *fd <= quint64(INT_MAX) && !found(int(*fd), *inode))
            break;
    }
    ::closedir(dir);
    return true;
}

bool ProcFs::holdsSocketAt(qint64 pid, int fd, quint64 inode) const {
    if (pid <= 0 || fd < 0)
        return false;
    char path[64];
    std::snprintf(path, sizeof path, "%lld/fd/%d", static_cast<long long>(pid), fd);
    char target[64];
    const ssize_t n = ::readlinkat(folder(), path, target, sizeof target);
    char expected[64];
    const int length = std::snprintf(expected, sizeof expected, "socket:[%llu]",
                                     static_cast<unsigned long long>(inode));
    return n == length && std::memcmp(target, expected, size_t(n)) == 0;
}

QSet<quint64> ProcFs::socketInodes(qint64 pid) const {
    QSet<quint64> inodes;
    forEachSocketInode(pid, [&](quint64 inode) {
        inodes.insert(inode);
        return true;
    });
    return inodes;
}

std::optional<QList<ListeningSocket>> ProcFs::socketTables(QString* error) const {
    const int root = folder();
    const auto v4 = readAll(root, "net/tcp");
    if (!v4) {
        if (error)
            *error = QStringLiteral("%1/net/tcp cannot be read; is /proc mounted?").arg(m_root);
        return std::nullopt;
    }
    QList<ListeningSocket> sockets = parseSocketTable(*v4);
    if (const auto v6 = readAll(root, "net/tcp6"))
        sockets.append(parseSocketTable(*v6));
    return sockets;
}

std::optional<QList<ListeningSocket>> ProcFs::listeningSockets(QString* error) const {
    // The socket diagnostics answer for the real /proc at a fraction of the
    // tables' cost; the tables are the fallback, and the only source under
    // another root. Where /proc/net/tcp is missing, so is /proc.
    if (isSystem() && ::faccessat(folder(), "net/tcp", R_OK, 0) == 0) {
        if (auto sockets = queryListeningSockets())
            return sockets;
    }
    return socketTables(error);
}

bool ProcFs::holdsListeningSocket(qint64 pid, qint64 port) const {
    const auto sockets = listeningSockets();
    if (!sockets)
        return false;
    QSet<quint64> onPort;
    for (const ListeningSocket& s : *sockets) {
        if (s.port == port)
            onPort.insert(s.inode);
    }
    if (onPort.isEmpty())
        return false;
    bool holds = false;
    forEachSocketInode(pid, [&](quint64 inode) {
        holds = onPort.contains(inode);
        return !holds;
    });
    return holds;
}

std::optional<qint64> ProcFs::bootTime() const {
    const auto stat = readAll(folder(), "stat");
    if (!stat)
        return std::nullopt;
    for (const QByteArray& line : stat->split('\n')) {
        if (!line.startsWith("btime "))
            continue;
        const auto seconds = parseDecimal(QByteArrayView(line).sliced(6).trimmed());
        if (seconds)
            return qint64(*seconds);
    }
    return std::nullopt;
}

char stateFromStat(QByteArrayView stat) {
    // The command name in field 2 may hold spaces and parentheses: the state
    // follows its last ")" and one space.
    const qsizetype close = stat.lastIndexOf(')');
    if (close < 0 || close + 2 >= stat.size() || stat[close + 1] != ' ')
        return 0;
    return stat[close + 2];
}

std::optional<quint64> startTimeFromStat(QByteArrayView stat) {
    const qsizetype close = stat.lastIndexOf(')');
    if (close < 0)
        return std::nullopt;
    // After ") " come field 3 (state) onwards; the start time is field 22,
    // the twentieth of them.
    int field = 3;
    qsizetype pos = close + 1;
    while (pos < stat.size()) {
        while (pos < stat.size() && stat[pos] == ' ')
            ++pos;
        const qsizetype start = pos;
        while (pos < stat.size() && stat[pos] != ' ' && stat[pos] != '\n')
            ++pos;
        if (pos == start)
            break;
        if (field == 22) {
            bool ok = false;
            const quint64 value = stat.sliced(start, pos - start).toULongLong(&ok);
            return ok ? std::optional<quint64>(value) : std::nullopt;
        }
        ++field;
    }
    return std::nullopt;
}

std::optional<ProcessStat> processStatFrom(QByteArrayView stat) {
    const qsizetype open = stat.indexOf('(');
    const qsizetype close = stat.lastIndexOf(')');
    if (open < 0 || close < open)
        return std::nullopt;
    const auto startTime = startTimeFromStat(stat);
    if (!startTime)
        return std::nullopt;
    // After ") " come the state and the parent's pid.
    QByteArrayView rest = stat.sliced(close + 1).trimmed();
    const qsizetype state = rest.indexOf(' ');
    if (state < 0)
        return std::nullopt;
    rest = rest.sliced(state + 1);
    const auto parent = parseDecimal(rest.first(std::max<qsizetype>(rest.indexOf(' '), 0)));
    if (!parent)
        return std::nullopt;
    return ProcessStat{stat.sliced(open + 1, close - open - 1).toByteArray(), *startTime,
                       qint64(*parent)};
}

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
        const auto port = parseHex(local.sliced(colon + 1));
        const auto uid = parseDecimal(fields[7]);
        const auto inode = parseDecimal(fields[9]);
        // A uid is 32 bits wide; anything wider is not the kernel's text.
        if (!address || !port || *port == 0 || !uid || *uid > 0xffffffffU || !inode || *inode == 0)
            continue;
        sockets.append({*inode, qint64(*port), *address, qint64(*uid)});
    }
    return sockets;
}

namespace {

// Sends one dump request for `family`'s listening TCP sockets and appends the
// answers to it. False when the request or an answer fails.
bool dumpListening(int fd, int family, quint32 sequence, std::vector<RawListeningSocket>& sockets) {
    struct {
        nlmsghdr header;
        inet_diag_req_v2 body;
    } request{};
    request.header.nlmsg_len = sizeof request;
    request.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.header.nlmsg_seq = sequence;
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
            if (header->nlmsg_seq != sequence)
                continue; // left over from a dump that failed
            if (header->nlmsg_type == NLMSG_DONE)
                return true;
            if (header->nlmsg_type == NLMSG_ERROR)
                return false;
            if (header->nlmsg_type != SOCK_DIAG_BY_FAMILY ||
                header->nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg)))
                continue;
            const auto* message = static_cast<const inet_diag_msg*>(NLMSG_DATA(header));
            const qint64 port = ntohs(message->id.idiag_sport);
            if (message->idiag_state != TCP_LISTEN || port == 0 || message->idiag_inode == 0 ||
                (message->idiag_family != AF_INET && message->idiag_family != AF_INET6))
                continue;
            RawListeningSocket& socket = sockets.emplace_back();
            socket.inode = message->idiag_inode;
            socket.port = port;
            socket.uid = qint64(message->idiag_uid);
            socket.family = message->idiag_family;
            std::memcpy(socket.address, message->id.idiag_src,
                        socket.family == AF_INET ? 4 : sizeof socket.address);
        }
    }
}

} // namespace

QString RawListeningSocket::addressText() const {
    char text[INET6_ADDRSTRLEN];
    if (!inet_ntop(family, address, text, sizeof text))
        return {};
    return QString::fromLatin1(text);
}

SocketDiagnostics::~SocketDiagnostics() {
    if (m_fd >= 0)
        ::close(m_fd);
}

bool SocketDiagnostics::listening(std::vector<RawListeningSocket>& sockets) {
    sockets.clear();
    if (m_fd < 0)
        m_fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
    if (m_fd < 0)
        return false;
    static std::atomic<quint32> sequence{0};
    if (dumpListening(m_fd, AF_INET, ++sequence, sockets) &&
        dumpListening(m_fd, AF_INET6, ++sequence, sockets))
        return true;
    // What is left of a failed dump is not read: the next one asks anew.
    ::close(std::exchange(m_fd, -1));
    sockets.clear();
    return false;
}

std::optional<QList<ListeningSocket>> queryListeningSockets() {
    std::vector<RawListeningSocket> raw;
    if (!SocketDiagnostics().listening(raw))
        return std::nullopt;
    QList<ListeningSocket> sockets;
    sockets.reserve(qsizetype(raw.size()));
    for (const RawListeningSocket& s : raw) {
        QString address = s.addressText();
        if (!address.isEmpty())
            sockets.append({s.inode, s.port, std::move(address), s.uid});
    }
    return sockets;
}
